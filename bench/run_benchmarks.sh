#!/usr/bin/env bash
# Runs every benchmark program (bench_*) of a bin folder and prints, for each group and size, the
# throughput of every variant and its CPU time relative to the group's baseline measured in the
# same run. Benchmarks are named group/variant/size; the baseline carries the label "baseline".
#   bench/run_benchmarks.sh BIN_DIR [extra Google Benchmark options]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 BIN_DIR [benchmark options]" >&2
    exit 2
fi
BIN_DIR=$1
shift

OUT_DIR=$(mktemp -d)
trap 'rm -rf "$OUT_DIR"' EXIT

found=0
for bin in "$BIN_DIR"/bench_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    found=1
    name=$(basename "$bin")
    echo "== $name"
    "$bin" --benchmark_out="$OUT_DIR/$name.json" --benchmark_out_format=json "$@"
done
if [ "$found" -eq 0 ]; then
    echo "no benchmark programs (bench_*) in $BIN_DIR" >&2
    exit 1
fi

python3 - "$OUT_DIR" <<'EOF'
import glob, json, os, sys

def time_ns(b):
    # Benchmarks that wait on other threads or sockets are measured in real time.
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["real_time" if b["name"].endswith("/real_time") else "cpu_time"] * scale

print()
print(f"{'benchmark':<46} {'MB/s':>10} {'time vs baseline':>18}")
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    if os.path.getsize(path) == 0:
        continue  # a program whose benchmarks the filter left out writes nothing
    with open(path) as f:
        runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
    groups = {}
    for b in runs:
        parts = b["name"].removesuffix("/real_time").split("/")
        if len(parts) < 3:
            continue
        groups.setdefault((parts[0], parts[-1]), []).append(b)
    for (group, size), items in groups.items():
        baseline = next((b for b in items if b.get("label") == "baseline"), None)
        for b in items:
            mbs = b.get("bytes_per_second", 0.0) / 1e6
            if baseline is None:
                ratio = "no baseline"
            elif b is baseline:
                ratio = "1.00 (baseline)"
            else:
                ratio = f"{time_ns(b) / time_ns(baseline):.2f}x"
            print(f"{b['name']:<46} {mbs:>10.1f} {ratio:>18}")
EOF
