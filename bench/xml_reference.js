// fast-xml-parser reading the same answers as bench_xml2json, for the ratio lines of
// run_benchmarks.sh. Prints one JSON line per input: {"name", "ns_per_op"}.
//   node xml_reference.js DIR   (DIR holds answer_small.xml and answer_1MB.xml)
//   node xml_reference.js --serve DIR   reads lines "SIZE CALLS" on stdin and answers each with
//                                       the nanoseconds CALLS parses of that input took (the
//                                       interleaved pair of bench_xml2json)
"use strict";
const fs = require("fs");
const path = require("path");
const { XMLParser } = require("fast-xml-parser");

const parser = new XMLParser({ ignoreAttributes: true, parseTagValue: false, trimValues: false });
if (process.argv[2] === "--serve") {
  const inputs = {};
  for (const size of ["small", "1MB"]) {
    inputs[size] = fs.readFileSync(path.join(process.argv[3], `answer_${size}.xml`), "utf8");
    // Half a second of parses before the first request: V8 has then optimised the parser, and
    // every run measures the same tier instead of whichever the first rounds happened to reach.
    const start = process.hrtime.bigint();
    while (process.hrtime.bigint() - start < 500_000_000n) parser.parse(inputs[size]);
  }
  const lines = require("readline").createInterface({ input: process.stdin });
  lines.on("line", (line) => {
    const [size, calls] = line.trim().split(/\s+/);
    const xml = inputs[size];
    const start = process.hrtime.bigint();
    for (let i = 0; i < Number(calls); ++i) parser.parse(xml);
    process.stdout.write(`${Number(process.hrtime.bigint() - start)}\n`);
  });
} else {
  for (const size of ["small", "1MB"]) {
    const xml = fs.readFileSync(path.join(process.argv[2], `answer_${size}.xml`), "utf8");
    // Warm up, then run for about a second.
    for (let i = 0; i < 50; ++i) parser.parse(xml);
    let runs = 0;
    const start = process.hrtime.bigint();
    let elapsed = 0n;
    while (elapsed < 1_000_000_000n) {
      parser.parse(xml);
      ++runs;
      elapsed = process.hrtime.bigint() - start;
    }
    console.log(JSON.stringify({ name: `xml2json/fast_xml_parser/${size}`, ns_per_op: Number(elapsed) / runs }));
  }
}
