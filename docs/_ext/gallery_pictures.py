"""Gallery scraper for examples that write their figures as PNG files.

The examples are plain scripts that save their figures into the folder they
run in (the gallery runs each in its own folder, examples/). After each code
block, every PNG file there is moved into the gallery's image folder, in name
order, and shown under the block.
"""

from __future__ import annotations

import shutil
from pathlib import Path
from typing import Any

from sphinx_gallery.scrapers import figure_rst


def scrape_written_pictures(
    block: Any, block_vars: dict[str, Any], gallery_conf: dict[str, Any]
) -> str:
    folder = Path(block_vars["src_file"]).parent
    names = []
    for path, target in zip(sorted(folder.glob("*.png")), block_vars["image_path_iterator"]):
        shutil.move(str(path), target)
        names.append(target)
    return figure_rst(names, gallery_conf["src_dir"])
