#!/bin/sh
# Runs the whole suite on the newest CPython releases, which the machine's own
# interpreters do not cover: CPython 3.14, 3.15 and a 3.14 debug build, each
# built with GCC 16 with every warning an error (the core, the binding and the
# C++ tests), inside a Debian sid chroot. Needs root.
#
# The chroot is made once and kept outside the checkout (scripts/sid_chroot.sh
# says where and when it is made again). Each run works on a fresh copy of the
# committed tree (git archive HEAD; PWPOLY_SOURCE=worktree copies the tracked
# files as they are in the working tree instead), removed afterwards together
# with the /proc mount, also on failure and on Ctrl-C. Exits non-zero when any
# step fails.
set -eu
cd "$(dirname "$0")/.."
checkout=$(pwd)
. "$checkout/scripts/sid_chroot.sh"

source_tree="${PWPOLY_SOURCE:-head}"
# Interpreters under test, as named inside the chroot.
interpreters="$chroot_interpreters"

[ "$(id -u)" = 0 ] || { echo "$0: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
case "$source_tree" in
head | worktree) ;;
*) echo "$0: PWPOLY_SOURCE must be head or worktree, not $source_tree" >&2; exit 1 ;;
esac

summary=""
name=""
failed=0

# Stops what still runs and removes what this run made (chroot_end_run), then
# prints the time per step.
cleanup() {
    status=$?
    trap - EXIT INT TERM HUP
    chroot_end_run || status=1
    [ -z "$name" ] || note_step interrupted
    if [ -n "$summary" ]; then
        echo "== newest CPython releases: time per step"
        printf '%s' "$summary"
    fi
    exit "$status"
}

# Adds the step under way, its time so far and $1 to the summary.
note_step() {
    summary="$summary$(printf '%-44s %5ss  %s' "$name" "$(($(date +%s) - start))" "$1")
"
    name=""
}

# step NAME COMMAND...: runs a step, notes its time and outcome; a failing
# step fails the run but the next steps still run.
step() {
    name=$1
    shift
    echo "== $name"
    start=$(date +%s)
    if "$@"; then
        outcome=ok
    else
        outcome=FAILED
        failed=1
    fi
    note_step "$outcome"
    [ "$outcome" = ok ]
}

# The tree under test, copied into the chroot.
copy_checkout() {
    if [ "$source_tree" = head ]; then
        git -C "$checkout" archive --format=tar HEAD | tar -x -C "$run/src"
    else
        # Tracked files only; one deleted in the working tree stays deleted.
        git -C "$checkout" ls-files | while IFS= read -r file; do
            [ -e "$checkout/$file" ] && printf '%s\n' "$file"
        done | tar -c -C "$checkout" --no-recursion -T - -f - | tar -x -C "$run/src"
    fi
    # A pipe keeps the exit status of its last command only.
    [ -f "$run/src/scripts/run_tests.sh" ]
}

# The README's test command, with a new virtual environment of $1; every
# warning of the builds it makes (the package, the C++ tests) is an error.
test_interpreter() {
    venv="$(in_chroot_path "$run")/venv-$1"
    # Debian's headers of a debug interpreter (python3.14d) are links to the
    # release headers beside a pyconfig.h of their own. CMake passes them as
    # system headers, whose links GCC resolves, so Python.h would read the
    # release pyconfig.h: the module would be built without Py_DEBUG, and its
    # own reference counting would escape sys.gettotalrefcount().
    cxxflags=-Werror
    case "$1" in *d) cxxflags="$cxxflags -fno-canonical-system-headers" ;; esac
    in_chroot "$1" -m venv "$venv" &&
        in_chroot env PYTHON="$venv/bin/python" CXXFLAGS="$cxxflags" sh scripts/run_tests.sh
}

chroot_lock
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

step "chroot: reuse or make" prepare_chroot || exit 1
chroot_start_run
step "copy of the checkout ($source_tree)" copy_checkout || exit 1

for python in $interpreters; do
    step "$python: sh scripts/run_tests.sh" test_interpreter "$python" || true
done
exit "$failed"
