#!/usr/bin/env bash
# Runs every benchmark program (bench_*) of a bin folder and prints, for each group and size, the
# throughput of every variant and its CPU time relative to the group's baseline measured in the
# same run. Benchmarks are named group/variant/size; the baseline carries the label "baseline".
# The reference XML parser of another language (fast-xml-parser, bench/package.json) runs on the
# same inputs when node and npm are there. The last lines are the ratios, one per line:
#   ratio NAME VALUE     (VALUE = our time / the reference's time: below 1 is faster)
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

BENCH_SRC=$(cd "$(dirname "$0")" && pwd)
if [ -x "$BIN_DIR/bench_xml2json" ] && command -v node >/dev/null && command -v npm >/dev/null; then
    echo "== fast-xml-parser (node $(node --version))"
    [ -d "$BENCH_SRC/node_modules/fast-xml-parser" ] ||
        (cd "$BENCH_SRC" && npm ci --no-audit --no-fund --silent)
    "$BIN_DIR/bench_xml2json" --write-inputs "$OUT_DIR"
    NODE_PATH="$BENCH_SRC/node_modules" node "$BENCH_SRC/xml_reference.js" "$OUT_DIR" | tee "$OUT_DIR/node.jsonl"
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

# Every measured benchmark by name: CPU time and wall time in ns; other languages' wall time.
cpu, wall = {}, {}
for path in glob.glob(os.path.join(sys.argv[1], "*.json")):
    if os.path.getsize(path) == 0:
        continue
    with open(path) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("run_type", "iteration") == "iteration" and not b.get("error_occurred"):
                name = "/".join(b["name"].split("/")[:3])  # without /min_time:... and /real_time
                cpu[name] = time_ns(b, "cpu_time")
                wall[name] = time_ns(b, "real_time")
node = os.path.join(sys.argv[1], "node.jsonl")
if os.path.exists(node):
    with open(node) as f:
        for line in f:
            r = json.loads(line)
            wall[r["name"]] = r["ns_per_op"]

# ratio NAME: ours, reference, and whether to compare wall time (other processes, network).
RATIOS = []
for size in ("small", "1MB"):
    RATIOS += [
        (f"answer_vs_pugixml_parse_{size}", f"xml2json/answer/{size}", f"xml2json/pugixml_parse/{size}", False),
        (f"answer_json_text_vs_pugixml_parse_{size}", f"xml2json/answer_json_text/{size}",
         f"xml2json/pugixml_parse/{size}", False),
        (f"answer_vs_boost_ptree_{size}", f"xml2json/answer/{size}", f"xml2json/boost_ptree/{size}", False),
        (f"answer_vs_fast_xml_parser_{size}", f"xml2json/answer/{size}", f"xml2json/fast_xml_parser/{size}", True),
    ]
for scheme in ("http", "https"):
    for conn in ("kept", "new"):
        RATIOS.append((f"transaction_vs_floor_{scheme}_{conn}", f"request/module/{scheme}_{conn}",
                       f"request/floor/{scheme}_{conn}", True))
        # The host keeps its connections: the kept figure is the plain name.
        RATIOS.append((f"redeem_vs_floor_{scheme}" + ("" if conn == "kept" else "_new"),
                       f"redeem/module/{scheme}_{conn}", f"redeem/floor/{scheme}_{conn}", True))
print()
for name, ours, reference, use_wall in RATIOS:
    table = wall if use_wall else cpu
    if ours in table and reference in table and table[reference] > 0:
        print(f"ratio {name} {table[ours] / table[reference]:.3f}")
    else:
        print(f"# ratio {name}: not measured ({ours if ours not in table else reference} missing)")
EOF
