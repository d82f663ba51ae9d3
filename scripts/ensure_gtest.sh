#!/bin/sh
# Makes sure GoogleTest, which the C++ tests of the core use, is installed:
# from the system's packages when it is missing (needs root and apt-get).
set -eu
[ -f /usr/include/gtest/gtest.h ] && exit 0
if command -v apt-get >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
    apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null
else
    echo "GoogleTest is missing: install libgtest-dev" >&2
    exit 1
fi
