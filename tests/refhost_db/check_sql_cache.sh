#!/usr/bin/env bash
# check_sql_cache.sh BIN_DIR: the demo and the fault matrix with every statement's translation
# checked against a fresh one (ZUMVO_SQL_CACHE_CHECK): the translation cache must give the text a
# fresh translation gives, for every statement the module and the host send.
set -euo pipefail
BIN=${1:?usage: check_sql_cache.sh BIN_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/../.." && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zumvo_sqlcache_XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export ZUMVO_SQL_CACHE_CHECK="$WORK/check.txt"
unset ZUMVO_SQL_CACHE

echo "== the demo"
ZUMVO_DEMO_DIR="$WORK/demo" "$SOURCE/refhost/demo.sh" "$BIN" > "$WORK/demo.out" 2>&1 ||
  { tail -n 60 "$WORK/demo.out"; echo "FAILED: the demo"; exit 1; }
demo=$(wc -l < "$WORK/check.txt")
echo "== the fault matrix"
"$BIN/test_fault_matrix" > "$WORK/fault-matrix.out" 2>&1 ||
  { tail -n 60 "$WORK/fault-matrix.out"; echo "FAILED: the fault matrix"; exit 1; }
total=$(wc -l < "$WORK/check.txt")
differ=$(grep -c -v '^same$' "$WORK/check.txt" || true)
echo "statements checked: $demo in the demo, $((total - demo)) in the fault matrix; translated otherwise: $differ"
if [ "$differ" -ne 0 ]; then
  grep -v '^same$' "$WORK/check.txt" | head -n 20
  echo "FAILED: the cache gave another translation than a fresh one"
  exit 1
fi
# A check that saw next to nothing proves nothing: the demo alone sends hundreds of statements.
if [ "$demo" -lt 100 ] || [ "$((total - demo))" -lt 100 ]; then
  echo "FAILED: too few statements were checked (was ZUMVO_SQL_CACHE_CHECK passed on?)"
  exit 1
fi
