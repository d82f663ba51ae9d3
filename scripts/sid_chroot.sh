# The Debian sid chroot with the newest CPython releases (3.14, 3.15 and a
# 3.14 debug build) and GCC 16, shared by scripts/test_newest_pythons.sh and
# scripts/build_wheels.sh. Sourced by them, not run; needs root.
#
# The chroot is made once (debootstrap, a few minutes) and kept outside the
# checkout, in PWPOLY_SID_CHROOT (default /var/cache/pwpoly/sid-chroot). A
# cache that is half made, made from another package list, missing a tool or
# older than PWPOLY_SID_MAX_AGE_DAYS (default 14) is made again; if making a
# merely old one again fails, the old one is used. A run takes the cache's
# lock, works in a folder of its own inside the chroot ($run) with /proc
# mounted, and removes both at the end (chroot_end_run).

cache="${PWPOLY_SID_CHROOT:-/var/cache/pwpoly/sid-chroot}"
max_age_days="${PWPOLY_SID_MAX_AGE_DAYS:-14}"
mirror="${PWPOLY_SID_MIRROR:-http://deb.debian.org/debian}"
# The interpreters the chroot holds, as named inside it.
chroot_interpreters="python3.14 python3.15 python3.14d"
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

# The folder of the current run inside the chroot, as the host sees it, and
# the command running in the chroot, if any.
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
    debootstrap_log="$(dirname "$cache")/debootstrap.log"
    echo "making a Debian sid chroot in $new (log: $debootstrap_log)"
    if ! in_own_group debootstrap --variant=minbase --include="$packages" sid "$new" "$mirror" \
        >"$debootstrap_log" 2>&1; then
        tail -n 20 "$debootstrap_log" >&2
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
    # The compiler and interpreters of the chroot.
    chroot "$cache" g++ --version | head -n 1
    for chroot_python in $chroot_interpreters; do
        chroot "$cache" "$chroot_python" -c 'import sys; print(sys.executable, sys.version.split()[0])' ||
            return 1
    done
}

# One run at a time per cache: runs share its /proc mount point. To be taken
# before a run installs its traps, so that a run waiting here never unmounts
# another's /proc.
chroot_lock() {
    mkdir -p "$(dirname "$cache")"
    exec 9>"$cache.lock"
    flock 9
}

# Makes the run's folder ($run, with a tmp folder in it) and mounts /proc.
chroot_start_run() {
    run=$(mktemp -d "$cache/tmp/pwpoly-run.XXXXXX") || return 1
    mkdir "$run/tmp" "$run/src" || return 1
    unmount_below "$cache/proc"
    mount --bind /proc "$cache/proc"
}

# Stops the command still running (its own process group), then unmounts and
# removes what the run made, mounts inside its folder included. The chroot
# cache itself stays. Fails when something could not be removed.
chroot_end_run() {
    if [ -n "$child" ]; then
        kill -TERM "-$child" 2>/dev/null || true  # dash's kill takes no "--"
        wait "$child" 2>/dev/null || true
    fi
    ended=0
    [ -z "$run" ] || discard "$run" || ended=1
    unmount_below "$cache/proc"
    return "$ended"
}

# Proxy settings are the only part of the host's environment passed on.
passed_env=""
for variable in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    eval "value=\${$variable-}"
    [ -z "$value" ] || passed_env="$passed_env $variable=$value"
done

# The path inside the chroot of a file of the run's folder, given as the
# host sees it.
in_chroot_path() {
    printf '%s\n' "${1#"$cache"}"
}

# Runs a command in the chroot, in the run's src folder; temporary files go
# into the run's folder, which is removed at the end.
in_chroot() {
    # $passed_env is split into words on purpose: one NAME=value each.
    # shellcheck disable=SC2086
    in_own_group chroot "$cache" /usr/bin/env -i $passed_env HOME=/root LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        TMPDIR="$(in_chroot_path "$run")/tmp" \
        PIP_CERT="$chroot_ca" PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 \
        /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$(in_chroot_path "$run")/src" "$@"
}
