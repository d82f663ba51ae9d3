#!/bin/sh
# Static checks of the sources: ruff (lint and format) over the Python files,
# clang-format over the C++ files, then clang-tidy over the C++ sources with the
# compile database (about a minute on two cores). `--fast` stops before
# clang-tidy; scripts/run_tests.sh runs that part first.
# PYTHON selects the interpreter whose tools are used (default: python3); a
# missing tool is installed from PyPI (the same release series as the test extra).
set -eu
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"
fast=no
[ "${1:-}" = "--fast" ] && fast=yes

tools=$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_path("scripts"))')
require() {
    [ -x "$tools/$1" ] || "$PYTHON" -m pip install -q "$2"
}
cpp_files() {
    find src tests -name '*.cpp' -o -name '*.hpp' | sort
}

require ruff "ruff>=0.17.6,<0.18"
require clang-format "clang-format>=23.1,<24"
"$tools/ruff" check --quiet .
"$tools/ruff" format --check --quiet .
cpp_files | xargs "$tools/clang-format" --dry-run -Werror
echo "lint: ruff and clang-format clean"
[ "$fast" = yes ] && exit 0

require clang-tidy "clang-tidy>=23.1,<24"
build="build/lint"
tests=OFF
[ -f /usr/include/gtest/gtest.h ] && tests=ON
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DPWPOLY_BUILD_TESTS="$tests" \
    -DPython_EXECUTABLE="$("$PYTHON" -c 'import sys; print(sys.executable)')" >/dev/null
# Every translation unit of the compile database; headers of this project only.
"$PYTHON" -c 'import json, sys; print("\n".join(sorted(e["file"] for e in json.load(open(sys.argv[1])))))' \
    "$build/compile_commands.json" |
    xargs -P "$(nproc)" -n 1 "$tools/clang-tidy" -p "$build" --quiet \
        --header-filter="^$(pwd)/(src|tests)/"
echo "lint: clang-tidy clean"
