"""Sphinx configuration of pwpoly's documentation (Markdown sources, MyST)."""

from __future__ import annotations

import os
import re
import sys
from pathlib import Path

DOCS = Path(__file__).resolve().parent
ROOT = DOCS.parent
sys.path.insert(0, str(DOCS / "_ext"))

# The examples draw without a display.
os.environ.setdefault("MPLBACKEND", "Agg")

project = "pwpoly"
author = "The pwpoly developers"
copyright = "The pwpoly developers"
release = version = "0.1.0"

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.mathjax",
    "sphinx_gallery.gen_gallery",
    "stub_reference",
]

source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
root_doc = "index"
exclude_patterns = ["_build", "auto_examples/*.ipynb", "auto_examples/*.py", "auto_examples/*.zip"]
myst_enable_extensions = ["colon_fence", "dollarmath"]
myst_heading_anchors = 3
suppress_warnings = ["myst.header"]

# The docstrings of pwpoly_numpy are written in NumPy's style.
napoleon_google_docstring = False
napoleon_numpy_docstring = True
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_preserve_defaults = True

html_theme = "furo"
html_title = "pwpoly"
html_static_path: list[str] = []


sphinx_gallery_conf = {
    "examples_dirs": str(ROOT / "examples"),
    "gallery_dirs": "auto_examples",
    # Every example runs, not only the plot_* ones.
    "filename_pattern": r".*\.py$",
    "image_scrapers": ("gallery_pictures.scrape_written_pictures",),
    "download_all_examples": False,
    "remove_config_comments": True,
    "abort_on_example_error": True,
    "only_warn_on_example_error": False,
    "within_subsection_order": "FileNameSortKey",
}


def _escape_stars(app, what, name, obj, options, lines):  # type: ignore[no-untyped-def]
    """The docstrings write shapes as (N, *shape) and powers as 2**31, plain
    text for help(); outside ``literals`` their stars are escaped, so that
    reStructuredText does not read them as emphasis."""
    for index, line in enumerate(lines):
        parts = line.split("``")
        for part in range(0, len(parts), 2):
            parts[part] = re.sub(r"(?<!\\)\*", r"\\*", parts[part])
        lines[index] = "``".join(parts)


def setup(app):  # type: ignore[no-untyped-def]
    app.connect("autodoc-process-docstring", _escape_stars, priority=400)
