#!/usr/bin/env bash
# check-install.sh BUILD_FOLDER VERSION: installs the build with prefix /usr
# into a temporary DESTDIR, then checks that exactly the programs, the
# launcher, the metainfo and the icons are there, that the launcher and the
# metainfo pass their validators, and that the installed programs answer
# --help, --version and a wrong option without a display.
set -uo pipefail
build=$1
version=$2
id=org.clipnote.Clipnote
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$root.log" 2>&1; then
    cat "$root.log" >&2
    rm -f "$root.log"
    echo "FAIL: cmake --install" >&2
    exit 1
fi
rm -f "$root.log"
usr=$root/usr

# Exactly these files: a test program, benchmark or fuzzer here is a fault.
expected=(bin/clipnote bin/clipnote-server "share/applications/$id.desktop"
          "share/metainfo/$id.metainfo.xml")
sizes=(16 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
installed=$(cd "$usr" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$installed" != "$wanted" ]; then
    fail "installed files differ from the expected ones:"
    diff <(echo "$wanted") <(echo "$installed") >&2
fi
# Anything installed outside the prefix would land on the user's machine too.
outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "installed outside /usr: $outside"

# Each icon is a PNG of its folder's size (width and height from its header).
for size in "${sizes[@]}"; do
    icon=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$icon" ] || continue
    read -r -a header <<<"$(od -An -tu1 -w24 -N24 "$icon")"
    signature="${header[1]} ${header[2]} ${header[3]}"
    width=$(((header[16] << 24) + (header[17] << 16) + (header[18] << 8) + header[19]))
    height=$(((header[20] << 24) + (header[21] << 16) + (header[22] << 8) + header[23]))
    [ "$signature" = "80 78 71" ] || fail "$icon is not a PNG"
    [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
        fail "$icon is ${width}x${height}, not ${size}x${size}"
done

desktop-file-validate "$usr/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" ||
    fail "appstreamcli validate"
# The metainfo, the launcher it names and the icon together, as installed.
appstreamcli validate-tree --no-net "$usr" >/dev/null || fail "appstreamcli validate-tree"
grep -q "^Icon=$id\$" "$usr/share/applications/$id.desktop" ||
    fail "the launcher does not name the installed icon $id"
# The newest release listed is this version.
release=$(grep -o -m1 '<release version="[^"]*"' "$usr/share/metainfo/$id.metainfo.xml" |
    cut -d'"' -f2)
[ "$release" = "$version" ] || fail "the metainfo's newest release is $release, not $version"

# The installed programs, with no display at all.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
expect() { # expect STATUS OUT_PATTERN ERR_PATTERN COMMAND...
    local status=$1 out_pattern=$2 err_pattern=$3
    shift 3
    local out err code
    out=$(run "$@" 2>"$root/err")
    code=$?
    err=$(cat "$root/err")
    [ "$code" = "$status" ] || fail "$* exits with $code, not $status: $err"
    [[ "$out" =~ $out_pattern ]] || fail "$* printed \"$out\""
    [[ "$err" =~ $err_pattern ]] || fail "$* said \"$err\" on standard error"
}
expect 0 "^clipnote $version\$" '^$' "$usr/bin/clipnote" --version
expect 0 '^Usage: clipnote .*--sync-once' '^$' "$usr/bin/clipnote" --help
expect 2 '^$' '--bogus' "$usr/bin/clipnote" --bogus
expect 2 '^$' '--sync-once' "$usr/bin/clipnote" --user alice
expect 0 "^clipnote-server $version\$" '^$' "$usr/bin/clipnote-server" --version
expect 0 '^Usage: clipnote-server' '^$' "$usr/bin/clipnote-server" --help
expect 2 '^$' '--bogus' "$usr/bin/clipnote-server" --bogus

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "installed files, launcher, metainfo, icons and program options are right"
