'use strict';
// How other SOAP stacks write the same answer. Each layout takes the answer as node-soap wrote it
// and gives the text another stack would send; the members and their values mean the same.
const PosNamespace = 'http://pos.services.trelvan.com/';
const Members = ['responseCode', 'responseDesc', 'tvTrxId', 'totalAmountProcessed', 'amountToSettle'];
const Numbers = ['responseCode', 'tvTrxId', 'totalAmountProcessed', 'amountToSettle'];

// The envelope's prefix and the operation element's prefix as node-soap chose them.
function prefixes(xml) {
  const envelope = /<([A-Za-z0-9_-]+):Envelope\b/.exec(xml);
  const operation = /<([A-Za-z0-9_-]+):(transactionResponse|adviseResponse)\b/.exec(xml);
  return { env: envelope ? envelope[1] : 'soap', op: operation ? operation[1] : null };
}

// Replaces the text of every leaf member named in names.
function mapNumbers(xml, names, fn) {
  for (const name of names)
    xml = xml.replace(new RegExp('(<(?:[A-Za-z0-9_-]+:)?' + name + '(?: [^>]*)?>)(-?[0-9]+)(</)', 'g'), (m, open, n, close) => open + fn(n, name) + close);
  return xml;
}

// One element per line, nested elements indented; line ends as given.
function pretty(xml, eol) {
  let depth = 0;
  const out = [];
  const tokens = xml.replace(/>\s*</g, '>\u0000<').split('\u0000');
  for (const t of tokens) {
    const closing = /^<\//.test(t);
    const leaf = /^<[^>]+>[^<]*<\/[^>]+>$/.test(t) || /\/>$/.test(t) || /^<\?/.test(t);
    if (closing) depth--;
    out.push('  '.repeat(Math.max(depth, 0)) + t);
    if (!closing && !leaf) depth++;
  }
  return out.join(eol) + eol;
}

const Layouts = {
  // As node-soap writes it.
  own: (xml) => xml,
  // Indented, one element per line (LF), as most stacks' "pretty" output.
  pretty: (xml) => pretty(xml, '\n'),
  // Indented with CR LF line ends, as .NET writes.
  prettyCrlf: (xml) => pretty(xml, '\r\n'),
  // Other prefixes throughout (SOAP-ENV, ns1), the members qualified in the service's namespace
  // (elementFormDefault="qualified", as Axis and JAX-WS stacks often write them).
  prefixes: (xml) => {
    const p = prefixes(xml);
    xml = xml.split(p.env + ':').join('SOAP-ENV:').replace('xmlns:' + p.env + '=', 'xmlns:SOAP-ENV=');
    if (p.op) xml = xml.split(p.op + ':').join('ns1:').replace('xmlns:' + p.op + '=', 'xmlns:ns1=');
    for (const m of ['response', ...Members])
      xml = xml.replace(new RegExp('<(/?)' + m + '([\\s>])', 'g'), '<$1ns1:' + m + '$2');
    return xml;
  },
  // The operation in a default namespace, its members undeclared back to no namespace.
  defaultNamespace: (xml) => {
    const p = prefixes(xml);
    if (!p.op) return xml;
    xml = xml.replace(new RegExp('\\s+xmlns:' + p.op + '="[^"]*"'), '');
    xml = xml.replace(new RegExp('<' + p.op + ':(transactionResponse|adviseResponse)'), '<$1 xmlns="' + PosNamespace + '"');
    xml = xml.replace(new RegExp('</' + p.op + ':'), '</');
    return xml.replace('<response>', '<response xmlns="">');
  },
  // Every number typed with xsi:type, as rpc/encoded stacks write it.
  xsiType: (xml) => {
    const p = prefixes(xml);
    xml = xml.replace('<' + p.env + ':Envelope', '<' + p.env + ':Envelope xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema"');
    const typed = (name, type) => {
      xml = xml.replace(new RegExp('<((?:[A-Za-z0-9_-]+:)?' + name + ')>', 'g'), '<$1 xsi:type="' + type + '">');
    };
    Numbers.forEach((name) => typed(name, 'xsd:int'));
    typed('responseDesc', 'xsd:string');
    return xml;
  },
  // Numbers with blanks and line ends around them (XML Schema collapses them).
  padded: (xml) => mapNumbers(xml, Numbers, (n) => '\n    ' + n + ' \t'),
  // A plus sign and leading zeros on every positive number.
  signs: (xml) => mapNumbers(xml, Numbers, (n) => (n.startsWith('-') ? n : '+00' + n)),
  // Everything at once: pretty CR LF, other prefixes, xsi:type and padded signed numbers.
  mixed: (xml) =>
    Layouts.prettyCrlf(Layouts.xsiType(Layouts.prefixes(mapNumbers(xml, Numbers, (n) => (n.startsWith('-') ? ' ' + n + ' ' : ' +' + n + '\n'))))),
};

module.exports = { Layouts, PosNamespace };
