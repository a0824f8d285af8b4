#!/usr/bin/env bash
# Runs every benchmark program (bench_*) of a bin folder and prints, for each group and size, the
# throughput of every variant and its time relative to the group's baseline, then the pairs: ours
# against a reference (a floor, another parser, the round trips a request cannot do without)
# measured in interleaved rounds in the same process (bench/BenchPair.h). The reference XML
# parser of another language (fast-xml-parser, bench/package.json) is served to bench_xml2json by
# node when node and npm are there. The last lines are the figures, one per line:
#   ratio NAME VALUE         VALUE = median over the rounds of our time / the reference's time
#   spread NAME LOW HIGH     the quartiles of the rounds' ratios
#   roundtrips NAME OURS REFERENCE   round trips per call on the wire (the far-away pairs)
#   figure NAME VALUE        an absolute figure (the payment screen's opening)
#   bench/run_benchmarks.sh BIN_DIR [extra Google Benchmark options]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 BIN_DIR [benchmark options]" >&2
    exit 2
fi
BIN_DIR=$1
shift

# The benchmarks' databases and logs live in memory: every commit and log flush ends in an
# fdatasync, which on this shared disk waits on whatever else the machine writes (a tenth of a
# millisecond or several), and the same commits on both sides of a pair then moved its ratio by a
# quarter from one run to the next. ZUMVO_BENCH_TMPDIR=/tmp measures with them on disk.
BENCH_TMP=${ZUMVO_BENCH_TMPDIR:-/dev/shm}
if [ -d "$BENCH_TMP" ] && [ -w "$BENCH_TMP" ]; then
    export TMPDIR=$BENCH_TMP
    echo "== databases and logs of the benchmarks in $BENCH_TMP"
else
    echo "== $BENCH_TMP is not a writable folder: databases and logs in ${TMPDIR:-/tmp}"
fi

OUT_DIR=$(mktemp -d)
trap 'rm -rf "$OUT_DIR"' EXIT

BENCH_SRC=$(cd "$(dirname "$0")" && pwd)
if [ -x "$BIN_DIR/bench_xml2json" ] && command -v node >/dev/null && command -v npm >/dev/null; then
    echo "== fast-xml-parser (node $(node --version)), served to bench_xml2json"
    [ -d "$BENCH_SRC/node_modules/fast-xml-parser" ] ||
        (cd "$BENCH_SRC" && npm ci --no-audit --no-fund --silent)
    "$BIN_DIR/bench_xml2json" --write-inputs "$OUT_DIR"
    export ZUMVO_XML_REFERENCE="NODE_PATH='$BENCH_SRC/node_modules' node '$BENCH_SRC/xml_reference.js' --serve '$OUT_DIR'"
fi

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

def time_ns(b, key=None):
    # Benchmarks that wait on other threads or sockets are measured in real time.
    if key is None:
        key = "real_time" if b["name"].endswith("/real_time") else "cpu_time"
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b[key] * scale

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
        if len(parts) < 3 or parts[0] in ("pair", "figure"):
            continue  # the pairs and the figures have lines of their own below
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

# The pairs (pair/NAME) and figures (figure/NAME), in the order the programs ran them.
pairs, figures = [], []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    if os.path.getsize(path) == 0:
        continue
    with open(path) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("run_type", "iteration") != "iteration":
                continue
            kind, _, name = b["name"].partition("/")
            name = name.split("/")[0]
            if b.get("error_occurred"):
                print(f"# {b['name']}: {b.get('error_message', 'failed')}")
            elif kind == "pair" and "ratio" in b:
                pairs.append((name, b))
            elif kind == "figure":
                figures.append((name, b))

def ms(ns):
    return f"{ns / 1e6:.3f}"

print()
print(f"{'pair':<40} {'ours ms':>10} {'ref ms':>10} {'ratio':>7} {'quartiles':>13} {'rounds':>7}")
for name, b in pairs:
    print(f"{name:<40} {ms(b['ours_ns']):>10} {ms(b['reference_ns']):>10} {b['ratio']:>7.3f} "
          f"{b['ratio_q1']:>6.3f}-{b['ratio_q3']:<6.3f} {int(b['rounds']):>7}")
print()
for name, b in figures:
    if name == "screen_open":
        print(f"figure screen_open_wall_us {b['wall_ns'] / 1e3:.0f}")
        print(f"figure screen_open_cpu_us {b['cpu_ns'] / 1e3:.0f}")
        if "instructions" in b:
            print(f"figure screen_open_instructions {b['instructions']:.0f}")
        else:
            print(f"# figure screen_open_instructions: not measured ({b.get('label', 'no counter')})")
for name, b in pairs:
    if "ours_round_trips" in b:
        print(f"roundtrips {name} {b['ours_round_trips']:.2f} {b.get('reference_round_trips', 0):.2f}")
        if b.get("ours_connections", 0) > 0:
            print(f"# {name}: {b['ours_connections']:.2f} new connections per code, "
                  f"{b.get('ours_resumed_tls', 0):.2f} resumed a TLS session")
for name, b in pairs:
    print(f"ratio {name} {b['ratio']:.3f}")
    print(f"spread {name} {b['ratio_q1']:.3f} {b['ratio_q3']:.3f}")
EOF
