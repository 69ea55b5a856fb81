#!/usr/bin/env bash
# Builds the Debian package from a build folder, installs it on this machine
# with apt-get (as root), runs the installed programs from /usr/bin with the
# source and build folders hidden from them, and removes the package again:
#
#     bash scripts/test-package.sh [BUILD_FOLDER]     (default build/release)
#
# From /usr/bin: `clipnote --version`; `clipnote-server` on a free loopback
# port with a throwaway data folder, answering its welcome page and making an
# account; `clipnote --sync-once` signing in to it; and the window on a
# virtual X display, signed in by typed keys, showing its own icon (drawn
# from the pictures compiled into the program) in the window's title bar.
# The package is left in BUILD_FOLDER/package.
set -euo pipefail

# ---------------------------------------------------------------------------
# What runs inside a private mount namespace, with the tree hidden.
if [ "${1:-}" = "--installed" ]; then
    out=$2
    version=$3
    shift 3
    for folder in "$@"; do
        mount -t tmpfs -o size=1m clipnote-hidden "$folder"
        [ -z "$(ls -A "$folder")" ] || { echo "FAIL: $folder is still visible" >&2; exit 1; }
    done
    step() { echo "--- $*"; }
    fail() { echo "FAIL: $*" >&2; exit 1; }
    pids=()
    trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
    # Waits up to 30 s for a command to succeed.
    await() {
        local tries=300
        until "$@" >/dev/null 2>&1; do
            tries=$((tries - 1))
            [ "$tries" -gt 0 ] || return 1
            sleep 0.1
        done
    }

    step "clipnote --version"
    [ "$(/usr/bin/clipnote --version)" = "clipnote $version" ] || fail "clipnote --version"
    [ "$(/usr/bin/clipnote-server --version)" = "clipnote-server $version" ] ||
        fail "clipnote-server --version"

    step "clipnote-server on a free port"
    /usr/bin/clipnote-server --listen 127.0.0.1 --port 0 --data "$out/data" --pwhash min \
        >"$out/server.log" 2>&1 &
    pids+=($!)
    await grep -q "listening on" "$out/server.log" || fail "the server never listened"
    url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$out/server.log" | head -1)
    curl -fsS "${url}zeb/ad.asp" >/dev/null || fail "the server does not answer at $url"
    user=alice@clipnote.example
    reply=$(curl -fsS "${url}zeb/reg.asp?UID=alice%40clipnote.example")
    [[ "$reply" == OK* ]] || fail "no account: $reply"
    mail=$(ls "$out/data/mail/"*"$user.txt" | tail -1)
    sed -n 's/^Password: //p' "$mail" | head -1 >"$out/password"
    [ -s "$out/password" ] || fail "no password in $mail"

    step "clipnote --sync-once against it"
    mkdir -p "$out/headless/work" "$out/headless/config" "$out/headless/tmp"
    (cd "$out/headless/work" && XDG_CONFIG_HOME=$out/headless/config TMPDIR=$out/headless/tmp \
        /usr/bin/clipnote --sync-once --user "$user" --password-file "$out/password" \
        --service "$url") || fail "clipnote --sync-once exits with $?"
    [ -d "$out/headless/work/$user/Inbox" ] || fail "--sync-once made no user folder"

    step "the clipnote window on a virtual display"
    mkdir -p "$out/window/work" "$out/window/config/ZEB" "$out/window/tmp"
    printf '[Settings]\nuid=%s\nx=40\ny=40\nx2=700\ny2=540\n' "$user" \
        >"$out/window/config/ZEB/clipnote.conf"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" \
        2>"$out/xvfb.log" &
    pids+=($!)
    await test -s "$out/display" || fail "Xvfb does not start"
    export DISPLAY=:$(cat "$out/display")
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    await xdotool get_desktop || fail "openbox never took over the display"
    (cd "$out/window/work" && exec env -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=xcb \
        XDG_CONFIG_HOME=$out/window/config TMPDIR=$out/window/tmp \
        CLIPNOTE_CAMERA=test CLIPNOTE_MICROPHONE=test \
        /usr/bin/clipnote --service "$url") >"$out/client.log" 2>&1 &
    pids+=($!)
    login=$(timeout 30 xdotool search --sync --name '^Login$' | head -1) ||
        fail "no sign-in dialog"
    xdotool windowactivate --sync "$login"
    xdotool type --delay 20 "$(cat "$out/password")"
    xdotool key Return
    title="^Clipnote- alice@clipnote[.]example$"
    main=$(timeout 30 xdotool search --sync --name "$title" | head -1) ||
        fail "the main window never showed the signed-in user"
    [ -d "$out/window/work/$user/Inbox" ] || fail "the window made no user folder"
    icon=$(xprop -id "$main" _NET_WM_ICON)
    [[ "$icon" == *"Icon (32 x 32)"* ]] || fail "the main window has no icon: $icon"
    echo "all installed programs work"
    exit 0
fi

# ---------------------------------------------------------------------------
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$here/build/release}")
[ "$(id -u)" -eq 0 ] || { echo "Run as root: the package is installed with apt-get." >&2; exit 1; }
[ -f "$build/CPackConfig.cmake" ] || { echo "$build is not a configured build folder" >&2; exit 1; }
if dpkg-query -W -f='${Status}' clipnote 2>/dev/null | grep -q "install ok installed"; then
    echo "A clipnote package is installed already; remove it first (apt-get remove clipnote)." >&2
    exit 1
fi
"$here/scripts/install-deps.sh"

cmake --build "$build" --target clipnote clipnote-server
# The package goes to the build folder; what the programs write while they
# are tried goes to a scratch folder outside the (hidden) tree.
packages=$build/package
out=$(mktemp -d /tmp/clipnote-package.XXXXXX)
trap 'rm -rf "$out"' EXIT
rm -rf "$packages"
echo "--- cpack -G DEB into $packages"
(cd "$build" && cpack -G DEB -B "$packages" >"$out/cpack.log") || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$packages"/clipnote_*.deb)

echo "--- what $deb says of itself"
dpkg-deb -f "$deb" Package Version Section Maintainer Depends Description
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = clipnote ] || { echo "FAIL: package name" >&2; exit 1; }
depends=$(field Depends)
for needed in libqt6multimedia6 libqt6widgets6 libcurl4 libc6 gstreamer1.0-plugins-good \
    gstreamer1.0-plugins-ugly gstreamer1.0-libav ca-certificates; do
    [[ "$depends" == *"$needed"* ]] || { echo "FAIL: Depends lacks $needed" >&2; exit 1; }
done
if dpkg-deb -c "$deb" | grep -E '/(tst_|bench_|fuzz_|program_)'; then
    echo "FAIL: the package holds test programs" >&2
    exit 1
fi

echo "--- apt-get install $deb"
removed=no
remove() {
    [ "$removed" = no ] || return 0
    removed=yes
    echo "--- apt-get remove clipnote"
    apt-get remove -y -q clipnote >/dev/null
}
trap 'remove; rm -rf "$out"' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$out/apt.log" 2>&1 ||
    { cat "$out/apt.log"; exit 1; }
[ "$(dpkg-query -S /usr/bin/clipnote | cut -d: -f1)" = clipnote ] ||
    { echo "FAIL: /usr/bin/clipnote is not the package's" >&2; exit 1; }

# The script itself lives in the hidden tree: a copy runs the checks.
cp "$0" "$out/test-package.sh"
hidden=("$here")
[[ "$build/" == "$here/"* ]] || hidden+=("$build")
unshare --mount --propagation private \
    bash "$out/test-package.sh" --installed "$out" "$(field Version)" "${hidden[@]}"

remove
! dpkg-query -W -f='${Status}' clipnote 2>/dev/null | grep -q "install ok installed" ||
    { echo "FAIL: the package is still installed" >&2; exit 1; }
[ ! -e /usr/bin/clipnote ] || { echo "FAIL: /usr/bin/clipnote is left behind" >&2; exit 1; }
echo "--- the package builds, installs, works from /usr/bin and removes cleanly: $deb"
