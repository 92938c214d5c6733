#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on a fresh
# Debian 12 machine. Safe to run again: every step checks before it acts.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "setup.sh: run as root" >&2; exit 1; fi; }
need_root
export DEBIAN_FRONTEND=noninteractive

# 32-bit packages for Wine.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    rm -f /var/lib/quorvane-apt-updated
fi

# Source packages: zlib is rebuilt from Debian's source for the i586 target.
# The deb-src entries repeat the machine's own configured Debian sources
# (the same archives and suites), so they work wherever its mirror is.
src_list=/etc/apt/sources.list.d/quorvane-src.sources
src_new=$(python3 - "$src_list" <<'PY'
import glob, re, sys
own = sys.argv[1]
codename = dict(l.strip().split("=", 1) for l in open("/etc/os-release") if "=" in l).get("VERSION_CODENAME", "").strip('"')
stanzas = []
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    if path == own:
        continue
    for block in re.split(r"\n\s*\n", open(path).read()):
        fields = {}
        for line in block.splitlines():
            if line.startswith("#") or ":" not in line:
                continue
            k, v = line.split(":", 1)
            fields[k.strip()] = v.strip()
        if "deb" in fields.get("Types", "").split() and fields.get("Enabled", "yes") != "no":
            stanzas.append(fields)
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        m = re.match(r"\s*deb\s+(\[[^]]*\]\s+)?(\S+)\s+(\S+)\s+(.*)", line)
        if m:
            fields = {"URIs": m.group(2), "Suites": m.group(3), "Components": m.group(4).split("#")[0].strip()}
            key = re.search(r"signed-by=(\S+?)\]?(\s|$)", m.group(1) or "")
            if key:
                fields["Signed-By"] = key.group(1).rstrip("]")
            stanzas.append(fields)
out = []
for f in stanzas:
    suites = [x for x in f.get("Suites", "").split() if x.split("-")[0] == codename]
    if not suites or "main" not in f.get("Components", "").split():
        continue
    text = "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n" % (f["URIs"], " ".join(suites))
    if "Signed-By" in f:
        text += "Signed-By: %s\n" % f["Signed-By"]
    out.append(text)
print("\n".join(out), end="")
PY
)
if [ -z "$src_new" ]; then
    echo "setup: no Debian source for the suite of this machine is configured in /etc/apt" >&2
    exit 1
fi
if [ ! -f "$src_list" ] || [ "$(cat "$src_list")" != "$src_new" ]; then
    printf '%s\n' "$src_new" > "$src_list"
    rm -f /var/lib/quorvane-apt-updated
fi

packages=(
    build-essential cmake ninja-build pkg-config dpkg-dev python3
    zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang llvm libclang-rt-14-dev
    gcc-multilib g++-multilib
    mingw-w64 g++-mingw-w64-i686 binutils-mingw-w64-i686
    wine wine32 wine64
    xvfb xdotool x11-utils imagemagick
    zip unzip valgrind
    # quorvane-server: configuration, X capture and input, browser, sound
    libtomlplusplus-dev nlohmann-json3-dev libpulse-dev
    libx11-dev libxext-dev libxdamage-dev libxfixes-dev libxtst-dev
    xterm matchbox-window-manager x11-xserver-utils chromium chromium-l10n pulseaudio pulseaudio-utils
    # the game stream bridge: TLS and certificates, the control channel,
    # H.264 and Opus (the test host encodes with libx264 through libavcodec)
    libssl-dev libenet-dev libcurl4-openssl-dev libpugixml-dev
    libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libopus-dev
    # for the server's speed comparison and sound tests
    x11vnc tigervnc-viewer sox
    # the link benchmark shapes a private loopback with tc
    iproute2
    # the Debian package: its user, and its manual page and unit checked
    adduser groff-base systemd
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    if [ ! -f /var/lib/quorvane-apt-updated ]; then
        # Third-party lists on the machine may be unreachable; Debian's are what counts.
        apt-get update -q || true
        touch /var/lib/quorvane-apt-updated
    fi
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The i586 toolchain must use the win32 thread model (no winpthreads DLL).
for alt in i686-w64-mingw32-gcc i686-w64-mingw32-g++; do
    if [ -e "/usr/bin/$alt-win32" ]; then
        update-alternatives --set "$alt" "/usr/bin/$alt-win32" >/dev/null
    fi
done

# zlib's source for the Windows build (compiled for i586 by cmake/windows.cmake).
bash "$(dirname "$0")/fetch-zlib.sh" /var/cache/quorvane/zlib

# A Wine prefix, made once per machine.
export WINEPREFIX="${WINEPREFIX:-/root/.wine-quorvane}"
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
fi
# A crashing test program reports on the console instead of opening a dialog.
if [ ! -f "$WINEPREFIX/.quorvane-nocrashdialog" ]; then
    DISPLAY= wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 &&
        wineserver -w && touch "$WINEPREFIX/.quorvane-nocrashdialog" || true
fi
echo "setup: done"
