#!/bin/sh
# Installs what the tests need, runs the fast static checks, then every test:
# the C++ tests of the core (GoogleTest through CTest) and the Python tests of
# the module.
# PYTHON selects the interpreter (default: python3).
set -eu
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"

# GoogleTest for the C++ tests comes from the system's packages.
if [ ! -f /usr/include/gtest/gtest.h ]; then
    if command -v apt-get >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
        apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null
    else
        echo "GoogleTest is missing: install libgtest-dev" >&2
        exit 1
    fi
fi

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
