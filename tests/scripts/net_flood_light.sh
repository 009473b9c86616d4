#!/usr/bin/env bash
# The flood check in a light form for the test suite: 10 000 junk datagrams
# a second for 15 s from 127.0.0.2 during a real-time run. The heavy form
# (100 000 a second) is tests/manual/net_flood.sh, run by hand.
set -euo pipefail
MAX_P99_MS="${MAX_P99_MS:-80}" exec bash "$(dirname "$0")/../manual/net_flood.sh" "$1" "$2" 10000 15
