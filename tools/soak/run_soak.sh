#!/bin/sh
# The chaos soak (tools/soak/soak.py) on the build in build/ (or $ZUMVO_BUILD_DIR):
#   tools/soak/run_soak.sh [SALES] [SEED...]
# SALES: sales per seed (default 100); SEED: one or more seeds (default: a random one, printed).
# Exit code 0 when the three-way reconciliation finds no discrepancy for every seed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZUMVO_BUILD_DIR:-$root/build}
sales=${1:-100}
[ $# -gt 0 ] && shift
seeds=""
for s in "$@"; do seeds="$seeds --seed $s"; done
# shellcheck disable=SC2086
exec python3 "$here/soak.py" --bin "$build/bin" --sales "$sales" $seeds
