#!/usr/bin/env bash
# Fetches Debian's zlib source package and unpacks it into DEST/src, once.
# The Windows build compiles it for the i586 target (Debian's own mingw zlib
# is built for i686 and holds cmov). The source is never committed.
#
#   fetch-zlib.sh DEST
#
# The version is pinned to the one whose source the Debian 12 mirror keeps
# (the security update's source is not in the bookworm deb-src lists).
set -euo pipefail
dest=${1:?usage: fetch-zlib.sh DEST}
version=${QV_ZLIB_VERSION:-1:1.2.13.dfsg-1}

if [ -f "$dest/src/zlib.h" ] && [ "$(cat "$dest/version" 2>/dev/null)" = "$version" ]; then
    exit 0
fi
mkdir -p "$dest"
work=$(mktemp -d "$dest/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get source -q "zlib=$version" >log 2>&1; then
    # A fresh deb-src entry needs one apt-get update before it is known.
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -q >/dev/null 2>&1 || true
    fi
    apt-get source -q "zlib=$version" >log 2>&1 || { cat log >&2; exit 1; }
fi
unpacked=$(find . -maxdepth 1 -type d -name 'zlib-*' | head -n 1)
if [ -z "$unpacked" ] || [ ! -f "$unpacked/zlib.h" ]; then
    cat log >&2
    echo "fetch-zlib: no unpacked zlib source found" >&2
    exit 1
fi
rm -rf "$dest/src"
mv "$unpacked" "$dest/src"
echo "$version" > "$dest/version"
echo "fetch-zlib: zlib $version in $dest/src"
