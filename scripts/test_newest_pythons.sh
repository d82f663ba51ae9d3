#!/bin/sh
# Runs the whole suite on the newest CPython releases, which the machine's own
# interpreters do not cover: CPython 3.14, 3.15 and a 3.14 debug build, each
# built with GCC 16, inside a Debian sid chroot; also builds the core, the
# binding and the C++ tests once with -Werror there. Needs root.
#
# The chroot is made once (debootstrap, about a minute) and kept outside the
# checkout, in PWPOLY_SID_CHROOT (default /var/cache/pwpoly/sid-chroot). A
# cache that is half made, made from another package list, missing a tool or
# older than PWPOLY_SID_MAX_AGE_DAYS (default 14) is made again; if making a
# merely old one again fails, the old one is used. Each run works on a fresh
# copy of the committed tree (git archive HEAD; PWPOLY_SOURCE=worktree copies
# the tracked files as they are in the working tree instead), removed
# afterwards together with the /proc mount, also on failure and on Ctrl-C.
# Exits non-zero when any step fails.
set -eu
cd "$(dirname "$0")/.."
checkout=$(pwd)

cache="${PWPOLY_SID_CHROOT:-/var/cache/pwpoly/sid-chroot}"
max_age_days="${PWPOLY_SID_MAX_AGE_DAYS:-14}"
mirror="${PWPOLY_SID_MIRROR:-http://deb.debian.org/debian}"
source_tree="${PWPOLY_SOURCE:-head}"
# Interpreters under test, as named inside the chroot.
interpreters="python3.14 python3.15 python3.14d"
# The interpreter whose headers the -Werror build compiles the binding against.
werror_python=python3.15
packages="python3.14-dev,python3.15-dev,python3.14-venv,python3.15-venv,python3.14-dbg"
packages="$packages,g++,cmake,ninja-build,libgtest-dev,ca-certificates"
# Written into the cache last: a cache without it is half made, and one with
# another recipe was made for another package list.
recipe="debootstrap --variant=minbase sid; $packages"
marker=".pwpoly-recipe"
# Tools that every step needs inside the chroot.
required="/usr/bin/python3.14 /usr/bin/python3.15 /usr/bin/python3.14d /usr/bin/g++
/usr/bin/cmake /usr/bin/ninja /usr/include/gtest/gtest.h"
# The host's bundle of certificate authorities, for pip in the chroot: it
# holds every authority that this machine's connections may need.
host_ca=/etc/ssl/certs/ca-certificates.crt
chroot_ca=/etc/ssl/certs/pwpoly-host-ca.crt

[ "$(id -u)" = 0 ] || { echo "$0: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
case "$source_tree" in
head | worktree) ;;
*) echo "$0: PWPOLY_SOURCE must be head or worktree, not $source_tree" >&2; exit 1 ;;
esac

summary=""
name=""
failed=0
run=""
child=""

# Mount points at or below $1, deepest first.
mounts_below() {
    awk -v dir="$1" '$2 == dir || index($2, dir "/") == 1 { print $2 }' /proc/self/mounts |
        sort -r
}

unmount_below() {
    for point in $(mounts_below "$1"); do
        umount "$point" 2>/dev/null || umount -l "$point"
    done
}

# Removes a directory tree that may hold a chroot, never following a mount
# left inside it into the host's own files.
discard() {
    [ -e "$1" ] || return 0
    unmount_below "$1"
    if [ -n "$(mounts_below "$1")" ]; then
        echo "$0: $1 still has mounts; not removed" >&2
        return 1
    fi
    rm -rf --one-file-system "$1"
}

# Stops the command still running (its own process group), then unmounts and
# removes what this run made. The chroot cache itself stays.
cleanup() {
    status=$?
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        kill -TERM "-$child" 2>/dev/null || true  # dash's kill takes no "--"
        wait "$child" 2>/dev/null || true
    fi
    [ -z "$run" ] || discard "$run" || status=1
    unmount_below "$cache/proc"
    [ -z "$name" ] || note_step interrupted
    if [ -n "$summary" ]; then
        echo "== newest CPython releases: time per step"
        printf '%s' "$summary"
    fi
    exit "$status"
}

# Runs "$@" in a process group of its own, so that an interruption can stop
# all of it, and waits for it. A command started in the background of a
# script ignores SIGINT and SIGQUIT, and so would every program below it
# (Python then installs no KeyboardInterrupt handler): both get back their
# default action.
in_own_group() {
    setsid -w env --default-signal=INT,QUIT "$@" &
    child=$!
    set +e
    wait "$child"
    status=$?
    set -e
    child=""
    return "$status"
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

cache_is_usable() {
    [ -f "$1/$marker" ] && [ "$(cat "$1/$marker")" = "$recipe" ] || return 1
    for file in $required; do
        [ -e "$1$file" ] || return 1
    done
}

cache_is_fresh() {
    [ -z "$(find "$1/$marker" -mtime "+$max_age_days")" ]
}

make_chroot() {
    new="$cache.new"
    discard "$new"
    mkdir -p "$(dirname "$cache")"
    log="$(dirname "$cache")/debootstrap.log"
    echo "making a Debian sid chroot in $new (log: $log)"
    if ! in_own_group debootstrap --variant=minbase --include="$packages" sid "$new" "$mirror" \
        >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        discard "$new"
        return 1
    fi
    # debootstrap unmounts what it mounted, but a failure inside may not.
    unmount_below "$new"
    printf '%s\n' "$recipe" >"$new/$marker"
    if ! cache_is_usable "$new"; then
        echo "$0: the new chroot lacks a required tool" >&2
        discard "$new"
        return 1
    fi
    discard "$cache"
    mv "$new" "$cache"
}

# Reuses the cached chroot, or makes it (again).
prepare_chroot() {
    if ! command -v debootstrap >/dev/null 2>&1; then
        apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null || return 1
    fi
    if cache_is_usable "$cache" && cache_is_fresh "$cache"; then
        echo "reusing the chroot in $cache"
    elif cache_is_usable "$cache"; then
        echo "the chroot in $cache is older than $max_age_days days"
        make_chroot || echo "$0: could not make it again; using the old one" >&2
    else
        make_chroot || return 1
    fi
    if [ -f "$host_ca" ]; then
        cp "$host_ca" "$cache$chroot_ca" || return 1
    else
        chroot_ca=/etc/ssl/certs/ca-certificates.crt  # Debian's own, in the chroot
    fi
    # The compiler and interpreters this run uses.
    chroot "$cache" g++ --version | head -n 1
    for python in $interpreters; do
        chroot "$cache" "$python" -c 'import sys; print(sys.executable, sys.version.split()[0])' ||
            return 1
    done
}

# The tree under test, copied into the chroot.
copy_checkout() {
    mkdir -p "$run/src" || return 1
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

# Proxy settings are the only part of the host's environment passed on.
passed_env=""
for name in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    eval "value=\${$name-}"
    [ -z "$value" ] || passed_env="$passed_env $name=$value"
done

# Runs a command in the chroot, in the copy of the checkout; temporary files
# go into the run's folder, which is removed at the end.
in_chroot() {
    # $passed_env is split into words on purpose: one NAME=value each.
    # shellcheck disable=SC2086
    in_own_group chroot "$cache" /usr/bin/env -i $passed_env HOME=/root LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        TMPDIR="${run#"$cache"}/tmp" \
        PIP_CERT="$chroot_ca" PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 \
        /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "${run#"$cache"}/src" "$@"
}

# The README's test command, with a new virtual environment of $1.
test_interpreter() {
    venv="${run#"$cache"}/venv-$1"
    # Debian's headers of a debug interpreter (python3.14d) are links to the
    # release headers beside a pyconfig.h of their own. CMake passes them as
    # system headers, whose links GCC resolves, so Python.h would read the
    # release pyconfig.h: the module would be built without Py_DEBUG, and its
    # own reference counting would escape sys.gettotalrefcount().
    cxxflags=""
    case "$1" in *d) cxxflags=-fno-canonical-system-headers ;; esac
    in_chroot "$1" -m venv "$venv" &&
        in_chroot env PYTHON="$venv/bin/python" CXXFLAGS="$cxxflags" sh scripts/run_tests.sh
}

# The core, the binding and the C++ tests, every warning an error.
build_with_werror() {
    in_chroot cmake -S . -B build/werror -G Ninja -DCMAKE_CXX_FLAGS=-Werror \
        -DPWPOLY_BUILD_TESTS=ON -DPython_EXECUTABLE="/usr/bin/$werror_python" >/dev/null &&
        in_chroot cmake --build build/werror -j 2
}

# One run at a time per cache: runs share its /proc mount point. Taken
# before the traps, so that a run waiting here never unmounts another's /proc.
mkdir -p "$(dirname "$cache")"
exec 9>"$cache.lock"
flock 9
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

step "chroot: reuse or make" prepare_chroot || exit 1
run=$(mktemp -d "$cache/tmp/pwpoly-run.XXXXXX")
mkdir "$run/tmp"
step "copy of the checkout ($source_tree)" copy_checkout || exit 1
unmount_below "$cache/proc"
mount --bind /proc "$cache/proc"

step "GCC 16, -Werror build against $werror_python" build_with_werror || true
for python in $interpreters; do
    step "$python: sh scripts/run_tests.sh" test_interpreter "$python" || true
done
exit "$failed"
