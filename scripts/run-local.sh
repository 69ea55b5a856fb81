#!/usr/bin/env bash
# Sets up a fresh machine, builds, starts a local clipnote-server with a
# throwaway data folder and opens clipnote pointed at it. Without a display
# the client runs on a virtual one (Xvfb). Extra arguments go to clipnote.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

port=${CLIPNOTE_PORT:-8080}
data=$(mktemp -d /tmp/clipnote-server.XXXXXX)
work=${CLIPNOTE_WORKDIR:-$(mktemp -d /tmp/clipnote-client.XXXXXX)}
"$here/build/release/server/clipnote-server" --listen 127.0.0.1 --port "$port" --data "$data" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/zeb/ad.asp" && break
    sleep 0.1
done
echo "clipnote-server on http://127.0.0.1:$port/ with data in $data (mail in $data/mail)"
echo "clipnote runs in $work; message folders appear there after sign-in"

# A webcam is a video4linux node that captures; udev marks which ones do, so
# the metadata node beside a camera does not count. Without udev's word any
# node counts.
have_camera() {
    local node caps
    for node in /dev/video*; do
        [ -c "$node" ] || continue
        caps=$(udevadm info --query=property --name="$node" 2>/dev/null |
            sed -n 's/^ID_V4L_CAPABILITIES=//p') || caps=
        if [ -z "$caps" ] || [[ $caps == *:capture:* ]]; then
            return 0
        fi
    done
    return 1
}

# A microphone is a sound server source that is not the monitor of an output,
# or a capture PCM of the kernel's sound devices.
have_microphone() {
    local pcm
    if pactl list short sources 2>/dev/null |
        awk 'NF >= 2 && $2 !~ /\.monitor$/ { found = 1 } END { exit !found }'; then
        return 0
    fi
    for pcm in /dev/snd/pcmC*D*c; do
        [ -c "$pcm" ] && return 0
    done
    return 1
}

# The synthetic sources stand in only where no device exists; a value set in
# the environment always wins.
if [ -n "${CLIPNOTE_CAMERA+set}" ]; then
    camera_why="CLIPNOTE_CAMERA=$CLIPNOTE_CAMERA was set"
elif have_camera; then
    camera_why="a capture device was found"
else
    export CLIPNOTE_CAMERA=test
    camera_why="no capture device under /dev/video*"
fi
if [ -n "${CLIPNOTE_MICROPHONE+set}" ]; then
    microphone_why="CLIPNOTE_MICROPHONE=$CLIPNOTE_MICROPHONE was set"
elif have_microphone; then
    microphone_why="a sound capture device was found"
else
    export CLIPNOTE_MICROPHONE=test
    microphone_why="no sound server source and no capture device under /dev/snd"
fi
camera="the default webcam"
[ "${CLIPNOTE_CAMERA:-}" != test ] || camera="the moving test pattern"
microphone="the default microphone"
[ "${CLIPNOTE_MICROPHONE:-}" != test ] || microphone="the test tone"
echo "camera: $camera ($camera_why)"
echo "microphone: $microphone ($microphone_why)"
cd "$work"
client=("$here/build/release/src/clipnote" --service "http://127.0.0.1:$port/" "$@")
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "${client[@]}"
else
    echo "no display: running on a virtual X display"
    xvfb-run -a -s "-screen 0 1280x1024x24" "${client[@]}"
fi
