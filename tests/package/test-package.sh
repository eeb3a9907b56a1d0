#!/usr/bin/env bash
# Builds the Debian package twice with scripts/build-deb and checks it as a packager and a user
# would meet it: the same bytes from both builds, lintian, its control fields, the validators on
# its desktop entry, metadata and manual pages, a join by the installed wavestitch-join, and the
# installed wavestitch started offscreen from a folder the user cannot write, twice, keeping the
# language chosen in between.
# Usage: test-package.sh SOURCE_DIR
set -euo pipefail

source_dir=$(cd "$1" && pwd)
id=example.verdane.wavestitch
tmp=$(mktemp -d)
gui=""
cleanup() {
    if [ -n "$gui" ]; then kill "$gui" 2>/dev/null || true; fi
    chmod -R u+w "$tmp" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Two builds, each from its own copy of the source in its own folder, with the files' dates of
# that copy: a reproducible package does not depend on either.
for build in a b; do
    "$source_dir/scripts/build-deb" "$tmp/$build" >"$tmp/$build.log" 2>&1 ||
        { cat "$tmp/$build.log" >&2; fail "scripts/build-deb"; }
done
deb=$(tail -n 1 "$tmp/a.log")
other=$(tail -n 1 "$tmp/b.log")
[ -f "$deb" ] || fail "build-deb made no $deb"
if ! cmp -s "$deb" "$other"; then
    diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$other") >&2 || true
    fail "two builds of the same source gave different packages"
fi

# lintian fails on any error or warning that debian/wavestitch.lintian-overrides does not give a
# reason for.
lintian --pedantic -I -E --fail-on error,warning "${deb%.deb}.changes" ||
    fail "lintian reports errors or warnings"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libmp3lame0 libavcodec59 libavformat59 libswresample4 libavutil57 qt6-qpa-plugins; do
    [ "$(grep -o "\b$lib\b" <<<"$depends" | wc -l)" -eq 1 ] || fail "Depends does not name $lib once"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "fonts-noto-cjk, qt6-translations-l10n" ] ||
    fail "Recommends is not the CJK fonts and Qt's translations"
[[ $(dpkg-deb -f "$deb" Version) == *-* ]] || fail "the version has no Debian revision"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
usr=$root/usr
for file in bin/wavestitch bin/wavestitch-join lib/wavestitch/lame_enc.so lib/wavestitch/wmaudsdk.so \
    share/wavestitch/WSLanguage/English.ini share/wavestitch/WSLanguage/ChineseGB.ini \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/48x48/apps/$id.png share/icons/hicolor/scalable/apps/$id.svg \
    share/man/man1/wavestitch.1.gz share/man/man1/wavestitch-join.1.gz; do
    [ -f "$usr/$file" ] || fail "the package lacks /usr/$file"
done
# FFmpeg is opened on first use, so that a join without WMA starts without its hundred libraries.
for program in wavestitch wavestitch-join; do
    if readelf -d "$usr/bin/$program" | grep -q 'NEEDED.*libav'; then
        fail "$program loads FFmpeg at start"
    fi
done

# The validators; each is skipped, with a message, where its package is absent.
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$usr/share/applications/$id.desktop" || fail "desktop-file-validate"
else
    echo "SKIP: desktop-file-validate (Debian package desktop-file-utils) is not installed"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --pedantic --no-net "$usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
else
    echo "SKIP: appstreamcli (Debian package appstream) is not installed"
fi
if command -v appstream-util >/dev/null; then
    appstream-util validate-strict --nonet "$usr/share/metainfo/$id.metainfo.xml" || fail "appstream-util validate-strict"
else
    echo "SKIP: appstream-util (Debian package appstream-util) is not installed"
fi
if command -v groff >/dev/null; then
    for page in "$usr"/share/man/man1/*.1.gz; do
        warnings=$(gzip -dc "$page" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
        [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
    done
else
    echo "SKIP: groff (Debian package groff-base) is not installed"
fi

# A user who cannot write the program's folder. Root can write any folder, so as root the
# programs run as nobody; the temporary root must then be open to nobody.
home=$tmp/home
mkdir -p "$home/tmp" "$tmp/work"
chmod -R a-w "$usr"
chmod 755 "$tmp" "$root"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$home" "$tmp/work"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
user=("${as_user[@]}" env -u XDG_RUNTIME_DIR -u LC_ALL -u LC_MESSAGES HOME="$home"
    XDG_CONFIG_HOME="$home/.config" TMPDIR="$home/tmp" LANG=C.UTF-8)
run_user() { "${user[@]}" "$@"; }
settings=$home/.config/Wavestitch/Wavestitch.ini

# A join by the installed tool: its modules come from /usr/lib/wavestitch/.
sox -n -r 44100 -c 1 -b 16 "$tmp/work/a.wav" synth 0.3 sine 440
sox -n -r 22050 -c 2 -b 16 "$tmp/work/b.wav" synth 0.2 sine 660
chmod a+r "$tmp"/work/*.wav
for format in wav mp3 wma; do
    run_user "$usr/bin/wavestitch-join" -q -o "$tmp/work/out.$format" "$tmp/work/a.wav" "$tmp/work/b.wav" ||
        fail "the installed wavestitch-join could not join to $format"
    [ -s "$tmp/work/out.$format" ] || fail "out.$format is empty"
done
[ "$(run_user "$usr/bin/wavestitch-join" --info "$tmp/work/out.wav" | tail -n 1 | tr -s ' \t' ' ')" = "target 44100 2 16" ] ||
    fail "the joined WAV is not 44100 Hz stereo"
[ ! -e "$settings" ] || fail "wavestitch-join wrote the settings file"
# Every long option the tool knows is in its manual page (which writes a dash as \-).
for option in $("$usr/bin/wavestitch-join" --help | grep -o -- '--[a-z]*' | sort -u); do
    gzip -dc "$usr/share/man/man1/wavestitch-join.1.gz" | grep -qF -- "$(printf '%s' "$option" | sed 's/-/\\-/g')" ||
        fail "the manual page of wavestitch-join lacks $option"
done

# Starts the installed program offscreen, under strace where it can run, and stops it once it has
# opened the language file $1 (without strace: once it has had time to write its settings).
trace=(strace -f -qq -e trace=openat -o "$tmp/strace.log")
"${trace[@]}" true 2>/dev/null || trace=()
start_gui() {
    local log=$tmp/strace.log pidfile=$home/gui.pid
    rm -f "$log" "$pidfile"
    "${trace[@]}" "${user[@]}" QT_QPA_PLATFORM=offscreen sh -c 'echo $$ > "$0"; exec "$1"' "$pidfile" \
        "$usr/bin/wavestitch" >/dev/null 2>&1 &
    local started=$!
    for _ in $(seq 600); do
        if [ ${#trace[@]} -gt 0 ]; then
            grep -q "share/wavestitch/WSLanguage/$1\"" "$log" 2>/dev/null && break
        elif [ -s "$settings" ]; then
            sleep 2 && break
        fi
        sleep 0.1
    done
    gui=$(cat "$pidfile" 2>/dev/null || true)
    [ -n "$gui" ] && kill -0 "$gui" 2>/dev/null || fail "the installed wavestitch did not keep running"
    kill "$gui"
    wait "$started" 2>/dev/null || true
    gui=""
    if [ ${#trace[@]} -gt 0 ]; then
        grep -q "share/wavestitch/WSLanguage/$1\"" "$log" || fail "wavestitch never opened $1"
        if grep -q 'usr/bin/Wavestitch.ini' "$log"; then fail "wavestitch opened a settings file in bin/"; fi
    fi
}

[ ${#trace[@]} -gt 0 ] || echo "SKIP: strace cannot run here; the language files opened are not checked"
# The first start chooses by the locale and stores the choice in the user's folder, which a
# settings error would have prevented.
start_gui English.ini
grep -qx 'Language=English.ini' "$settings" || fail "the first start stored no language in $settings"
# The language dialog's OK writes the choice; the next start keeps it.
run_user sh -c 'printf "[General]\nLanguage=German.ini\n" > "$0"' "$settings"
start_gui German.ini
grep -qx 'Language=German.ini' "$settings" || fail "the chosen language was not kept"
# wavestitch-join reads the same settings: a rejected input is now named in German.
touch "$tmp/work/notes.txt"
message=$(run_user "$usr/bin/wavestitch-join" --info "$tmp/work/notes.txt" 2>&1 >/dev/null || true)
[[ $message == *"Dieser Dateityp wird nicht unterstützt."* ]] ||
    fail "wavestitch-join did not take the chosen language: $message"
echo "package: $(basename "$deb") installs and runs"
