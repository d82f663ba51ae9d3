#!/bin/sh
# Builds pwpoly's binary wheels for Linux on x86-64, one per CPython, that
# install without a compiler on any distribution with glibc 2.17 or newer
# (manylinux2014), and tests each one as a user gets it.
#
# Usage: sh scripts/build_wheels.sh [--python PYTHON]... OUTDIR
#
#   --python PYTHON  an interpreter to build for: a command or path on this
#                    machine, or chroot:NAME for an interpreter of the Debian
#                    sid chroot of scripts/sid_chroot.sh (chroot:python3.14).
#                    May be given more than once. Default: the newest release
#                    of every CPython from 3.9 to 3.13 that pyenv has, then
#                    chroot:python3.14 and chroot:python3.15.
#   OUTDIR           where the wheels go (made if missing; a relative path
#                    is taken from the folder the script is started in).
#
# Steps: an sdist of the working tree, once (python -m build); then for each
# interpreter a wheel built from that sdist with zig's C and C++ compilers
# (ziglang from PyPI, pinned below) for x86_64-linux-gnu with glibc 2.17, and
# zig's static libc++, libc++abi and libunwind; `auditwheel show`, which must
# find it consistent with manylinux_2_17_x86_64, or the wheel fails; that
# platform tag given to it (python -m wheel tags: nothing needs grafting, so
# auditwheel repair would only rename it, and needs patchelf for that); then
# the wheel installed with its test extra into a fresh virtual environment of
# its interpreter, and the whole Python test suite run from a copy of the
# sdist's tests, examples, README and docs without its sources, so that every
# import finds the installed wheel. Prints one line per wheel: file,
# auditwheel's platform tag, size, tests passed, failed and skipped. Exits
# non-zero when any wheel fails a step.
#
# The tools live in a virtual environment made once and kept in
# PWPOLY_WHEEL_TOOLS (default ~/.cache/pwpoly/wheel-tools), made again when
# the pins change; zig keeps the C++ runtimes it builds for the target in its
# global cache (ZIG_GLOBAL_CACHE_DIR, default ~/.cache/zig), so only the
# first build pays for them. Chroot interpreters need root.
set -eu
caller_dir=$(pwd)
cd "$(dirname "$0")/.."
checkout=$(pwd)

# The toolchain and the checks, pinned so that a wheel built later is built
# the same way.
tool_requirements="ziglang==0.17.0 auditwheel==6.8.2 wheel==0.48.0 build==1.6.1"
zig_target=x86_64-linux-gnu.2.17
audit_policy=manylinux_2_17_x86_64
platform_tag=manylinux_2_17_x86_64.manylinux2014_x86_64

cache_home="${XDG_CACHE_HOME:-$HOME/.cache}"
tools="${PWPOLY_WHEEL_TOOLS:-$cache_home/pwpoly/wheel-tools}"
zig_cache="${ZIG_GLOBAL_CACHE_DIR:-$cache_home/zig}"

usage() {
    echo "usage: sh scripts/build_wheels.sh [--python PYTHON]... OUTDIR" >&2
    exit 2
}

pythons=""
outdir=""
while [ $# -gt 0 ]; do
    case "$1" in
    --python)
        [ $# -ge 2 ] || usage
        pythons="$pythons $2"
        shift 2
        ;;
    --python=*)
        pythons="$pythons ${1#--python=}"
        shift
        ;;
    -h | --help) usage ;;
    -*) echo "$0: unknown option $1" >&2; usage ;;
    *)
        [ -z "$outdir" ] || usage
        outdir=$1
        shift
        ;;
    esac
done
[ -n "$outdir" ] || usage

# The newest release of each CPython from 3.9 to 3.13 that pyenv has, then
# the chroot's 3.14 and 3.15.
default_pythons() {
    if command -v pyenv >/dev/null 2>&1; then
        for version in 3.9 3.10 3.11 3.12 3.13; do
            release=$(pyenv versions --bare | grep -E "^${version}\.[0-9]+$" | sort -t. -k3 -n |
                tail -n 1) || true
            [ -z "$release" ] || printf '%s ' "$(pyenv prefix "$release")/bin/python3"
        done
    fi
    printf '%s\n' "chroot:python3.14 chroot:python3.15"
}
[ -n "$pythons" ] || pythons=$(default_pythons)

case "$outdir" in /*) ;; *) outdir="$caller_dir/$outdir" ;; esac
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pwpoly-wheels.XXXXXX")
uses_chroot=0
case "$pythons" in *chroot:*) uses_chroot=1 ;; esac
if [ "$uses_chroot" = 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "$0: chroot interpreters need root" >&2; exit 1; }
    . "$checkout/scripts/sid_chroot.sh"
fi

# The chroot's lock is taken when a chroot interpreter's turn comes: a run
# still waiting for it has no run folder and no /proc mount to remove.
chroot_locked=0
cleanup() {
    status=$?
    trap - EXIT INT TERM HUP
    if [ "$chroot_locked" = 1 ]; then
        chroot_end_run || status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The tools' virtual environment, and wrappers that run zig's compilers for
# the target: CMake takes a compiler as one program. The wrappers find zig
# beside themselves, so that they also work where the folder is mounted
# elsewhere (in the chroot).
prepare_tools() {
    mkdir -p "$(dirname "$tools")"
    if [ "$(cat "$tools/.pwpoly-pins" 2>/dev/null)" != "$tool_requirements" ]; then
        echo "== tools: $tool_requirements (in $tools)"
        rm -rf "$tools"
        python3 -m venv "$tools"
        # The pins are split into words on purpose: one requirement each.
        # shellcheck disable=SC2086
        "$tools/bin/python" -m pip install -q --disable-pip-version-check $tool_requirements
        printf '%s\n' "$tool_requirements" >"$tools/.pwpoly-pins"
    fi
    # Relative, so that the link also holds where the folder is mounted.
    # Changed only when wrong, and then replaced at once (mv): another run
    # may be compiling with them.
    package=$("$tools/bin/python" -c 'import os, sys, ziglang
print(os.path.relpath(os.path.dirname(ziglang.__file__), sys.prefix))')
    if [ "$(readlink "$tools/ziglang" 2>/dev/null)" != "$package" ]; then
        ln -sfn "$package" "$tools/ziglang.new"
        mv -T "$tools/ziglang.new" "$tools/ziglang"
    fi
    mkdir -p "$tools/zig-bin"
    for tool in cc c++ ar ranlib; do
        case "$tool" in
        cc | c++) arguments="$tool -target $zig_target -mcpu=baseline" ;;
        *) arguments=$tool ;;
        esac
        wrapper=$(printf '#!/bin/sh\nexec "${0%%/*}/../ziglang/zig" %s "$@"' "$arguments")
        if [ "$(cat "$tools/zig-bin/zig-$tool" 2>/dev/null)" != "$wrapper" ]; then
            printf '%s\n' "$wrapper" >"$tools/zig-bin/zig-$tool.new"
            chmod +x "$tools/zig-bin/zig-$tool.new"
            mv "$tools/zig-bin/zig-$tool.new" "$tools/zig-bin/zig-$tool"
        fi
    done
    echo "== zig $("$tools/ziglang/zig" version), target $zig_target"
}

# The sdist of the working tree, and the parts of it that the tests read
# (tests, examples, README and the documentation's pages, the pytest and mypy
# settings), without src.
make_sdist() {
    echo "== sdist"
    "$tools/bin/python" -m build --sdist --outdir "$work/sdist" "$checkout" >"$work/sdist.log" 2>&1 ||
        { tail -n 30 "$work/sdist.log" >&2; return 1; }
    sdist=$(ls "$work"/sdist/pwpoly-*.tar.gz)
    echo "$(basename "$sdist")"
    top=$(basename "$sdist" .tar.gz)
    mkdir "$work/test-tree"
    tar -x -z -f "$sdist" -C "$work/test-tree" --strip-components=1 \
        "$top/tests" "$top/examples" "$top/README.md" "$top/docs" "$top/pyproject.toml"
}

# Prints the numbers of tests passed, failed (errors included) and skipped
# from pytest's JUnit report, given as the first argument.
junit_counts='
import sys
import xml.etree.ElementTree as ElementTree

root = ElementTree.parse(sys.argv[1]).getroot()
suites = [root] if root.tag == "testsuite" else list(root)
total = {name: sum(int(suite.get(name, 0)) for suite in suites)
         for name in ("tests", "failures", "errors", "skipped")}
failed = total["failures"] + total["errors"]
print(total["tests"] - failed - total["skipped"], failed, total["skipped"])
'

# Runs a command where the interpreter lives: here, or in the chroot.
on_target() {
    if [ "$target" = chroot ]; then
        in_chroot "$@"
    else
        "$@"
    fi
}

# The path under which the interpreter sees a file of this run's folder.
target_path() {
    if [ "$target" = chroot ]; then in_chroot_path "$1"; else printf '%s\n' "$1"; fi
}

# Builds, checks, tags and tests the wheel of one interpreter in $base;
# sets the fields of its summary line.
wheel_for() {
    python=$1
    wheel_file="-" policy="-" size="-" passed="-" failed="-" skipped="-" note=""
    if [ "$target" = chroot ]; then
        # The chroot sees the tools and zig's cache through mounts in the
        # run's folder, which the end of the run removes first.
        tool_dir="$base/tools"
        mkdir -p "$tool_dir" "$base/zig-cache" "$zig_cache"
        mount --bind "$tools" "$tool_dir"
        mount --bind "$zig_cache" "$base/zig-cache"
        cp -r "$sdist" "$work/test-tree" "$base/"
        wheel_sdist="$base/$(basename "$sdist")"
        tests="$base/test-tree"
        zig_cache_dir="$base/zig-cache"
    else
        tool_dir="$tools"
        zig_cache_dir="$zig_cache"
        wheel_sdist="$sdist"
        tests="$base/test-tree"
        cp -r "$work/test-tree" "$tests"
    fi
    zig_bin="$(target_path "$tool_dir")/zig-bin"
    log="$base/log"
    # Debian's pyconfig.h includes its architecture's from /usr/include/
    # <multiarch>/pythonX.Y, among the system's own headers, which zig does
    # not search (it compiles against the headers of its glibc 2.17): a
    # folder with a link to that one folder alone is searched last.
    extra_flags=""
    headers=$(on_target "$python" -c 'import sysconfig
print(sysconfig.get_config_var("MULTIARCH") or "-", sysconfig.get_paths()["include"].rsplit("/", 1)[-1])')
    multiarch=${headers% *}
    include_name=${headers#* }
    root=""
    [ "$target" = host ] || root=$cache
    if [ "$multiarch" != - ] && [ -d "$root/usr/include/$multiarch/$include_name" ]; then
        mkdir -p "$base/multiarch/$multiarch"
        ln -s "/usr/include/$multiarch/$include_name" "$base/multiarch/$multiarch/$include_name"
        extra_flags="-idirafter $(target_path "$base/multiarch")"
    fi

    echo "== $label: wheel"
    # The interpreter's own pip may be too old to pass settings to the build
    # backend (3.9's), or missing (Debian's interpreters): a current one in a
    # virtual environment of the interpreter builds the wheel.
    builder=$(target_path "$base/build-venv")
    if ! { on_target "$python" -m venv "$builder" &&
        on_target "$builder/bin/python" -m pip install -q --disable-pip-version-check \
            --upgrade pip &&
        on_target env CC="$zig_bin/zig-cc" CXX="$zig_bin/zig-c++" CXXFLAGS="$extra_flags" \
        ZIG_GLOBAL_CACHE_DIR="$(target_path "$zig_cache_dir")" PIP_DISABLE_PIP_VERSION_CHECK=1 \
        "$builder/bin/python" -m pip wheel --no-deps -w "$(target_path "$base/dist")" \
        -C build-dir="$(target_path "$base/build")" \
        -C cmake.define.CMAKE_AR="$zig_bin/zig-ar" \
        -C cmake.define.CMAKE_RANLIB="$zig_bin/zig-ranlib" \
        -C cmake.define.CMAKE_CXX_COMPILER_AR="$zig_bin/zig-ar" \
        -C cmake.define.CMAKE_CXX_COMPILER_RANLIB="$zig_bin/zig-ranlib" \
        "$(target_path "$wheel_sdist")"; } >"$log" 2>&1; then
        tail -n 30 "$log"
        note="build failed"
        return 1
    fi
    built=$(ls "$base"/dist/pwpoly-*.whl)

    echo "== $label: auditwheel show"
    "$tools/bin/auditwheel" show "$built" >"$log" 2>&1 || true
    sed -n '/consistent with/,$p' "$log"
    policy=$(tr '\n' ' ' <"$log" | sed -n 's/.*following platform tag: *"\([^"]*\)".*/\1/p')
    if [ "$policy" != "$audit_policy" ]; then
        [ -n "$policy" ] || { cat "$log"; policy="-"; }
        note="not $audit_policy"
        return 1
    fi
    "$tools/bin/python" -m wheel tags --remove --platform-tag "$platform_tag" "$built" >/dev/null
    wheel=$(ls "$base"/dist/pwpoly-*.whl)
    wheel_file=$(basename "$wheel")
    size="$(($(wc -c <"$wheel") / 1024)) KiB"
    cp "$wheel" "$outdir/"

    echo "== $label: tests of the installed wheel"
    venv=$(target_path "$base/venv")
    if ! { on_target "$python" -m venv "$venv" &&
        on_target "$venv/bin/python" -m pip install -q --disable-pip-version-check \
            "$(target_path "$wheel")[test]"; } >"$log" 2>&1; then
        tail -n 30 "$log"
        note="install failed"
        return 1
    fi
    # Imported from the test tree, as the tests will be: each module must
    # come from the virtual environment.
    if ! on_target sh -c 'cd "$1" && "$2" -c "
import sys, pwpoly, pwpoly_numpy, pwpoly_runtime
for module in (pwpoly, pwpoly_numpy, pwpoly_runtime):
    assert module.__file__.startswith(sys.prefix + \"/\"), module.__file__
    print(module.__file__)
"' sh "$(target_path "$tests")" "$venv/bin/python"; then
        note="not imported from the wheel"
        return 1
    fi
    # The Ctrl-C tests need SIGINT's default action, which a script started
    # in the background would pass on ignored.
    on_target env --default-signal=INT,QUIT sh -c 'cd "$1" && shift && exec "$@"' sh \
        "$(target_path "$tests")" "$venv/bin/python" -m pytest -q -p no:cacheprovider -rfEs \
        --junitxml="$(target_path "$base/junit.xml")" >"$log" 2>&1 || true
    tail -n 20 "$log"
    counts=$("$tools/bin/python" -c "$junit_counts" "$base/junit.xml" || true)
    [ -n "$counts" ] || { note="no test report"; return 1; }
    # shellcheck disable=SC2086
    set -- $counts
    passed=$1 failed=$2 skipped=$3
    [ "$failed" = 0 ] && [ "$passed" -gt 0 ]
}

summary=""
any_failed=0
add_line() {
    summary="$summary$(printf '%-74s %-22s %9s %6s %6s %7s  %s' "$@")
"
}

prepare_tools
make_sdist
index=0
for spec in $pythons; do
    index=$((index + 1))
    case "$spec" in
    chroot:*)
        target=chroot
        python=${spec#chroot:}
        label="$python (chroot)"
        # The chroot is taken for one wheel at a time, so that other runs
        # of it (scripts/test_newest_pythons.sh) wait for one wheel only.
        echo "== chroot"
        chroot_lock
        chroot_locked=1
        if ! { prepare_chroot && chroot_start_run; }; then
            add_line "-" "-" "-" "-" "-" "-" "$label: no chroot"
            any_failed=1
            chroot_end_run || true
            chroot_locked=0
            flock -u 9
            continue
        fi
        base="$run/wheel-$index"
        ;;
    *)
        target=host
        case "$spec" in */*) [ "${spec#/}" != "$spec" ] || spec="$caller_dir/$spec" ;; esac
        python=$(command -v "$spec" || true)
        label=$spec
        [ -n "$python" ] || {
            add_line "-" "-" "-" "-" "-" "-" "$spec: not found"
            any_failed=1
            continue
        }
        label="$("$python" -c 'import platform; print(platform.python_version())') ($python)"
        base="$work/wheel-$index"
        ;;
    esac
    mkdir -p "$base"
    if ! wheel_for "$python"; then
        any_failed=1
        [ -n "$note" ] || note="tests failed"
    fi
    add_line "$wheel_file" "$policy" "$size" "$passed" "$failed" "$skipped" "${note:+$label: $note}"
    if [ "$target" = chroot ]; then
        chroot_end_run || any_failed=1
        run=""
        chroot_locked=0
        flock -u 9
    fi
done

echo "== wheels in $outdir"
printf '%-74s %-22s %9s %6s %6s %7s\n' wheel auditwheel size passed failed skipped
printf '%s' "$summary"
exit "$any_failed"
