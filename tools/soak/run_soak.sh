#!/bin/sh
# The chaos soak (tools/soak/soak.py) on the build in build/ (or $ZUMVO_BUILD_DIR):
#   tools/soak/run_soak.sh [SALES] [SEED...] [--OPTION...]
# SALES: sales per seed (default 100); SEED: one or more seeds (default: a random one, printed);
# options are soak.py's (--concurrent-backoffice, --leave-codes, --edit-store, ...).
# Exit code 0 when the three-way reconciliation finds no discrepancy for every seed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZUMVO_BUILD_DIR:-$root/build}
sales=""
options=""
for a in "$@"; do
  case "$a" in
    --*) options="$options $a" ;;
    *) if [ -z "$sales" ]; then sales=$a; else options="$options --seed $a"; fi ;;
  esac
done
# shellcheck disable=SC2086
exec python3 "$here/soak.py" --bin "$build/bin" --sales "${sales:-100}" $options
