#!/bin/sh
# Builds the Debian package twice, as `make deb` does, and checks that both
# runs gave the same bytes, and that lintian finds it hardened. The second
# run differs in what a build must not depend on: its folder, the time of
# day, the time zone, the locale and the umask. A difference is shown member
# by member.
#   packaging/check-deb.sh [KEEP_FOLDER]
set -eu
cd "$(dirname "$0")/.."
work=${1:-$(mktemp -d)}
[ -n "${1:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
rm -rf "$work/1" "$work/2"

build() {
    run=$1
    shift
    echo "run $run: make deb (log in $work/run-$run.log)"
    if ! env "$@" make deb DEB_BUILD="$work/build-$run" >"$work/run-$run.log" 2>&1; then
        tail -n 40 "$work/run-$run.log"
        echo "FAIL: run $run did not build the package"
        exit 1
    fi
    mkdir -p "$work/$run"
    mv pockettetherbox_*.deb "$work/$run/"
}

build 1 TZ=UTC LC_ALL=C.UTF-8
# A compiler cache would hand the second run the first run's objects.
(umask 0002 && build 2 TZ=Pacific/Kiritimati LC_ALL=C CCACHE_DISABLE=1)

one=$(ls "$work"/1/*.deb)
two=$(ls "$work"/2/*.deb)
if command -v lintian >/dev/null; then
    lintian --pedantic --display-info --tag-display-limit 0 "$one" 2>/dev/null >"$work/lintian.txt" || true
    if grep -q 'hardening-' "$work/lintian.txt"; then
        cat "$work/lintian.txt"
        echo "FAIL: lintian finds the programs not hardened"
        exit 1
    fi
    echo "lintian --pedantic, no hardening tags; what it says:"
    sed 's/^/  /' "$work/lintian.txt"
fi
if cmp -s "$one" "$two"; then
    echo "ok: $(basename "$one") is the same, byte for byte, from both runs"
    exit 0
fi

echo "FAIL: the two runs gave different packages"
for run in 1 2; do
    mkdir -p "$work/$run/data" "$work/$run/control"
    deb=$(ls "$work/$run"/*.deb)
    ar tv "$deb" >"$work/$run/members"
    dpkg-deb --ctrl-tarfile "$deb" | tar -tvv --full-time >"$work/$run/control.list"
    dpkg-deb --fsys-tarfile "$deb" | tar -tvv --full-time >"$work/$run/data.list"
    dpkg-deb -x "$deb" "$work/$run/data"
    dpkg-deb -e "$deb" "$work/$run/control"
done
diff "$work/1/members" "$work/2/members" || true
diff "$work/1/control.list" "$work/2/control.list" || true
diff "$work/1/data.list" "$work/2/data.list" || true
diff -r "$work/1/control" "$work/2/control" || true
diff -rq "$work/1/data" "$work/2/data" || true
command -v diffoscope >/dev/null && echo "diffoscope $one $two shows every difference."
exit 1
