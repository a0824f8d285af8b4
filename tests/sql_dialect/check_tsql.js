#!/usr/bin/env node
// check_tsql.js KNOWN.json TRACE...: every distinct statement of the statement traces (the
// [Database] Trace files of the reference host) through node-sql-parser's T-SQL grammar.
//
// A trace holds one batch per entry ("-- yyyy-mm-dd hh:mm:ss", the batch, an empty line). A batch
// is split into its statements first: IF conditions, their branches and ELSE branches, BEGIN ...
// END blocks and statements ended by ";" each become statements of their own (an IF condition is
// checked as "SELECT 1 WHERE <condition>"). Each distinct statement must parse, or match an entry
// of KNOWN.json: statements SQL Server accepts that the grammar does not, each with its reason.
// Exit code 0: every statement parsed or known; 1: a statement failed (printed with the grammar's
// message); 2: bad arguments or no statements at all.
'use strict';

const fs = require('fs');
const { Parser } = require('node-sql-parser');

// --- tokens -----------------------------------------------------------------------------------

// Splits T-SQL text into tokens {text, upper, kind}; kinds: word, string, ident, symbol. Comments
// are dropped.
function tokenize(sql) {
  const tokens = [];
  let i = 0;
  const push = (kind, text) => tokens.push({ kind, text, upper: kind === 'word' ? text.toUpperCase() : text });
  while (i < sql.length) {
    const c = sql[i];
    if (/\s/.test(c)) { i++; continue; }
    if (c === '-' && sql[i + 1] === '-') { while (i < sql.length && sql[i] !== '\n') i++; continue; }
    if (c === '/' && sql[i + 1] === '*') {
      const end = sql.indexOf('*/', i + 2);
      if (end < 0) throw new Error('unterminated comment');
      i = end + 2;
      continue;
    }
    if (c === "'" || ((c === 'N' || c === 'n') && sql[i + 1] === "'")) {
      let j = c === "'" ? i + 1 : i + 2;
      for (;;) {
        if (j >= sql.length) throw new Error('unterminated string: ' + sql.slice(i, i + 40));
        if (sql[j] === "'") {
          if (sql[j + 1] === "'") { j += 2; continue; }
          break;
        }
        j++;
      }
      push('string', sql.slice(i, j + 1));
      i = j + 1;
      continue;
    }
    if (c === '[' || c === '"') {
      const close = c === '[' ? ']' : '"';
      let j = i + 1;
      for (;;) {
        if (j >= sql.length) throw new Error('unterminated identifier: ' + sql.slice(i, i + 40));
        if (sql[j] === close) {
          if (sql[j + 1] === close) { j += 2; continue; }
          break;
        }
        j++;
      }
      push('ident', sql.slice(i, j + 1));
      i = j + 1;
      continue;
    }
    const word = /^[A-Za-z_@#][A-Za-z0-9_@#$]*/.exec(sql.slice(i, i + 256));
    if (word) { push('word', word[0]); i += word[0].length; continue; }
    const number = /^\d+(\.\d+)?([eE][-+]?\d+)?/.exec(sql.slice(i, i + 64));
    if (number) { push('number', number[0]); i += number[0].length; continue; }
    const two = sql.slice(i, i + 2);
    if (['<=', '>=', '<>', '!=', '!<', '!>', '+=', '-=', '*=', '/='].includes(two)) { push('symbol', two); i += 2; continue; }
    push('symbol', c);
    i++;
  }
  return tokens;
}

// Joins tokens back into one line of SQL.
function join(tokens) {
  let out = '';
  for (const t of tokens) {
    const glue = out === '' || t.text === ')' || t.text === ',' || t.text === '.' || out.endsWith('(') ||
      out.endsWith('.') || (t.text === '(' && /[\w\]]$/.test(out) && !/\b(IN|AND|OR|NOT|EXISTS|VALUES|AS|ON|WHERE|THEN|ELSE|WHEN)$/i.test(out));
    out += (glue ? '' : ' ') + t.text;
  }
  return out;
}

// --- batches into statements -------------------------------------------------------------------

// Words that begin a statement: where an IF condition ends.
const STATEMENT_START = new Set(['SELECT', 'INSERT', 'UPDATE', 'DELETE', 'MERGE', 'CREATE', 'ALTER', 'DROP',
  'EXEC', 'EXECUTE', 'SET', 'DECLARE', 'RETURN', 'PRINT', 'WITH', 'BEGIN', 'IF', 'TRUNCATE', 'RAISERROR',
  'THROW', 'COMMIT', 'ROLLBACK', 'SAVE']);

class BatchSplitter {
  constructor(tokens) { this.tokens = tokens; this.pos = 0; this.statements = []; }
  peek() { return this.tokens[this.pos]; }
  atWord(...words) { const t = this.peek(); return t && t.kind === 'word' && words.includes(t.upper); }
  atBlockBegin() {
    const next = this.tokens[this.pos + 1];
    return this.atWord('BEGIN') && !(next && next.kind === 'word' && ['TRAN', 'TRANSACTION', 'TRY', 'CATCH'].includes(next.upper));
  }
  list(insideBlock) {
    while (this.pos < this.tokens.length) {
      if (this.peek().text === ';') { this.pos++; continue; }
      if (insideBlock && this.atWord('END')) { this.pos++; return; }
      this.statement();
    }
    if (insideBlock) throw new Error('BEGIN without END');
  }
  statement() {
    if (this.atBlockBegin()) { this.pos++; this.list(true); return; }
    if (this.atWord('IF')) {
      this.pos++;
      const condition = [];
      let depth = 0;
      while (this.pos < this.tokens.length) {
        const t = this.peek();
        if (depth === 0 && t.kind === 'word' && STATEMENT_START.has(t.upper)) break;
        if (t.text === '(') depth++;
        if (t.text === ')') depth--;
        condition.push(t);
        this.pos++;
      }
      if (condition.length === 0) throw new Error('IF without a condition');
      this.statements.push({ text: 'SELECT 1 WHERE ' + join(condition), condition: true });
      this.statement();
      while (this.peek() && this.peek().text === ';') this.pos++;
      if (this.atWord('ELSE')) { this.pos++; this.statement(); }
      return;
    }
    // A plain statement: to ";", ELSE or END at depth 0 (CASE ... END counted), or the batch's end.
    const body = [];
    let depth = 0;
    let cases = 0;
    while (this.pos < this.tokens.length) {
      const t = this.peek();
      if (depth === 0 && (t.text === ';' || (cases === 0 && t.kind === 'word' && (t.upper === 'ELSE' || t.upper === 'END')))) break;
      if (t.text === '(') depth++;
      if (t.text === ')') depth--;
      if (t.kind === 'word' && t.upper === 'CASE') cases++;
      if (t.kind === 'word' && t.upper === 'END' && cases > 0) cases--;
      body.push(t);
      this.pos++;
    }
    if (body.length > 0) this.statements.push({ text: join(body), condition: false });
  }
}

function splitBatch(batch) {
  const splitter = new BatchSplitter(tokenize(batch));
  splitter.list(false);
  return splitter.statements;
}

// The batches of a trace file.
function readTrace(file) {
  const text = fs.readFileSync(file, 'utf8');
  const batches = [];
  let current = null;
  for (const line of text.split('\n')) {
    if (/^-- \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/.test(line)) {
      if (current !== null) batches.push(current.join('\n').trim());
      current = [];
    } else if (current !== null) {
      current.push(line);
    }
  }
  if (current !== null) batches.push(current.join('\n').trim());
  return batches.filter((b) => b.length > 0);
}

// --- the check ---------------------------------------------------------------------------------

// The grammar is lenient: it takes some statements SQL Server refuses (LIMIT, back-quoted names,
// SQLite's INSERT OR REPLACE) and reads an unknown first word as a variable assignment. So a
// statement must also be free of these, and parse as one statement of the kind its first word
// names.
const NOT_TSQL = [
  { test: (t) => t.kind === 'symbol' && t.text === '`', why: 'back-quoted name (SQL Server quotes with [ ])' },
  { test: (t) => t.kind === 'word' && t.upper === 'LIMIT', why: 'LIMIT (SQL Server: TOP or OFFSET ... FETCH)' },
  { test: (t, n) => t.kind === 'word' && t.upper === 'INSERT' && n && n.kind === 'word' && n.upper === 'OR', why: 'INSERT OR ... (SQLite)' },
  { test: (t) => t.kind === 'word' && t.upper === 'IFNULL', why: 'IFNULL (SQL Server: ISNULL or COALESCE)' },
  { test: (t) => t.kind === 'word' && (t.upper === 'AUTOINCREMENT' || t.upper === 'AUTO_INCREMENT'), why: 'AUTOINCREMENT (SQL Server: IDENTITY)' },
  { test: (t) => t.kind === 'word' && t.upper === 'RETURNING', why: 'RETURNING (SQL Server: OUTPUT)' },
  { test: (t, n) => t.kind === 'word' && t.upper === 'ON' && n && n.kind === 'word' && n.upper === 'CONFLICT', why: 'ON CONFLICT (SQLite)' },
  { test: (t, n) => t.kind === 'word' && ['STRFTIME', 'DATETIME', 'JULIANDAY'].includes(t.upper) && n && n.text === '(', why: 'SQLite date function' },
  { test: (t) => t.kind === 'symbol' && t.text === '|' , why: '|| concatenation (SQL Server: +)', pair: true },
  { test: (t) => t.kind === 'symbol' && t.text === '?', why: 'an unsubstituted ? placeholder' },
];
const KINDS = { SELECT: 'select', INSERT: 'insert', UPDATE: 'update', DELETE: 'delete', CREATE: 'create',
  ALTER: 'alter', DROP: 'drop', TRUNCATE: 'truncate', WITH: 'select' };

// Why SQL Server would refuse the statement, or null when the grammar and the checks accept it.
function checkStatement(parser, text) {
  const tokens = tokenize(text);
  for (let i = 0; i < tokens.length; i++) {
    for (const rule of NOT_TSQL) {
      if (rule.pair && !(tokens[i + 1] && tokens[i + 1].text === '|' && rule.test(tokens[i]))) continue;
      if (rule.test(tokens[i], tokens[i + 1])) return 'not T-SQL: ' + rule.why;
    }
  }
  let ast;
  try {
    ast = parser.astify(text, { database: 'transactsql' });
  } catch (e) {
    return String(e.message).split('\n')[0];
  }
  const list = Array.isArray(ast) ? ast : [ast];
  if (list.length !== 1) return `read as ${list.length} statements`;
  const first = tokens[0] && tokens[0].upper;
  const expected = KINDS[first];
  const got = list[0].type || (list[0].stmt && list[0].stmt.type);
  if (!expected) return `a statement beginning with ${first} is not one the check knows`;
  if (got !== expected) return `read as a statement of type ${got}, not ${expected}`;
  return null;
}

function main(args) {
  if (args.length < 2) {
    console.error('usage: check_tsql.js KNOWN.json TRACE...');
    return 2;
  }
  const known = JSON.parse(fs.readFileSync(args[0], 'utf8')).map((k) => {
    if (!k.match || !k.reason) throw new Error(`${args[0]}: every entry needs "match" and "reason"`);
    return { ...k, regex: new RegExp(k.match), seen: 0 };
  });
  const parser = new Parser();
  const distinct = new Map(); // statement text -> {condition, files}
  let batchCount = 0;
  let splitFailures = 0;
  for (const file of args.slice(1)) {
    for (const batch of readTrace(file)) {
      batchCount++;
      let statements;
      try {
        statements = splitBatch(batch);
      } catch (e) {
        splitFailures++;
        console.log(`CANNOT SPLIT (${e.message}) in ${file}:\n  ${batch.replace(/\n/g, '\n  ')}`);
        continue;
      }
      for (const s of statements)
        if (!distinct.has(s.text)) distinct.set(s.text, { condition: s.condition, file });
    }
  }
  if (distinct.size === 0) {
    console.error('no statements in ' + args.slice(1).join(', '));
    return 2;
  }
  let parsed = 0;
  let knownCount = 0;
  const failed = [];
  for (const [text, info] of distinct) {
    const why = checkStatement(parser, text);
    if (why === null) {
      parsed++;
      continue;
    }
    const entry = known.find((k) => k.regex.test(text));
    if (entry) {
      entry.seen++;
      knownCount++;
    } else {
      failed.push({ text, file: info.file, message: why });
    }
  }
  for (const f of failed) console.log(`DOES NOT PARSE (${f.file}): ${f.text}\n  ${f.message}`);
  for (const k of known.filter((k) => k.seen > 0))
    console.log(`known: ${k.seen} statement(s) matching /${k.match}/ do not parse: ${k.reason}`);
  for (const k of known.filter((k) => k.seen === 0))
    console.log(`note: no statement matched the known entry /${k.match}/ in these traces`);
  const conditions = [...distinct.values()].filter((i) => i.condition).length;
  console.log(`${batchCount} batches, ${distinct.size} distinct statements (${conditions} IF conditions): ` +
    `${parsed} parse, ${knownCount} known not to, ${failed.length} fail, ${splitFailures} batches not split`);
  return failed.length === 0 && splitFailures === 0 ? 0 : 1;
}

module.exports = { tokenize, splitBatch, readTrace, checkStatement, main };
if (require.main === module) {
  try {
    process.exitCode = main(process.argv.slice(2));
  } catch (e) {
    console.error(e.message);
    process.exitCode = 2;
  }
}
