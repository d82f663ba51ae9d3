#!/bin/sh
# Builds the extension module and the C++ tests of the core with
# AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer, runs
# the C++ tests, then the whole Python suite against the sanitized module in
# the stock interpreter with the sanitizer runtime preloaded. Fails on any
# test failure and on any sanitizer report. PYTHON selects the interpreter
# (default: python3).
set -eu
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"
root=$(pwd)

sh scripts/ensure_gtest.sh

# The interpreter binary itself, not a launcher script: a pyenv shim is a
# shell script, and every program started under the preloaded runtime is
# checked.
python=$("$PYTHON" -c 'import sys; print(sys.executable)')
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
build="$root/build/sanitized/$version"
reports="$build/reports"
mkdir -p "$build"

# A virtual environment with nothing but the test tools, so that no other
# extension module (with leaks of its own) is loaded into the run.
venv="$build/venv"
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -c "import pytest, hypothesis" 2>/dev/null ||
    "$venv/bin/python" -m pip install -q "pytest>=7" "hypothesis>=6"

# Runs a command quietly, showing its whole output only if it fails.
quietly() {
    "$@" >"$build/step.log" 2>&1 || { cat "$build/step.log"; return 1; }
}

echo "== CPython $version: building with -fsanitize=address,undefined"
quietly cmake -S . -B "$build/cmake" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPWPOLY_SANITIZE=address,undefined -DPWPOLY_BUILD_TESTS=ON \
    -DPython_EXECUTABLE="$python"
quietly cmake --build "$build/cmake"

rm -rf "$reports"
mkdir -p "$reports"
# Reports go to files, one per process named after the program, where the
# output capture of the tests cannot swallow them.
ASAN_OPTIONS="detect_leaks=1:log_path=$reports/asan:log_exe_name=1"
# The interpreter does not free everything at exit; its leaks are told apart
# from the module's by the interpreter code that allocated them.
LSAN_OPTIONS="suppressions=$root/scripts/lsan_suppressions.txt:print_suppressions=0"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan:log_exe_name=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

# A failure of either suite is reported after both have run, together with
# the sanitizer reports.
status=0
echo "== C++ tests of the core"
quietly ctest --test-dir "$build/cmake" --output-on-failure -j 2 || status=$?
tail -n 3 "$build/step.log"

echo "== Python tests against the sanitized module"
sanitized() {
    env LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)" \
        PYTHONMALLOC=malloc \
        PYTHONPATH="$build/cmake/src/binding" \
        PWPOLY_SANITIZED=1 \
        PWPOLY_STRESS_CALLS=100000 \
        "$venv/bin/python" "$@"
}
if sanitized -c "
import pwpoly, sys
if not pwpoly.__file__.startswith('$build/'):
    sys.exit('not the sanitized module: ' + pwpoly.__file__)
"; then
    sanitized -m pytest -q -p no:cacheprovider || status=$?
else
    status=1
fi

found=0
for report in "$reports"/*; do
    [ -e "$report" ] || continue
    echo "== sanitizer report $report" >&2
    cat "$report" >&2
    found=1
done
if [ "$found" = 1 ]; then
    echo "sanitizer reports found" >&2
    exit 1
fi
[ "$status" = 0 ] || exit "$status"
echo "== no sanitizer reports"
