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

[ -e /dev/video0 ] || export CLIPNOTE_CAMERA=${CLIPNOTE_CAMERA:-test}
export CLIPNOTE_MICROPHONE=${CLIPNOTE_MICROPHONE:-test}
cd "$work"
client=("$here/build/release/src/clipnote" --service "http://127.0.0.1:$port/" "$@")
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "${client[@]}"
else
    echo "no display: running on a virtual X display"
    xvfb-run -a -s "-screen 0 1280x1024x24" "${client[@]}"
fi
