#!/bin/sh
# What a user gets from `make deb` and `make install`, checked on the files
# themselves. One check per run; the build passes its facts in PTB_* variables.
set -eu

check=$1
scratch=$PTB_SCRATCH/$check
deb_dir=$PTB_SCRATCH/deb
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

need() {
    command -v "$1" >/dev/null 2>&1 || { echo "FAIL: $1 is missing (make deps installs it)"; exit 1; }
}

the_deb() {
    set -- "$deb_dir"/pockettetherbox_"$PTB_VERSION"_*.deb
    [ -f "$1" ] || { echo "FAIL: no package in $deb_dir"; exit 1; }
    echo "$1"
}

# Every file a user gets, relative to the root, for programs under $1.
expected_files() {
    prefix=${1#/}
    {
        echo "$prefix/bin/pockettetherbox"
        echo "${PTB_UDEV_RULES_DIR#/}/60-pockettetherbox.rules"
        echo "$prefix/share/applications/$PTB_APP_ID.desktop"
        echo "$prefix/share/doc/pockettetherbox/changelog.gz"
        echo "$prefix/share/doc/pockettetherbox/copyright"
        echo "$prefix/share/doc/pockettetherbox/README.md.gz"
        for shot in main-window progress-window saves-window; do
            echo "$prefix/share/doc/pockettetherbox/docs/$shot.png"
        done
        echo "$prefix/share/icons/hicolor/128x128/apps/$PTB_APP_ID.png"
        echo "$prefix/share/icons/hicolor/48x48/apps/$PTB_APP_ID.png"
        echo "$prefix/share/icons/hicolor/scalable/apps/$PTB_APP_ID.svg"
        echo "$prefix/share/man/man1/pockettetherbox.1.gz"
        echo "$prefix/share/metainfo/$PTB_APP_ID.metainfo.xml"
        if [ "$PTB_HAS_CLI" = ON ]; then
            echo "$prefix/bin/pockettetherbox-cli"
            echo "$prefix/share/man/man1/pockettetherbox-cli.1.gz"
        fi
    } | sort
}

# The tree under $1 holds exactly the files expected for programs under $2:
# nothing missing, and no simulated build, test or stray file slipped in.
check_tree() {
    root=$1
    (cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$scratch/found"
    expected_files "$2" >"$scratch/expected"
    if ! cmp -s "$scratch/expected" "$scratch/found"; then
        fail "installed files differ from the expected list (- expected, + found):"
        diff -u "$scratch/expected" "$scratch/found" | sed -n '3,$p'
    fi
    for px in 48 128; do
        png=$root/${2#/}/share/icons/hicolor/${px}x${px}/apps/$PTB_APP_ID.png
        # Width and height sit big-endian at bytes 16 and 20 of a PNG.
        size=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
        [ "$size" = "${px}x${px}" ] || fail "the ${px}px icon is $size"
    done
    grep -q 'TAG+="uaccess"' "$root/${PTB_UDEV_RULES_DIR#/}/60-pockettetherbox.rules" ||
        fail "the udev rule lost its uaccess tag"
}

# The number the build was given is the number every installed file shows.
check_versions() {
    root=$1 prefix=${2#/}
    grep -q "<release version=\"$PTB_VERSION\"" "$root/$prefix/share/metainfo/$PTB_APP_ID.metainfo.xml" ||
        fail "the metainfo's release is not $PTB_VERSION"
    for page in "$root/$prefix"/share/man/man1/*.1.gz; do
        gzip -dc "$page" | grep -q "^\.TH .*\"PocketTetherbox $PTB_VERSION\"" ||
            fail "$(basename "$page") does not give version $PTB_VERSION"
    done
    if [ "$PTB_HAS_CLI" = ON ]; then
        out=$("$root/$prefix/bin/pockettetherbox-cli" --version 2>&1) ||
            fail "pockettetherbox-cli --version failed: $out"
        case $out in
            *"$PTB_VERSION"*) ;;
            *) fail "pockettetherbox-cli --version says '$out', not $PTB_VERSION" ;;
        esac
    else
        echo "skipped: this build has no command-line tool to ask for --version"
    fi
}

rm -rf "$scratch"
mkdir -p "$scratch"

case $check in
build-deb)
    need dpkg-shlibdeps
    rm -rf "$deb_dir"
    # Packs the binaries this build already made; nothing is rebuilt.
    cpack --config "$PTB_BUILD_DIR/CPackConfig.cmake" -B "$deb_dir" >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log"; exit 1; }
    the_deb
    ;;

deb-contents)
    need dpkg-deb
    deb=$(the_deb)
    dpkg-deb -x "$deb" "$scratch/root"
    check_tree "$scratch/root" /usr
    check_versions "$scratch/root" /usr
    [ "$(dpkg-deb -f "$deb" Version)" = "$PTB_VERSION" ] || fail "the package's version is not $PTB_VERSION"
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libusb-1.0 libfltk1.3; do
        case $depends in
            *"$lib"*) ;;
            *) fail "Depends lacks $lib (shlibdeps did not run?): $depends" ;;
        esac
    done
    ;;

maintainer-scripts)
    need dpkg-deb
    dpkg-deb -e "$(the_deb)" "$scratch/control"
    for script in postinst postrm; do
        [ -x "$scratch/control/$script" ] || fail "$script is missing or not executable"
    done
    # A stand-in udevadm that notes its arguments, and one that always fails
    # as udevadm does where udev is not running (a chroot, a container).
    mkdir -p "$scratch/bin-ok" "$scratch/bin-down"
    printf '#!/bin/sh\necho "$*" >>"%s"\n' "$scratch/calls" >"$scratch/bin-ok/udevadm"
    printf '#!/bin/sh\necho "Failed to send reload request" >&2\nexit 1\n' >"$scratch/bin-down/udevadm"
    chmod +x "$scratch/bin-ok/udevadm" "$scratch/bin-down/udevadm"

    PATH=$scratch/bin-ok "$scratch/control/postinst" configure || fail "postinst configure failed"
    grep -q -- '--reload-rules' "$scratch/calls" || fail "postinst did not reload the udev rules"
    grep -q -- 'trigger.*idVendor=20a0.*idProduct=4178' "$scratch/calls" ||
        fail "postinst did not trigger the linker: $(cat "$scratch/calls")"
    : >"$scratch/calls"
    PATH=$scratch/bin-ok "$scratch/control/postrm" remove || fail "postrm remove failed"
    grep -q -- '--reload-rules' "$scratch/calls" || fail "postrm remove did not reload the udev rules"

    for bin in bin-down no-udevadm; do
        for step in "postinst configure" "postrm remove" "postrm purge"; do
            set -- $step
            PATH=$scratch/$bin "$scratch/control/$1" "$2" >/dev/null 2>&1 ||
                fail "'$step' fails with $bin: the package would be left half-installed"
        done
    done
    ;;

lintian)
    need lintian
    # Errors fail; warnings and notes are shown for whoever reads the log.
    lintian --fail-on error --tag-display-limit 0 "$(the_deb)" || fail "lintian reports errors"
    ;;

prefix)
    # Programs and desktop files follow the prefix; the udev rule stays where
    # udev reads it. DESTDIR keeps this machine's own folders untouched.
    DESTDIR=$scratch/root cmake --install "$PTB_BUILD_DIR" --prefix /opt/ptb >"$scratch/install.log" 2>&1 ||
        { cat "$scratch/install.log"; exit 1; }
    check_tree "$scratch/root" /opt/ptb
    ;;

*)
    echo "unknown check: $check"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "ok: $check"
