#!/usr/bin/env bash
# The demo: builds the server and the Windows client, starts the server on
# 127.0.0.1 with a menu of a terminal (a real xterm, in an X server of the
# client's own) and the built-in animation, and runs quorvane.exe under Wine
# against it, windowed, with its own QUORVANE.INI in a scratch folder.
#
# With a display ($DISPLAY set) the client opens there and the demo lasts
# until the client quits (F12). Without one it runs on a virtual display
# (Xvfb), chooses the terminal, types a command into it, saves screenshots
# of the title screen and of the terminal, and says where.
#
# Environment: QUORVANE_EXE (default build/win/quorvane.exe) names the
# client to run; DEMO_SECONDS (default 6) is how long the headless demo
# lets the entry run before its screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "demo: $*" >&2; }

if [ "$(id -u)" -eq 0 ]; then
    bash scripts/setup.sh
else
    say "not root: assuming scripts/setup.sh has been run"
fi

jobs=$(nproc)
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native --target quorvane-server -j "$jobs"
server=build/native/server/quorvane-server

exe=${QUORVANE_EXE:-build/win/quorvane.exe}
if [ -z "${QUORVANE_EXE:-}" ] && [ -f cmake/mingw-i586.cmake ]; then
    say "building the Windows program"
    if ! { cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i586.cmake >/dev/null &&
           cmake --build build/win --target quorvane -j "$jobs"; }; then
        say "the Windows build failed"
    fi
fi
if [ ! -f "$exe" ]; then
    say "$exe does not exist yet, so there is no client to run."
    say "The server is built: $server --help"
    exit 1
fi

scratch=$(mktemp -d /tmp/quorvane-demo.XXXXXX)
cp "$exe" "$scratch/quorvane.exe"
server_pid=""
xvfb_pid=""
wine_pid=""
cleanup() {
    # Only what this script started, by process id.
    for pid in "$wine_pid" "$server_pid" "$xvfb_pid"; do
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
    done
}
trap cleanup EXIT

# Waits up to $1 seconds for the command in the remaining arguments.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        if [ "$SECONDS" -ge "$end" ]; then return 1; fi
        sleep 0.2
    done
}

# The menu. The server picks a free port on the loopback interface and prints it.
cat >"$scratch/server.toml" <<'EOF'
[[app]]
name = "Terminal"
kind = "program"
command = ["xterm", "-fa", "Monospace", "-fs", "12"]

[[app]]
name = "Demo"
kind = "demo"
EOF
"$server" --config "$scratch/server.toml" --listen 127.0.0.1:0 --print-port --allow-root >"$scratch/port" 2>"$scratch/server.log" &
server_pid=$!
if ! wait_for 10 test -s "$scratch/port"; then
    say "the server did not start; its log:"
    cat "$scratch/server.log" >&2
    exit 1
fi
port=$(head -n 1 "$scratch/port")
say "server listening on 127.0.0.1:$port, log in $scratch/server.log"

# The client's settings: this server, in a window, 640 x 480.
printf '%s\r\n' "[Quorvane]" "host=127.0.0.1" "port=$port" "bredd=640" "hojd=480" "fps=30" \
    "fullskarm=0" "ljud=1" "ljudfrekvens=22050" "stereo=1" "muskanslighet=100" "joystick=0" \
    "namn=DEMO" "nyckel=" >"$scratch/QUORVANE.INI"

headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    display=""
    for n in $(seq 90 120); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
    done
    if [ -z "$display" ]; then say "no free display number for Xvfb"; exit 1; fi
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
    if ! wait_for 10 xdpyinfo >/dev/null 2>&1; then say "Xvfb did not start"; exit 1; fi
    say "no display: running on the virtual display $display"
fi

# A Wine prefix of the demo's own that shares the project prefix's drive_c:
# Wine programs of one prefix share one wineserver, whose desktop keeps the
# X display of the first program that started it (perhaps none at all).
if [ "$(id -u)" -eq 0 ]; then
    base_prefix="${WINEPREFIX:-/root/.wine-quorvane}"
else
    base_prefix="${WINEPREFIX:-$HOME/.wine-quorvane}"
fi
if [ ! -d "$base_prefix/drive_c" ]; then
    say "no Wine prefix at $base_prefix (scripts/setup.sh makes it)"
    exit 1
fi
prefix="$scratch/wine"
mkdir -p "$prefix/dosdevices"
for f in "$base_prefix"/*.reg "$base_prefix"/.update-timestamp; do
    if [ -f "$f" ]; then cp -p "$f" "$prefix/"; fi
done
ln -s "$base_prefix/drive_c" "$prefix/drive_c"
ln -s ../drive_c "$prefix/dosdevices/c:"
ln -s / "$prefix/dosdevices/z:"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
(cd "$scratch" && exec wine ./quorvane.exe 127.0.0.1) >"$scratch/wine.log" 2>&1 &
wine_pid=$!

if [ "$headless" -eq 0 ]; then
    say "quorvane.exe runs in its window: arrows + Enter start an entry, F9 back to the menu, F12 quits"
    wait "$wine_pid" || true
    exit 0
fi

# Headless: greet, show the menu, start the terminal, type a command, look.
if ! wait_for 90 grep -q "Hello from" "$scratch/server.log"; then
    import -window root "$scratch/screen.png" 2>/dev/null || true
    say "the client did not connect within 90 s; screenshot $scratch/screen.png, logs in $scratch"
    exit 1
fi
sleep 2
import -window root "$scratch/menu.png"
window=$(xdotool search --name "^Quorvane!" 2>/dev/null | head -n 1 || true)
if [ -n "$window" ]; then
    xdotool windowfocus "$window" 2>/dev/null || true
    xdotool key --window "$window" Return 2>/dev/null || xdotool key Return || true
fi
if wait_for 10 grep -q "streaming" "$scratch/server.log"; then
    sleep 2
    xdotool type --delay 120 "echo Hej Quorvane; uname -sm" 2>/dev/null || true
    xdotool key Return 2>/dev/null || true
    sleep "${DEMO_SECONDS:-6}"
    import -window root "$scratch/stream.png"
    say "screenshots: $scratch/menu.png (title screen with the menu), $scratch/stream.png (xterm through the server)"
else
    say "the entry did not start (no window focus?); screenshot of the title screen: $scratch/menu.png"
fi
say "server log: $scratch/server.log"
