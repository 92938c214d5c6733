#!/usr/bin/env bash
# Instructions that handle_video_frame spends per frame, counted with
# valgrind --tool=callgrind in an i586 build of the client's portable code
# (-m32 -march=i586 -O2, zlib compiled the same way from Debian's source, as
# in quorvane.exe), on streams recorded from the server's encoder: every
# stream lossless (quality 100) and at the default lossy quality, and the
# motion and web streams at the qualities of the curve. Prints the PSNR of
# what the client shows against the source pictures, inflate (uncompress)
# and decode (decode_blocks) separately, and the frames per second a
# 300 MHz Pentium II would manage at the assumed instructions per cycle
# (IPC, default 0.7; see docs/performance.md).
#
#   bash scripts/perf/frame_cost.sh [frames per stream, default 61] [IPC] [curve qualities] [streams]
#
# The curve qualities default to "30 50 70 85 95"; "none" leaves the curve out.
# The streams default to all of them: "demo640 desktop640 web640 motion320
# motion640 motion800".
# QV_PERF_OUT names the folder for streams and profiles (default build/perf).
#
# Needs the native build (build/native) for the recorder, gcc-multilib,
# valgrind and zlib's source (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/../.."
frames=${1:-61}
ipc=${2:-0.7}
curve=${3:-30 50 70 85 95}
[ "$curve" = none ] && curve=
streams=${4:-demo640 desktop640 web640 motion320 motion640 motion800}
out=${QV_PERF_OUT:-build/perf}
mkdir -p "$out/streams" "$out/i586" "$out/callgrind"

cmake --build build/native -j2 --target record_streams frame_cost quorvane-server >/dev/null
lossy=$(sed -n 's/.*const int DEFAULT_LOSSY_QUALITY = \([0-9]*\);.*/\1/p' server/encode/encoder.h)
# Runs: "stream quality" pairs, each recorded once.
runs=()
for s in $streams; do runs+=("$s 100" "$s $lossy"); done
for q in $curve; do
    for s in $streams; do
        [ "$s" = demo640 ] || [ "$s" = desktop640 ] || [ "$q" = 100 ] || [ "$q" = "$lossy" ] || runs+=("$s $q")
    done
done
# A recording is kept for the same recorder and number of frames; the
# streams of a quality recorded anew replace those of any other length.
for q in 100 $lossy $curve; do
    record=$out/record-f$frames-q$q.txt
    [ -f "$record" ] && [ "$record" -nt build/native/bench/record_streams ] && continue
    rm -f "$out"/record-f*-q"$q".txt
    build/native/bench/record_streams "$out/streams" "$frames" "$q" > "$record"
done
cat "$out/record-f$frames-q100.txt" "$out/record-f$frames-q$lossy.txt" | awk 'NR == 1 || !/^stream/'
echo

# --- The i586 program: the client's portable code, its native services and
# stand-ins, zlib and the driver, compiled as quorvane.exe's code is.
zlib=${QV_ZLIB_HOME:-/var/cache/quorvane/zlib}/src
[ -f "$zlib/zlib.h" ] || bash scripts/fetch-zlib.sh "${QV_ZLIB_HOME:-/var/cache/quorvane/zlib}"
flags=(-m32 -march=i586 -O2 -g)
objs=()
for c in adler32 crc32 inffast inflate inftrees uncompr zutil; do
    o=$out/i586/z_$c.o
    [ "$o" -nt "$zlib/$c.c" ] || gcc "${flags[@]}" -c "$zlib/$c.c" -o "$o"
    objs+=("$o")
done
# What handle_video_frame needs: the codec, the client state and texts, the
# framing (the FrameAck), the native services and the stand-in devices.
sources=(media/codec.cpp link/video_frame.cpp core/client_state.cpp core/client_text.cpp
         link/wire.cpp link/wire_text.cpp core/notify_stub.cpp media/frame_buffer_stub.cpp
         core/sys_posix.cpp link/net_posix.cpp)
program=$out/i586/frame_cost
if [ ! -f "$program" ] || [ -n "$(find core link media bench/frame_cost.cpp -newer "$program" | head -1)" ]; then
    g++ "${flags[@]}" -std=c++17 -fno-exceptions -fno-rtti -I. -isystem "$zlib" \
        "${sources[@]}" bench/frame_cost.cpp "${objs[@]}" -lpthread -o "$program"
fi

# --- Count per stream.
printf '%-11s %7s %9s | %14s %14s %14s | %9s %9s\n' stream quality "PSNR dB" "handle/frame" "inflate/frame" \
    "decode/frame" "PII fps" "30fps CPU"
for run in "${runs[@]}"; do
    read -r s q <<< "$run"
    file=$s; [ "$q" = 100 ] || file=$s-q$q
    rm -f "$out/callgrind/$file".*
    valgrind --tool=callgrind --callgrind-out-file="$out/callgrind/$file.%p" \
        "$program" "$out/streams/$file.qvs" >/dev/null 2>"$out/callgrind/$file.log"
    dump=$(ls "$out/callgrind/$file".*.1 2>/dev/null | head -1)
    if [ -z "$dump" ]; then echo "$file: no callgrind dump (see $out/callgrind/$file.log)"; exit 1; fi
    callgrind_annotate --inclusive=yes --threshold=100 "$dump" > "$out/callgrind/$file.txt"
    later=$(( frames - 1 ))
    psnr=$(awk -v s="$s" '$1 == s { print $9 }' "$out/record-f$frames-q$q.txt" | head -1)
    python3 - "$out/callgrind/$file.txt" "$s" "$later" "$ipc" "$q" "$psnr" <<'PY'
import re, sys
path, name, frames, ipc = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
quality, psnr = sys.argv[5], sys.argv[6]
counts = {}
for line in open(path, errors='replace'):
    m = re.match(r'\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+\S*:(\S+?)(\(|\s|$)', line) or \
        re.match(r'\s*([\d,]+)\s+\S*:(\S+?)(\(|\s|$)', line)
    if not m:
        continue
    fn = m.group(2)
    value = int(m.group(1).replace(',', ''))
    for key in ('handle_video_frame', 'uncompress', 'decode_blocks'):
        if fn == key or fn.startswith(key + '('):
            counts[key] = max(counts.get(key, 0), value)
h = counts.get('handle_video_frame', 0) / frames
i = counts.get('uncompress', 0) / frames
d = counts.get('decode_blocks', 0) / frames
cycles = h / ipc
fps = 300e6 / cycles if cycles else 0
share = 30 * cycles / 300e6 * 100
print('%-11s %7s %9s | %14.0f %14.0f %14.0f | %9.0f %8.1f%%' % (name, quality, psnr, h, i, d, fps, share))
PY
done
echo
echo "Instructions are x86 (i586) instructions per later frame (the first, full"
echo "repaint is excluded). PII fps = 300e6 * IPC / instructions, IPC = $ipc;"
echo "30fps CPU = share of a 300 MHz Pentium II that 30 frames a second take."
