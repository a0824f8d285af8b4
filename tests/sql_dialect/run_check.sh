#!/usr/bin/env bash
# run_check.sh BIN_DIR: the demo and the fault matrix with their statement traces on, then every
# distinct statement of those traces through the T-SQL grammar (check_tsql.js). Exit code 77
# (skipped, with the reason) when node or the pinned npm packages are not there: `./run test`
# installs them (npm ci in tests/sql_dialect).
set -euo pipefail
BIN=${1:?usage: run_check.sh BIN_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/../.." && pwd)
if ! command -v node >/dev/null; then
  echo "SKIPPED: node is not installed (./run test installs it)"
  exit 77
fi
if [ ! -d "$HERE/node_modules/node-sql-parser" ]; then
  echo "SKIPPED: node-sql-parser is not installed: run 'npm ci' in tests/sql_dialect (./run test does)"
  exit 77
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zumvo_tsql_XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/fault-matrix"

echo "== the demo, its statement trace on ([Database] Trace in refhost/demo/host.ini)"
ZUMVO_DEMO_DIR="$WORK/demo" "$SOURCE/refhost/demo.sh" "$BIN" > "$WORK/demo.out" 2>&1 ||
  { tail -n 60 "$WORK/demo.out"; echo "FAILED: the demo"; exit 1; }
[ -s "$WORK/demo/statements.sql" ] || { echo "FAILED: the demo wrote no statement trace"; exit 1; }

echo "== the fault matrix, each case's statement trace kept"
ZUMVO_SQL_TRACE_DIR="$WORK/fault-matrix" "$BIN/test_fault_matrix" > "$WORK/fault-matrix.out" 2>&1 ||
  { tail -n 60 "$WORK/fault-matrix.out"; echo "FAILED: the fault matrix"; exit 1; }
ls "$WORK"/fault-matrix/*.sql > /dev/null 2>&1 || { echo "FAILED: the fault matrix wrote no statement trace"; exit 1; }

echo "== the demo's statements"
node "$HERE/check_tsql.js" "$HERE/known_unparsed.json" "$WORK/demo/statements.sql"
echo "== the demo's and the fault matrix's statements"
node "$HERE/check_tsql.js" "$HERE/known_unparsed.json" "$WORK/demo/statements.sql" "$WORK"/fault-matrix/*.sql
