#!/usr/bin/env bash
# Sets up a fresh machine, builds, starts a local clipnote-server with a
# throwaway data folder and opens clipnote pointed at it. Without a display
# the client runs on a virtual one (Xvfb). Extra arguments go to clipnote.
#
# With --postgres first, the service is two clipnote-server processes (on
# the port and the port after it) sharing one throwaway PostgreSQL cluster;
# the client talks to the first, and a second client may use the other.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
postgres=
if [ "${1:-}" = --postgres ]; then
    postgres=yes
    shift
fi
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

port=${CLIPNOTE_PORT:-8080}
data=$(mktemp -d /tmp/clipnote-server.XXXXXX)
work=${CLIPNOTE_WORKDIR:-$(mktemp -d /tmp/clipnote-client.XXXXXX)}
servers=()
cluster=
cleanup() {
    for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ -n "$cluster" ]; then
        as_postgres "$pgbin/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null 2>&1 || true
        rm -rf "$cluster"
    fi
}
trap cleanup EXIT

# The server's tools refuse to run as root: they run as postgres then.
as_postgres() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

database=()
if [ -n "$postgres" ]; then
    pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
    cluster=$(mktemp -d /tmp/clipnote-pg.XXXXXX)
    [ "$(id -u)" -ne 0 ] || chown postgres "$cluster"
    pgport=$((port + 100))
    as_postgres "$pgbin/initdb" -D "$cluster/data" -A trust -U postgres -E UTF8 --no-sync >/dev/null
    as_postgres "$pgbin/pg_ctl" -D "$cluster/data" -l "$cluster/log" -w \
        -o "-p $pgport -k $cluster -c listen_addresses='' -c autovacuum_naptime=1s" start >/dev/null
    as_postgres "$pgbin/createdb" -h "$cluster" -p "$pgport" -U postgres clipnote
    url="postgresql://postgres@/clipnote?host=$cluster&port=$pgport"
    database=(--database "$url")
    echo "PostgreSQL cluster in $cluster: $url"
fi

start_server() { # port data-folder
    "$here/build/release/server/clipnote-server" --listen 127.0.0.1 --port "$1" --data "$2" \
        "${database[@]}" &
    servers+=($!)
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$1/zeb/ad.asp" && return 0
        sleep 0.1
    done
}
start_server "$port" "$data"
echo "clipnote-server on http://127.0.0.1:$port/ with data in $data (mail in $data/mail)"
if [ -n "$postgres" ]; then
    second=$(mktemp -d /tmp/clipnote-server.XXXXXX)
    start_server $((port + 1)) "$second"
    echo "clipnote-server on http://127.0.0.1:$((port + 1))/ on the same database (mail in $second/mail)"
fi
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
