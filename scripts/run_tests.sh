#!/bin/sh
# Installs what the tests need, runs the fast static checks, then every test:
# the C++ tests of the core (GoogleTest through CTest) and the Python tests of
# the module.
# PYTHON selects the interpreter (default: python3).
set -eu
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"

sh scripts/ensure_gtest.sh

# Fast static checks first: ruff and clang-format (clang-tidy: scripts/lint.sh).
PYTHON="$PYTHON" sh scripts/lint.sh --fast

"$PYTHON" -m pip install -q ".[test]"

build="build/cpp-tests"
cmake -S . -B "$build" -G Ninja -DPWPOLY_BUILD_BINDING=OFF -DPWPOLY_BUILD_TESTS=ON >/dev/null
cmake --build "$build"
# Not piped into tail: a pipe would hide the exit status of ctest.
ctest --test-dir "$build" --output-on-failure -j 2 >"$build/ctest.log" ||
    { cat "$build/ctest.log"; exit 1; }
tail -n 3 "$build/ctest.log"

"$PYTHON" -m pytest -q
