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
src_list=/etc/apt/sources.list.d/quorvane-src.sources
if [ ! -f "$src_list" ]; then
    cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    rm -f /var/lib/quorvane-apt-updated
fi

packages=(
    build-essential cmake ninja-build pkg-config dpkg-dev python3
    zlib1g-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang llvm libclang-rt-14-dev
    gcc-multilib g++-multilib
    mingw-w64 g++-mingw-w64-i686 binutils-mingw-w64-i686
    wine wine32 wine64
    xvfb xdotool x11-utils imagemagick
    zip unzip valgrind
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
