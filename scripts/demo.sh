#!/usr/bin/env bash
# Runs the client under Wine against the reference server's demo.
set -euo pipefail
echo "demo: the reference server and the Windows program are not built yet" >&2
exit 1
