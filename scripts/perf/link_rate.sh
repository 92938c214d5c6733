#!/usr/bin/env bash
# Full motion and a scrolling terminal through links of a given rate (see
# docs/performance.md): for each link, a private network namespace whose
# loopback has the MTU of Ethernet and a token bucket of that rate, in which
# scripts/perf/link_rate.py runs the server and a probe client.
#
#   bash scripts/perf/link_rate.sh [SECONDS [LINKS [QUALITIES [WARMUP]]]]
#     defaults: 15 s measured per row, "2mbit 10mbit 100mbit unshaped",
#     "default 70", 5 s of streaming before measuring
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-15}
links=${2:-"2mbit 10mbit 100mbit unshaped"}
qualities=${3:-"default 70"}
warmup=${4:-5}
build=${LINK_RATE_BUILD:-build/native}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target quorvane-server stream_probe >/dev/null
echo "| Link | Quality | Content | fps | kB/s | kB/frame | Ping ms median / p95 / max | PSNR |"
echo "|---|---|---|---|---|---|---|---|"
for link in $links; do
    # shellcheck disable=SC2086
    unshare -n bash -c '
        set -e
        ip link set lo mtu 1500 up
        [ "$2" = unshaped ] || tc qdisc add dev lo root tbf rate "$2" burst 16kb latency 100ms
        exec python3 scripts/perf/link_rate.py "$@"' _ "$build" "$link" "$seconds" "$warmup" $qualities
done
