// fast-xml-parser reading the same answers as bench_xml2json, for the ratio lines of
// run_benchmarks.sh. Prints one JSON line per input: {"name", "ns_per_op"}.
//   node xml_reference.js DIR   (DIR holds answer_small.xml and answer_1MB.xml)
"use strict";
const fs = require("fs");
const path = require("path");
const { XMLParser } = require("fast-xml-parser");

const parser = new XMLParser({ ignoreAttributes: true, parseTagValue: false, trimValues: false });
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
