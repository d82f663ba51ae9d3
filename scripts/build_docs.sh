#!/bin/sh
# Builds the documentation into docs/_build/html: installs the package with
# its docs extra into a virtual environment of its own (build/docs-venv, made
# once), runs the examples of the gallery and treats every Sphinx warning as
# an error. The build needs no network once the environment exists.
# PYTHON selects the interpreter that makes the environment (default: python3).
set -eu
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"
venv="build/docs-venv"

[ -x "$venv/bin/python" ] || "$PYTHON" -m venv "$venv"
"$venv/bin/python" -m pip install -q ".[docs]"

# A clean state: the gallery's generated pages and the previous HTML.
rm -rf docs/_build docs/auto_examples docs/sg_execution_times.rst
MPLBACKEND=Agg "$venv/bin/python" -m sphinx -b html -W --keep-going -q docs docs/_build/html
echo "docs: docs/_build/html/index.html"
