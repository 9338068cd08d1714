#!/usr/bin/env bash
# Checks of the Debian package and of installation into a prefix.
#   package-test.sh CONF MODE
# CONF holds shell assignments written by CMake (PKG_WORK, PKG_EXPECTED, PKG_PROGRAMS, PKG_VERSION,
# SOURCE_DIR, BINARY_DIR). "build" makes the package in PKG_WORK and unpacks it into
# PKG_WORK/root; the other modes except "prefix" look at that.
set -euo pipefail
# shellcheck disable=SC1090
source "$1"
mode="$2"

deb_file() {
    local debs=("$PKG_WORK"/*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $PKG_WORK, found: ${debs[*]}"
    echo "${debs[0]}"
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
has() { [[ " $PKG_PROGRAMS " == *" $1 "* ]]; }
# The value of KEY= in a desktop entry.
entry_value() { sed -n "s/^$2=//p" "$1" | head -n 1; }

root="$PKG_WORK/root"

case "$mode" in
build)
    rm -rf "$PKG_WORK"
    mkdir -p "$PKG_WORK"
    cpack -G DEB --config "$BINARY_DIR/CPackConfig.cmake" -B "$PKG_WORK" >"$PKG_WORK/cpack.log" 2>&1 ||
        { cat "$PKG_WORK/cpack.log"; fail "cpack"; }
    rm -rf "$PKG_WORK/_CPack_Packages"
    deb="$(deb_file)"
    dpkg-deb --info "$deb"
    dpkg -x "$deb" "$root"
    ;;

contents)
    deb="$(deb_file)"
    errors=0
    for f in $PKG_EXPECTED; do
        if [ ! -f "$root/$f" ]; then
            echo "missing: /$f"
            errors=$((errors + 1))
        fi
    done
    # Nothing else: no headers, static libraries or build leftovers. Help pages may bring pictures.
    while read -r f; do
        case " $PKG_EXPECTED " in *" $f "*) continue ;; esac
        case "$f" in usr/share/veltro51/Help/*) continue ;; esac
        echo "unexpected: /$f"
        errors=$((errors + 1))
    done < <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
    for p in $PKG_PROGRAMS; do
        [ -x "$root/usr/bin/$p" ] || { echo "not executable: /usr/bin/$p"; errors=$((errors + 1)); }
    done
    # Every file belongs to root, the way dpkg will install it.
    if dpkg-deb -c "$deb" | awk '$2 != "root/root"' | grep .; then
        echo "files not owned by root/root"
        errors=$((errors + 1))
    fi

    entry="$root/usr/share/applications/veltro51.desktop"
    # %f: "Open With" in a file manager hands the program the file, which it loads.
    [ "$(entry_value "$entry" Exec)" = "/usr/bin/veltro51 %f" ] ||
        { echo "Exec= is not '/usr/bin/veltro51 %f'"; errors=$((errors + 1)); }
    data="$(entry_value "$entry" Path)"
    [ "$data" = /usr/share/veltro51 ] || { echo "Path= is '$data', not /usr/share/veltro51"; errors=$((errors + 1)); }
    if has veltro51; then
        # The program opens Help/<page> under its working directory, which the entry sets.
        for page in Installation Tutorial Reading; do
            [ -s "$root$data/Help/$page.htm" ] || { echo "no help page $data/Help/$page.htm"; errors=$((errors + 1)); }
        done
    fi
    icon="$(entry_value "$entry" Icon)"
    for n in 16 32 48 64 128 256; do
        png="$root/usr/share/icons/hicolor/${n}x$n/apps/$icon.png"
        file -b "$png" | grep -q "^PNG image data, $n x $n," ||
            { echo "icon $png is not a $n x $n PNG: $(file -b "$png")"; errors=$((errors + 1)); }
    done
    meta="$root/usr/share/metainfo/io.github.veltro51.Veltro51.metainfo.xml"
    grep -q '<launchable type="desktop-id">veltro51.desktop</launchable>' "$meta" ||
        { echo "the metainfo does not launch veltro51.desktop"; errors=$((errors + 1)); }
    grep -q "<release version=\"$PKG_VERSION\"" "$meta" ||
        { echo "the metainfo names no release $PKG_VERSION"; errors=$((errors + 1)); }
    zcat "$root/usr/share/doc/veltro51/changelog.gz" | head -n 1 | grep -q "^veltro51 ($PKG_VERSION) " ||
        { echo "the changelog's first entry is not $PKG_VERSION"; errors=$((errors + 1)); }

    # The udev rule must match the ids the program looks for, in the lower-case hex of sysfs.
    for pair in VENDOR:idVendor PRODUCT:idProduct; do
        id="${pair%%:*}" attr="${pair#*:}"
        hex="$(sed -n "s/.*ISP_${id}_ID = 0x\([0-9A-Fa-f]\{4\}\);.*/\1/p" "$SOURCE_DIR/link/Requests.h")"
        [ -n "$hex" ] || fail "no ISP_${id}_ID in link/Requests.h"
        grep -q "ATTR{$attr}==\"$(echo "$hex" | tr A-F a-f)\"" "$root/usr/lib/udev/rules.d/60-veltro51.rules" ||
            { echo "the udev rule does not match $attr $hex"; errors=$((errors + 1)); }
    done
    grep -q 'TAG+="uaccess"' "$root/usr/lib/udev/rules.d/60-veltro51.rules" ||
        { echo "the udev rule gives no uaccess"; errors=$((errors + 1)); }

    [ $errors -eq 0 ] || fail "$errors problem(s) in the package's contents"
    echo "contents: every file in its place"
    ;;

depends)
    deb="$(deb_file)"
    depends="$(dpkg-deb -f "$deb" Depends)"
    echo "Depends: $depends"
    # Which runtime packages the installed binaries need, from their own NEEDED entries: the field
    # must come from dpkg-shlibdeps, not from a hand-kept list.
    needed="$(find "$root/usr" -type f \( -perm -u+x -o -name '*.so*' \) -exec sh -c \
        'file -b "$1" | grep -q ^ELF && readelf -d "$1"' sh {} \; | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | sort -u)"
    echo "needed: $(echo $needed)"
    want=()
    [ -z "$needed" ] || want+=(libc6)
    grep -q '^libusb-0\.1\.so' <<<"$needed" && want+=(libusb-0.1-4)
    grep -q '^libwx_gtk3u_core-3\.2\.so' <<<"$needed" && want+=(libwxgtk3.2-1)
    grep -q '^libwx_baseu-3\.2\.so' <<<"$needed" && want+=(libwxbase3.2-1)
    # The command-line tool talks USB through libusb-0.1 (veltro51-sim only starts another
    # program), and the desktop program is built on wx for GTK 3.
    if has veltro51-cli && ! grep -q '^libusb-0\.1\.so' <<<"$needed"; then
        fail "no installed binary needs libusb-0.1"
    fi
    if has veltro51 && ! grep -q '^libwx_gtk3u_core-3\.2\.so' <<<"$needed"; then
        fail "veltro51 does not need the wx GTK 3 library"
    fi
    for p in "${want[@]}"; do
        grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends does not name $p"
    done
    if grep -Eq -- '-dev( |,|$)' <<<"$depends"; then
        fail "Depends names a development package"
    fi
    echo "depends: ${want[*]:-nothing to depend on}"
    ;;

programs)
    [ -n "$PKG_PROGRAMS" ] || { echo "no programs in this build"; exit 0; }
    # The tools read the chip last chosen from here; the user's own settings stay out of it.
    export XDG_CONFIG_HOME="$PKG_WORK/config"
    for p in $PKG_PROGRAMS; do
        out="$("$root/usr/bin/$p" --version 2>&1)" || fail "/usr/bin/$p --version failed: $out"
        echo "$p --version: $out"
        grep -q "$PKG_VERSION" <<<"$out" || fail "/usr/bin/$p --version does not print $PKG_VERSION"
    done
    # Every option that a program's --help names is in its man page.
    for p in veltro51-cli veltro51-sim; do
        has "$p" || continue
        help="$("$root/usr/bin/$p" --help 2>&1)" || fail "/usr/bin/$p --help failed: $help"
        page="$(zcat "$root/usr/share/man/man1/$p.1.gz" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g')"
        for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
            grep -q -- "$option" <<<"$page" || fail "$p --help names $option, its man page does not"
        done
        # And every command of the command-line tool (the first word of each line of Commands:)
        # heads an entry of the man page.
        tags="$(zcat "$root/usr/share/man/man1/$p.1.gz" | sed -n '/^\.TP/{n;p}' |
            sed -e 's/^\.[BIR]* //' -e 's/\\f[BIRP]//g' -e 's/[ "].*//')"
        for command in $(sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p' <<<"$help"); do
            grep -qx "$command" <<<"$tags" || fail "$p --help names the command $command, its man page does not"
        done
        echo "$p: every option of --help is in the man page"
    done
    # The installed simulator runs a program with the installed preload library below it.
    if has veltro51-sim; then
        # A sanitizer build's library would refuse a preload ahead of its runtime.
        export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
        preload="$("$root/usr/bin/veltro51-sim" -- sh -c 'echo "$LD_PRELOAD"')" || fail "veltro51-sim -- sh failed"
        [ "$preload" = "$(realpath "$root/usr/lib/veltro51/libveltrosim.so")" ] ||
            fail "veltro51-sim preloads '$preload', not the installed libveltrosim.so"
        echo "veltro51-sim: preloads /usr/lib/veltro51/libveltrosim.so"
        # The installed command-line tool finds the simulated programmer through the installed
        # libusb-0.1 and names the chip in its socket by the signature it reads (another chip
        # than the one selected, so that the name can only come from the device).
        if has veltro51-cli; then
            out="$("$root/usr/bin/veltro51-sim" --chip AT89S51 -- "$root/usr/bin/veltro51-cli" --chip at89s52 info 2>&1)" ||
                fail "veltro51-sim -- veltro51-cli info failed: $out"
            echo "$out"
            grep -q "AT89S51" <<<"$out" || fail "veltro51-cli info under veltro51-sim did not name the AT89S51"
        fi
    fi
    ;;

desktop)
    # Started as the menu starts it (the entry's Exec= in its Path=), the program shows its main
    # window, and Help > Installation hands the installed page to the desktop's program for it.
    if [ -z "${PKG_ON_OWN_DISPLAY:-}" ]; then
        [ -x "$PRIVATE_DISPLAY" ] || fail "no $PRIVATE_DISPLAY"
        PKG_ON_OWN_DISPLAY=1 exec "$PRIVATE_DISPLAY" bash "$0" "$1" desktop
    fi
    command -v xdotool >/dev/null || fail "xdotool is missing (tools/deps installs it)"
    entry="$root/usr/share/applications/veltro51.desktop"
    # Started from the menu, with no file: the launcher drops the field codes.
    read -ra command <<<"$(entry_value "$entry" Exec | sed 's/ %[fFuU]//g')"
    data="$(entry_value "$entry" Path)"
    [ -d "$root$data" ] || fail "Path=$data is not in the package"
    tmp="$(mktemp -d)"
    pid=""
    cleanup() {
        [ -z "$pid" ] || { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; }
        rm -rf "$tmp"
    }
    trap cleanup EXIT
    mkdir -p "$tmp/bin" "$tmp/home"
    printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s/opened"\n' "$tmp" >"$tmp/bin/xdg-open"
    chmod +x "$tmp/bin/xdg-open"
    (cd "$root$data" && exec env HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
        PATH="$tmp/bin:$PATH" VELTRO_TEST_HOLD_MS=0 VELTRO_TEST_REPORT_SHOWN=1 \
        "$root${command[0]}" "${command[@]:1}" >"$tmp/out" 2>"$tmp/err") &
    pid=$!
    for _ in $(seq 300); do
        grep -q '^shown$' "$tmp/out" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || { cat "$tmp/err"; fail "the program ended before its main window showed"; }
        sleep 0.1
    done
    grep -q '^shown$' "$tmp/out" || { cat "$tmp/err"; fail "no main window within 30 s"; }
    window="$(xdotool search --name '^Untitled - Veltro 51$' | head -n 1)"
    [ -n "$window" ] || fail "no window captioned \"Untitled - Veltro 51\""
    echo "main window shown: \"Untitled - Veltro 51\""
    # Help is the last menu; Installation is its first item.
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$window" key alt+h
        sleep 0.3
        xdotool key Return
        for _ in $(seq 30); do
            [ -s "$tmp/opened" ] && break 2
            sleep 0.1
        done
        xdotool key Escape
    done
    [ -s "$tmp/opened" ] || { cat "$tmp/err"; fail "Help > Installation opened nothing"; }
    opened="$(head -n 1 "$tmp/opened")"
    [ "$opened" = "$root$data/Help/Installation.htm" ] || fail "Help > Installation opened $opened"
    ! grep -q "Cannot Locate Help File" "$tmp/err" || fail "the program did not find its help pages"
    echo "Help > Installation opens $data/Help/Installation.htm"
    ;;

validate)
    desktop-file-validate "$root/usr/share/applications/veltro51.desktop"
    appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.veltro51.Veltro51.metainfo.xml"
    ;;

lintian)
    deb="$(deb_file)"
    # Lintian refuses nothing as root but says so on stderr; its findings go to stdout.
    out="$(lintian --no-tag-display-limit "$deb" 2>/dev/null)" || true
    echo "$out"
    if grep -q '^E:' <<<"$out"; then
        fail "lintian reports errors"
    fi
    echo "lintian: no errors"
    ;;

prefix)
    # Into an arbitrary prefix, and staged with DESTDIR for another: the entry names the paths the
    # files will have, never the staging folder.
    dir="$PKG_WORK-prefix"
    rm -rf "$dir"
    for how in prefix staged; do
        if [ $how = prefix ]; then
            prefix="$dir/prefix with blank"
            top="$prefix"
            cmake --install "$BINARY_DIR" --prefix "$prefix" >"$dir.log" 2>&1 || { cat "$dir.log"; fail "install"; }
        else
            prefix=/opt/veltro51
            top="$dir/stage$prefix"
            DESTDIR="$dir/stage" cmake --install "$BINARY_DIR" --prefix "$prefix" >"$dir.log" 2>&1 ||
                { cat "$dir.log"; fail "staged install"; }
        fi
        entry="$top/share/applications/veltro51.desktop"
        [ -f "$entry" ] || fail "$how: no $entry"
        [ "$(entry_value "$entry" Path)" = "$prefix/share/veltro51" ] || fail "$how: Path= is $(entry_value "$entry" Path)"
        [ "$(entry_value "$entry" Exec)" = "$prefix/bin/veltro51 %f" ] || fail "$how: Exec= is $(entry_value "$entry" Exec)"
        for f in lib/udev/rules.d/60-veltro51.rules share/metainfo/io.github.veltro51.Veltro51.metainfo.xml \
            share/icons/hicolor/48x48/apps/veltro51.png share/man/man1/veltro51-cli.1.gz; do
            [ -f "$top/$f" ] || fail "$how: no $top/$f"
        done
        for p in $PKG_PROGRAMS; do
            [ -x "$top/bin/$p" ] || fail "$how: no $top/bin/$p"
        done
        if has veltro51; then
            [ -f "$top/share/veltro51/Help/Installation.htm" ] || fail "$how: no help pages under $top/share/veltro51"
        fi
        grep -qxF "$prefix/share/applications/veltro51.desktop" "$BINARY_DIR/install_manifest.txt" ||
            fail "$how: the entry is not in install_manifest.txt"
    done
    rm -rf "$dir" "$dir.log"
    echo "prefix: installs into any prefix"
    ;;

*)
    fail "unknown mode $mode"
    ;;
esac
