#!/usr/bin/env bash
# Checks of the Debian packages (veltro51-cli, veltro51 and veltro51-sim) and of installation into a
# prefix.
#   package-test.sh CONF MODE
# CONF holds shell assignments written by CMake (PKG_WORK, PKG_EXPECTED_<package>, PKG_PROGRAMS,
# PKG_VERSION, PKG_COPYRIGHT, SOURCE_DIR, BINARY_DIR, ...). "build" makes the packages in PKG_WORK
# and unpacks both into PKG_WORK/root; the other modes except "prefix" look at that.
set -euo pipefail
# shellcheck disable=SC1090
source "$1"
mode="$2"

packages="veltro51-cli veltro51 veltro51-sim"
# The .deb of package $1 in folder $2 (default PKG_WORK).
deb_file() {
    local debs=("${2:-$PKG_WORK}/$1"_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one $1_*.deb in ${2:-$PKG_WORK}, found: ${debs[*]}"
    echo "${debs[0]}"
}
# The files (and links) of a .deb, one a line, without the leading ./
deb_files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort; }
expected_of() {
    local var="PKG_EXPECTED_${1//-/_}"
    echo "${!var}"
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
    for p in $packages; do
        deb="$(deb_file "$p")"
        dpkg-deb --info "$deb"
        dpkg -x "$deb" "$root"
    done
    ;;

contents)
    errors=0
    for p in $packages; do
        deb="$(deb_file "$p")"
        expected=" $(expected_of "$p") "
        files="$(deb_files "$deb")"
        for f in $expected; do
            grep -qxF "$f" <<<"$files" || { echo "$p: missing /$f"; errors=$((errors + 1)); }
        done
        # Nothing else: no headers, static libraries or build leftovers, and nothing of the other
        # package. Help pages may bring pictures.
        while read -r f; do
            case "$expected" in *" $f "*) continue ;; esac
            case "$p:$f" in veltro51:usr/share/veltro51/Help/*) continue ;; esac
            echo "$p: unexpected /$f"
            errors=$((errors + 1))
        done <<<"$files"
        # Every file belongs to root, the way dpkg will install it.
        if dpkg-deb -c "$deb" | awk '$2 != "root/root"' | grep .; then
            echo "$p: files not owned by root/root"
            errors=$((errors + 1))
        fi
        [ "$(dpkg-deb -f "$deb" Version)" = "$PKG_VERSION" ] ||
            { echo "$p: the package's version is not $PKG_VERSION"; errors=$((errors + 1)); }
        [ "$(dpkg-deb -f "$deb" Source)" = veltro51 ] || { echo "$p: its source is not veltro51"; errors=$((errors + 1)); }

        # The licence: a machine-readable copyright file, our one copyright line, GPL 3 or later by
        # reference to the system's copy of the text.
        copyright="$root/usr/share/doc/$p/copyright"
        if [ -f "$copyright" ]; then
            head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
                { echo "$p: the copyright file is not in the machine-readable format"; errors=$((errors + 1)); }
            # The first Files paragraph covers everything.
            awk -v RS= 'NR == 2' "$copyright" | grep -qx 'Files: \*' ||
                { echo "$p: the copyright file's first Files paragraph is not Files: *"; errors=$((errors + 1)); }
            awk -v RS= 'NR == 2' "$copyright" | grep -qxF "Copyright: $PKG_COPYRIGHT_DEP5" ||
                { echo "$p: the copyright file does not say Copyright: $PKG_COPYRIGHT_DEP5"; errors=$((errors + 1)); }
            awk -v RS= 'NR == 2' "$copyright" | grep -qxF "License: $PKG_LICENSE" ||
                { echo "$p: the copyright file does not license everything under $PKG_LICENSE"; errors=$((errors + 1)); }
            # Every licence named has its paragraph, which points to the text in common-licenses.
            for l in $(sed -n 's/^License: //p' "$copyright" | sort -u); do
                para="$(awk -v RS= -v l="License: $l" 'index($0, l "\n") == 1' "$copyright")"
                [ -n "$para" ] || { echo "$p: the licence $l has no paragraph of its own"; errors=$((errors + 1)); continue; }
                common="$(grep -o '/usr/share/common-licenses/[A-Za-z0-9.-]*' <<<"$para" | head -n 1)"
                [ -n "$common" ] && [ -f "$common" ] ||
                    { echo "$p: the licence $l names no text in /usr/share/common-licenses"; errors=$((errors + 1)); }
            done
        fi
    done
    # The source carries the licence's full text.
    [ -f /usr/share/common-licenses/GPL-3 ] && ! cmp -s "$SOURCE_DIR/COPYING" /usr/share/common-licenses/GPL-3 &&
        { echo "COPYING is not the GNU GPL version 3"; errors=$((errors + 1)); }
    for p in $PKG_PROGRAMS; do
        [ -x "$root/usr/bin/$p" ] || { echo "not executable: /usr/bin/$p"; errors=$((errors + 1)); }
    done

    entry="$root/usr/share/applications/veltro51.desktop"
    # %f: "Open With" in a file manager hands the program the file, which it loads.
    [ "$(entry_value "$entry" Exec)" = "/usr/bin/veltro51 %f" ] ||
        { echo "Exec= is not '/usr/bin/veltro51 %f'"; errors=$((errors + 1)); }
    # File managers offer the program for the Intel HEX type that the package defines.
    [ "$(entry_value "$entry" MimeType)" = "text/x-ihex;" ] ||
        { echo "MimeType= is not 'text/x-ihex;'"; errors=$((errors + 1)); }
    grep -q '<mime-type type="text/x-ihex">' "$root/usr/share/mime/packages/veltro51.xml" ||
        { echo "the package's MIME file does not define text/x-ihex"; errors=$((errors + 1)); }
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
    grep -qxF "  <project_license>$PKG_LICENSE</project_license>" "$meta" ||
        { echo "the metainfo's project_license is not $PKG_LICENSE"; errors=$((errors + 1)); }
    # Debian 12's AppStream reads only <developer_name>, AppStream 1.0 only <developer>.
    for tag in "<developer_name>$PKG_COPYRIGHT_HOLDER</developer_name>" "<name>$PKG_COPYRIGHT_HOLDER</name>"; do
        grep -qF "$tag" "$meta" || { echo "the metainfo does not say $tag"; errors=$((errors + 1)); }
    done
    grep -qF '<mediatype>text/x-ihex</mediatype>' "$meta" ||
        { echo "the metainfo provides no text/x-ihex"; errors=$((errors + 1)); }
    for p in $packages; do
        zcat "$root/usr/share/doc/$p/changelog.gz" | head -n 1 | grep -q "^veltro51 ($PKG_VERSION) " ||
            { echo "$p: the changelog's first entry is not $PKG_VERSION"; errors=$((errors + 1)); }
    done

    # The udev rule gives the programmer, and only it (every rule matches its ids, in the lower-case
    # hex of sysfs), to the user at the seat and to the group plugdev.
    rule="$root/usr/lib/udev/rules.d/60-veltro51.rules"
    rules="$(grep -v '^[[:space:]]*\(#\|$\)' "$rule")"
    [ -n "$rules" ] || { echo "the udev rule file holds no rule"; errors=$((errors + 1)); }
    for pair in VENDOR:idVendor PRODUCT:idProduct; do
        id="${pair%%:*}" attr="${pair#*:}"
        hex="$(sed -n "s/.*ISP_${id}_ID = 0x\([0-9A-Fa-f]\{4\}\);.*/\1/p" "$SOURCE_DIR/link/Requests.h")"
        [ -n "$hex" ] || fail "no ISP_${id}_ID in link/Requests.h"
        if grep -vF "ATTR{$attr}==\"$(echo "$hex" | tr A-F a-f)\"" <<<"$rules"; then
            echo "a udev rule does not match $attr $hex"
            errors=$((errors + 1))
        fi
    done
    for assignment in 'TAG+="uaccess"' 'GROUP="plugdev"' 'MODE="0660"'; do
        grep -qF "$assignment" <<<"$rules" || { echo "the udev rule does not set $assignment"; errors=$((errors + 1)); }
    done
    # The Installation page gives the same rule to copy by hand.
    if has veltro51; then
        page_rule="$(sed -n 's|^<pre>\(SUBSYSTEM==.*\)</pre>$|\1|p' "$root/usr/share/veltro51/Help/Installation.htm")"
        [ "$page_rule" = "$rules" ] || { echo "the Installation page's rule is not the installed one"; errors=$((errors + 1)); }
    fi

    [ $errors -eq 0 ] || fail "$errors problem(s) in the package's contents"
    echo "contents: every file in its place"
    ;;

depends)
    # Which runtime packages each package's binaries need, from their own NEEDED entries: the field
    # must come from dpkg-shlibdeps, not from a hand-kept list.
    for p in $packages; do
        deb="$(deb_file "$p")"
        depends="$(dpkg-deb -f "$deb" Depends)"
        echo "$p Depends: $depends"
        needed="$(for f in $(expected_of "$p"); do
            if file -b "$root/$f" | grep -q ^ELF; then readelf -d "$root/$f"; fi
        done | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | sort -u)"
        echo "$p needs: $(echo $needed)"
        want=()
        [ -z "$needed" ] || want+=(libc6)
        grep -q '^libusb-0\.1\.so' <<<"$needed" && want+=(libusb-0.1-4)
        grep -q '^libwx_gtk3u_core-3\.2\.so' <<<"$needed" && want+=(libwxgtk3.2-1)
        grep -q '^libwx_baseu-3\.2\.so' <<<"$needed" && want+=(libwxbase3.2-1)
        for d in "${want[@]}"; do
            grep -Eq "(^|, )$d( |,|$)" <<<"$depends" || fail "$p: Depends does not name $d"
        done
        if grep -Eq -- '-dev( |,|$)' <<<"$depends"; then
            fail "$p: Depends names a development package"
        fi
        echo "$p depends: ${want[*]:-nothing to depend on}"
    done
    field() { dpkg-deb -f "$(deb_file "$1")" "$2"; }
    # A headless production PC: the command-line tool talks USB through libusb-0.1 and needs
    # nothing graphical, neither itself nor through another package of ours.
    cli="$(field veltro51-cli Depends)"
    if has veltro51-cli && ! grep -q 'libusb-0\.1-4' <<<"$cli"; then
        fail "veltro51-cli does not depend on libusb-0.1-4"
    fi
    if grep -Eiq 'wx|gtk|x11|xcb|cairo|pango|gdk|glib|veltro51' <<<"$cli $(field veltro51-cli Pre-Depends)"; then
        fail "veltro51-cli depends on more than a headless system has: $cli"
    fi
    # The desktop programs are built on wx for GTK 3 and come with the command-line tool of
    # their very version.
    main="$(field veltro51 Depends)"
    if has veltro51 && ! grep -q 'libwxgtk3\.2-1' <<<"$main"; then
        fail "veltro51 does not depend on the wx GTK 3 library"
    fi
    grep -Eq "(^|, )veltro51-cli \(= $PKG_VERSION\)(,|$)" <<<"$main" || fail "veltro51 does not depend on veltro51-cli (= $PKG_VERSION)"
    # Upgrades from 2.4.0 and before, whose veltro51 held the command-line tool, its man page and
    # the udev rule: veltro51-cli takes those files over, and no such veltro51 stays beside it.
    # The version named must take in 2.4.0 and leave out this one.
    for f in Replaces Breaks; do
        value="$(field veltro51-cli $f)"
        split="$(sed -n 's/^veltro51 (<< \([^)]*\))$/\1/p' <<<"$value")"
        [ -n "$split" ] || fail "veltro51-cli's $f is '$value', not 'veltro51 (<< VERSION)'"
        dpkg --compare-versions 2.4.0 lt "$split" && dpkg --compare-versions "$PKG_VERSION" ge "$split" ||
            fail "veltro51-cli's $f: $split does not lie above 2.4.0 and up to $PKG_VERSION"
    done
    # veltro51-sim only starts another program: neither it nor its library needs them.
    sim="$(field veltro51-sim Depends)"
    if grep -Eq 'libusb|libwx|veltro51' <<<"$sim"; then
        fail "veltro51-sim depends on more than it runs on: $sim"
    fi
    # The simulator is only suggested: nothing of it is installed unless asked for.
    for p in veltro51-cli veltro51; do
        [ "$(field $p Suggests)" = veltro51-sim ] || fail "$p does not suggest veltro51-sim"
        for f in Depends Recommends Pre-Depends; do
            if field $p $f | grep -q veltro51-sim; then
                fail "$p's $f names veltro51-sim"
            fi
        done
    done
    ;;

programs)
    [ -n "$PKG_PROGRAMS" ] || { echo "no programs in this build"; exit 0; }
    # The tools read the chip last chosen from here; the user's own settings stay out of it.
    export XDG_CONFIG_HOME="$PKG_WORK/config"
    # One version and one copyright line everywhere: --version of every program (first line, then
    # the copyright line and the licence) and every man page.
    for p in $PKG_PROGRAMS; do
        out="$("$root/usr/bin/$p" --version 2>&1)" || fail "/usr/bin/$p --version failed: $out"
        echo "$p --version: $out"
        head -n 1 <<<"$out" | grep -q " $PKG_VERSION\$" || fail "/usr/bin/$p --version does not print $PKG_VERSION"
        [ "$(sed -n 2p <<<"$out")" = "$PKG_COPYRIGHT" ] || fail "/usr/bin/$p --version does not print '$PKG_COPYRIGHT'"
        grep -q "GPL version 3 or later" <<<"$out" || fail "/usr/bin/$p --version names no licence"
    done
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        zcat "$page" | grep -qxF "$PKG_COPYRIGHT." || fail "$(basename "$page") does not say $PKG_COPYRIGHT"
        zcat "$page" | head -n 1 | grep -qF "\"veltro51 $PKG_VERSION\"" || fail "$(basename "$page") is not of $PKG_VERSION"
    done
    # The desktop program holds its copyright line only scrambled (the About box's), and shows it.
    if has veltro51 && grep -qF "$PKG_COPYRIGHT" "$root/usr/bin/veltro51"; then
        fail "/usr/bin/veltro51 holds its copyright line in plain"
    fi
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
        [ "$preload" = "$(realpath "$root/$PKG_SIM_LIBRARY")" ] ||
            fail "veltro51-sim preloads '$preload', not the installed libveltrosim.so"
        echo "veltro51-sim: preloads /$PKG_SIM_LIBRARY"
        # The installed command-line tool finds the simulated programmer through the installed
        # libusb-0.1 and names the chip in its socket by the signature it reads (no chip is
        # asked for, so that the name can only come from the device).
        if has veltro51-cli; then
            out="$("$root/usr/bin/veltro51-sim" --chip AT89S51 -- "$root/usr/bin/veltro51-cli" info 2>&1)" ||
                fail "veltro51-sim -- veltro51-cli info failed: $out"
            echo "$out"
            grep -q "Catalogue Chip : AT89S51" <<<"$out" || fail "veltro51-cli info under veltro51-sim did not name the AT89S51"
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
    mime="$root/usr/share/mime/packages/veltro51.xml"
    xmllint --noout "$mime"
    # The file type as the MIME database reads it: built beside the system's own types, which it
    # must neither contradict nor miss.
    tmp="$(mktemp -d)"
    trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/mime/packages"
    cp "$mime" /usr/share/mime/packages/freedesktop.org.xml "$tmp/mime/packages/"
    out="$(update-mime-database -V "$tmp/mime" 2>&1)" || fail "update-mime-database: $out"
    if grep -i -E 'warning|error|invalid' <<<"$out"; then
        fail "update-mime-database finds fault with $mime"
    fi
    for glob in '*.hex' '*.ihx'; do
        grep -qxF "50:text/x-ihex:$glob" "$tmp/mime/globs2" || fail "the database does not map $glob to text/x-ihex"
    done
    grep -qxF "text/x-ihex text/plain" "$tmp/mime/subclasses" || fail "text/x-ihex is no text/plain"
    # A file named otherwise is known by its first record: the magic matches a record, not a line
    # that merely starts with a colon.
    grep -qa 'text/x-ihex' "$tmp/mime/magic" || fail "the database has no magic for text/x-ihex"
    if command -v gio >/dev/null && command -v dbus-run-session >/dev/null; then
        printf ':020000040000FA\r\n:00000001FF\r\n' >"$tmp/firmware"
        printf ':note, not a record\n' >"$tmp/note"
        type_of() { XDG_DATA_HOME="$tmp" XDG_DATA_DIRS="$tmp" gio info -a standard::content-type "$1" | sed -n 's/.*standard::content-type: //p'; }
        [ "$(type_of "$tmp/firmware")" = text/x-ihex ] || fail "a record without an extension is $(type_of "$tmp/firmware")"
        [ "$(type_of "$tmp/note")" != text/x-ihex ] || fail "a line that starts with a colon is text/x-ihex"
    fi
    echo "validate: the desktop entry, the AppStream data and the MIME type are valid"
    ;;

lintian)
    debs=()
    for p in $packages; do debs+=("$(deb_file "$p")"); done
    # Every tag down to the informational and pedantic ones; the only ones allowed are those that
    # the package's override file explains (shown as O:, with its reason as N:). Lintian runs as
    # root but says so on stderr; its findings go to stdout.
    out="$(lintian -I --pedantic --show-overrides --tag-display-limit 0 "${debs[@]}" 2>/dev/null)" || true
    echo "$out"
    if grep -E '^[EWIPX]:' <<<"$out" >/dev/null; then
        fail "lintian reports tags that no override explains"
    fi
    # An override that no longer matches a finding is stale, and so is its reason.
    if grep -E '^[A-Z]: .*unused-override' <<<"$out"; then
        fail "lintian finds an override that no finding uses"
    fi
    echo "lintian -I --pedantic: no tag but the overridden ones"
    ;;

hardening)
    # Every binary of both packages: a position-independent executable (or shared library) with
    # RELRO and immediate binding, fortified calls and the stack protector, and stripped of the
    # sections that only name the compiler (lintian's binary-has-unneeded-section).
    errors=0
    checked=0
    for p in $packages; do
        for f in $(expected_of "$p"); do
            file -b "$root/$f" | grep -q '^ELF' || continue
            checked=$((checked + 1))
            what="$p: /$f"
            header="$(readelf -hW "$root/$f")"
            dynamic="$(readelf -dW "$root/$f")"
            symbols="$(readelf --dyn-syms -W "$root/$f")"
            grep -q 'Type: *DYN' <<<"$header" || { echo "$what is not position-independent"; errors=$((errors + 1)); }
            case "$f" in usr/bin/*)
                grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || { echo "$what is no PIE"; errors=$((errors + 1)); } ;;
            esac
            readelf -lW "$root/$f" | grep -q GNU_RELRO || { echo "$what has no RELRO"; errors=$((errors + 1)); }
            grep -Eq '\(FLAGS\).*BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || { echo "$what is not bound now"; errors=$((errors + 1)); }
            grep -Eq ' __[a-z]+_chk(@|$)' <<<"$symbols" || { echo "$what calls no fortified function"; errors=$((errors + 1)); }
            grep -q ' __stack_chk_fail' <<<"$symbols" || { echo "$what has no stack protector"; errors=$((errors + 1)); }
            if readelf -SW "$root/$f" | grep -Eq '\] \.(comment|note) '; then
                echo "$what keeps .comment or .note"
                errors=$((errors + 1))
            fi
            readelf -SW "$root/$f" | grep -q '\] \.symtab ' && { echo "$what is not stripped"; errors=$((errors + 1)); }
        done
    done
    [ $checked -gt 0 ] || fail "no binary in the packages"
    [ $errors -eq 0 ] || fail "$errors hardening problem(s)"
    echo "hardening: $checked binaries PIE, RELRO, BIND_NOW, fortified, stack-protected, stripped"
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
        # The installed simulator finds its library wherever the prefix is.
        if has veltro51-sim; then
            export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
            preload="$("$top/bin/veltro51-sim" -- sh -c 'echo "$LD_PRELOAD"')" || fail "$how: veltro51-sim -- sh failed"
            [ "$preload" = "$(realpath "$top/${PKG_SIM_LIBRARY#usr/}")" ] || fail "$how: veltro51-sim preloads '$preload'"
        fi
    done
    rm -rf "$dir" "$dir.log"
    echo "prefix: installs into any prefix"
    ;;

packagers)
    # A distribution's build of the two packages, as the README's packaging section gives it: no
    # tests (CMake may not even look for GoogleTest or the X11 test libraries), warnings that are
    # not errors (-Wabi alone warns in every C++ file, as a newer compiler's new warning would), and
    # the packager's own maintainer address. It must make the same three packages.
    dir="$PKG_WORK-packagers"
    rm -rf "$dir"
    mkdir -p "$dir"
    maintainer="A Packager <packager@example.org>"
    CXXFLAGS="${CXXFLAGS:+$CXXFLAGS }-Wabi" cmake -S "$SOURCE_DIR" -B "$dir/build" -G "$CMAKE_GENERATOR" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DVELTRO_BUILD_GUI="$VELTRO_BUILD_GUI" \
        -DVELTRO_MAINTAINER="$maintainer" \
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON >"$dir/configure.log" 2>&1 ||
        { cat "$dir/configure.log"; fail "configure with BUILD_TESTING=OFF"; }
    cmake --build "$dir/build" -j"$(nproc)" >"$dir/build.log" 2>&1 || { tail -n 40 "$dir/build.log"; fail "build"; }
    grep -q 'warning:.*-Wabi' "$dir/build.log" || fail "the build showed no warning, so it did not show that warnings are no errors"
    # Nothing of the tests, the benchmarks or the fuzz targets was built or even configured.
    if grep -E "\"file\": \"$SOURCE_DIR/(tests|bench|fuzz)/" "$dir/build/compile_commands.json"; then
        fail "the build compiled tests, benchmarks or fuzz targets"
    fi
    if grep -E -- '-Werror( |")' "$dir/build/compile_commands.json" | head -n 1 | grep .; then
        fail "warnings are errors in a packager's build"
    fi
    (cd "$dir/build" && cpack -G DEB -B "$dir/debs") >"$dir/cpack.log" 2>&1 || { cat "$dir/cpack.log"; fail "cpack"; }
    for p in $packages; do
        deb="$(deb_file "$p" "$dir/debs")"
        diff <(deb_files "$(deb_file "$p")") <(deb_files "$deb") || fail "$p from a packager's build holds other files"
        [ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "$p: the packager's maintainer is not in the package"
    done
    rm -rf "$dir"
    echo "packagers: BUILD_TESTING=OFF builds the programs, warnings are no errors, the same three packages"
    ;;

upgrade)
    # An upgrade from 2.4.0, whose one package veltro51 held the desktop program and the
    # command-line tool, to the split packages, as apt does it (both new packages in one dpkg run).
    # The old package is made here from the files that now lie in veltro51-cli and veltro51. dpkg
    # works on a root of its own; the maintainer scripts run outside it, with DPKG_ROOT set.
    dir="$PKG_WORK-upgrade"
    rm -rf "$dir"
    trap 'rm -rf "$dir"' EXIT
    old="$dir/old"
    mkdir -p "$old/DEBIAN" "$dir/root/var/lib/dpkg/updates" "$dir/root/var/lib/dpkg/info"
    : >"$dir/root/var/lib/dpkg/status"
    for p in veltro51-cli veltro51; do dpkg -x "$(deb_file "$p")" "$old"; done
    rm -rf "$old/usr/share/doc/veltro51-cli" "$old/usr/share/lintian/overrides/veltro51-cli"
    printf '%s\n' "Package: veltro51" "Version: 2.4.0" \
        "Architecture: $(dpkg-deb -f "$(deb_file veltro51)" Architecture)" \
        "Maintainer: The Veltro 51 developers <veltro51@example.org>" \
        "Description: programmer for AT89Sxx flash microcontrollers over USB" >"$old/DEBIAN/control"
    dpkg-deb --root-owner-group -b "$old" "$dir/veltro51_2.4.0.deb" >/dev/null
    # As apt runs it: a package that the new one breaks may be deconfigured until its own upgrade.
    dpkg_root() {
        dpkg --root="$dir/root" --force-script-chrootless --force-depends --force-not-root \
            --auto-deconfigure --log=/dev/null "$@"
    }
    dpkg_root -i "$dir/veltro51_2.4.0.deb" >"$dir/log" 2>&1 || { cat "$dir/log"; fail "installing the old veltro51"; }
    dpkg_root -i "$(deb_file veltro51-cli)" "$(deb_file veltro51)" >"$dir/log" 2>&1 ||
        { cat "$dir/log"; fail "upgrading to veltro51-cli and veltro51"; }
    status="$(dpkg-query --admindir="$dir/root/var/lib/dpkg" -W -f='${Package} ${Version} ${db:Status-Abbrev}\n')"
    echo "$status"
    for p in veltro51-cli veltro51; do
        grep -qx "$p $PKG_VERSION ii *" <<<"$status" || fail "$p $PKG_VERSION is not installed after the upgrade"
    done
    # Every file is there and belongs to the package that holds it now.
    for p in veltro51-cli veltro51; do
        for f in $(expected_of "$p"); do
            [ -e "$dir/root/$f" ] || fail "/$f is missing after the upgrade"
            owner="$(dpkg-query --admindir="$dir/root/var/lib/dpkg" -S "/$f" | sed 's/:.*//')"
            [ "$owner" = "$p" ] || fail "/$f belongs to '$owner', not $p"
        done
    done
    # And removing the desktop package later leaves the command-line tool whole.
    dpkg_root -r veltro51 >"$dir/log" 2>&1 || { cat "$dir/log"; fail "removing veltro51"; }
    for f in $(expected_of veltro51-cli); do
        [ -e "$dir/root/$f" ] || fail "/$f went with veltro51"
    done
    echo "upgrade: veltro51 2.4.0 to veltro51-cli and veltro51 $PKG_VERSION, every file taken over"
    ;;

completion)
    # The installed completions. bash: the function that 'complete' names, driven with COMP_WORDS as
    # bash would (a word split at '=' as COMP_WORDBREAKS does), in a folder of files; zsh: syntax.
    bashfile="$root/usr/share/bash-completion/completions/veltro51-cli"
    zshfile="$root/usr/share/zsh/vendor-completions/_veltro51-cli"
    command -v zsh >/dev/null || fail "zsh is missing (tools/deps installs it)"
    zsh -n "$zshfile" || fail "$zshfile: zsh finds a syntax error"
    head -n 1 "$zshfile" | grep -qx '#compdef veltro51-cli' || fail "$zshfile does not start with #compdef veltro51-cli"
    tmp="$(mktemp -d)"
    trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/files/sub dir" "$tmp/bin"
    for f in blink.hex BLINK2.HEX loader.ihx raw.bin notes.txt job.toml Job2.TOML "sub dir/x.hex"; do : >"$tmp/files/$f"; done
    # --programmer offers the places that 'list' prints: a stand-in tool prints two programmers.
    printf '#!/bin/sh\n[ "$1" = list ] && printf "001/004  Veltro-8051\\n003/001  Veltro-8051\\n"\n' >"$tmp/bin/veltro51-cli"
    chmod +x "$tmp/bin/veltro51-cli"
    chips="$(sed -n 's/^ *{"\(AT89S[0-9]*\)".*/\1/p' "$SOURCE_DIR/chips/ChipCatalogue.cpp" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
    [ -n "$chips" ] || fail "no chips found in chips/ChipCatalogue.cpp"
    # Cases: the words after veltro51-cli, the last being completed | COMPREPLY, sorted.
    cases=(
        "|blank burn convert dump erase info job list lock read run speed store verify"
        "b|blank burn"
        "--chip|--chip"
        "--q|--quiet"
        "--chip |$chips"
        "--chip at89s5|AT89S51 AT89S52"
        "--chip = |$chips"
        "--chip = AT89S2|AT89S2051"
        "--programmer |001/004 003/001"
        "--programmer = 00|001/004 003/001"
        "burn |- BLINK2.HEX blink.hex loader.ihx raw.bin sub dir"
        "burn --lock |1 2 3 4"
        "burn --lock 2 |- BLINK2.HEX blink.hex loader.ihx raw.bin sub dir"
        "burn --chip AT89S52 bl|blink.hex"
        "burn sub|sub dir"
        "burn sub\\ dir/|sub dir/x.hex"
        "burn blink.hex |"
        "burn blink.hex --ser|--serial --serial-file --serial-reset --serial-store"
        "burn - --format |bin hex"
        "verify -|- --chip --force --format --help --json --lenient --programmer --quiet --verbose --version"
        "convert blink.hex |- BLINK2.HEX blink.hex loader.ihx raw.bin sub dir"
        "convert blink.hex raw.bin |"
        "read |- BLINK2.HEX blink.hex loader.ihx raw.bin sub dir"
        "dump --s|--sum"
        "lock --write |1 2 3 4"
        "speed --set |188 3000 750 94"
        "run |Job2.TOML job.toml sub dir"
        "job |Job2.TOML job.toml sub dir"
        "job job.toml |burn"
        "job job.toml burn --wa|--watch"
        "store |init"
        "store init |"
        "burn --log |BLINK2.HEX Job2.TOML blink.hex job.toml loader.ihx notes.txt raw.bin sub dir"
    )
    # shellcheck disable=SC2016 # the driver is bash code of its own
    driver='
        source "$1"
        line="$2"
        # The words as bash gives them: split at blanks (a backslash keeps one); the last may be empty.
        COMP_WORDS=(veltro51-cli)
        eval "COMP_WORDS+=($line)"
        [[ -z $line || $line == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="veltro51-cli $line" COMP_POINT=${#COMP_LINE}
        spec="$(complete -p veltro51-cli)"
        [[ $spec == "complete -F "*" veltro51-cli" ]] || { echo "no complete -F: $spec"; exit 1; }
        func="${spec#complete -F }" func="${func%% *}"
        "$func" veltro51-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " " | sed "s/ $//"'
    errors=0
    for c in "${cases[@]}"; do
        words="${c%%|*}" expect="${c#*|}"
        got="$(cd "$tmp/files" && PATH="$tmp/bin:$PATH" bash -c "$driver" bash "$bashfile" "$words" 2>&1)"
        if [ "$got" != "$expect" ]; then
            echo "veltro51-cli $words<TAB>: '$got', not '$expect'"
            errors=$((errors + 1))
        fi
    done
    [ $errors -eq 0 ] || fail "$errors completion(s) wrong"
    echo "completion: ${#cases[@]} cases of bash completion, zsh syntax"
    ;;

configure)
    # A distribution's configuration, as debhelper makes it: dpkg-buildflags' own flags in CFLAGS,
    # CXXFLAGS (with CPPFLAGS, which CMake ignores) and LDFLAGS, here with -D_FORTIFY_SOURCE=3 and
    # another stack protector, and its own library folder. The build keeps them, adds only what
    # they lack, and gives no flag twice.
    dir="$PKG_WORK-configure"
    rm -rf "$dir"
    trap 'rm -rf "$dir" "$dir.log"' EXIT
    mkdir -p "$dir"
    command -v dpkg-buildflags >/dev/null || fail "dpkg-buildflags is missing"
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cppflags="$(dpkg-buildflags --get CPPFLAGS | sed 's/-D_FORTIFY_SOURCE=2/-D_FORTIFY_SOURCE=3/')"
    cflags="$(dpkg-buildflags --get CFLAGS | sed 's/-fstack-protector-strong/-fstack-protector-all/') $cppflags"
    cxxflags="$(dpkg-buildflags --get CXXFLAGS | sed 's/-fstack-protector-strong/-fstack-protector-all/') $cppflags"
    CFLAGS="$cflags" CXXFLAGS="$cxxflags" LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
        cmake -S "$SOURCE_DIR" -B "$dir/deb" -G Ninja -DBUILD_TESTING=OFF -DVELTRO_BUILD_GUI=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_LIBDIR=lib64 >"$dir.log" 2>&1 ||
        { cat "$dir.log"; fail "configure"; }
    # The compiler's command line of a C++ and a C source, and the link lines of a program and of
    # the shared library.
    ninja -C "$dir/deb" -t commands veltro51-cli veltrosim >"$dir/commands" || fail "ninja -t commands"
    for what in 'veltro51-cli\.dir/Main\.cpp\.o -c' 'veltrosim\.dir/Interpose\.c\.o -c' '-o cli/veltro51-cli ' '-o sim/libveltrosim\.so '; do
        line="$(grep -E -- "$what" "$dir/commands" | head -n 1)"
        [ -n "$line" ] || fail "no command line for $what"
        read -ra flags <<<"$line"
        dups="$(printf '%s\n' "${flags[@]}" | grep -E '^-(D|U|f|W|pie)' | sort | uniq -d)"
        [ -z "$dups" ] || fail "$what: given twice: $(echo $dups)"
        case $what in
        *-c)
            fortify="$(printf '%s\n' "${flags[@]}" | grep _FORTIFY_SOURCE | tr '\n' ' ')"
            [ "$fortify" = "-D_FORTIFY_SOURCE=3 " ] || fail "$what: fortify is '$fortify', not the environment's =3 alone"
            protector="$(printf '%s\n' "${flags[@]}" | grep stack-protector | tr '\n' ' ')"
            [ "$protector" = "-fstack-protector-all " ] || fail "$what: stack protector '$protector'"
            printf '%s\n' "${flags[@]}" | grep -q '^-ffile-prefix-map=' || fail "$what: no -ffile-prefix-map"
            ;;
        *)
            for f in -Wl,-z,relro -Wl,-z,now; do
                printf '%s\n' "${flags[@]}" | grep -qxF -- "$f" || fail "$what: no $f"
            done
            ;;
        esac
    done
    # Without anything from the environment, the build adds them all itself.
    env -u CFLAGS -u CXXFLAGS -u LDFLAGS -u DEB_BUILD_MAINT_OPTIONS cmake -S "$SOURCE_DIR" -B "$dir/plain" -G Ninja \
        -DBUILD_TESTING=OFF -DVELTRO_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$dir.log" 2>&1 ||
        { cat "$dir.log"; fail "configure"; }
    line="$(ninja -C "$dir/plain" -t commands veltro51-cli | grep -E 'veltro51-cli\.dir/Main\.cpp\.o -c' | head -n 1)"
    for f in -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Werror=format-security -ffile-prefix-map=; do
        grep -qF -- " $f" <<<"$line" || fail "a build without environment flags lacks $f"
    done
    # The preload library follows CMAKE_INSTALL_LIBDIR.
    grep -q '^VELTRO_SIM_LIBDIR:STRING=lib64/veltro51$' "$dir/deb/CMakeCache.txt" ||
        fail "VELTRO_SIM_LIBDIR is $(grep '^VELTRO_SIM_LIBDIR' "$dir/deb/CMakeCache.txt")"
    grep -q 'lib64/veltro51' "$dir/deb/cmake_install.cmake" ||
        fail "the install rules do not put libveltrosim.so into lib64/veltro51"
    echo "configure: the environment's flags kept, none twice, libveltrosim.so below CMAKE_INSTALL_LIBDIR"
    ;;

*)
    fail "unknown mode $mode"
    ;;
esac
