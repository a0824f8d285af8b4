#!/usr/bin/env node
// The T-SQL check itself: batches split into the statements SQL Server runs, statements SQL
// Server refuses found even where the grammar is lenient, and the known list honoured.
'use strict';

const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Parser } = require('node-sql-parser');
const { splitBatch, readTrace, checkStatement, main } = require('./check_tsql.js');

const parser = new Parser();
const texts = (batch) => splitBatch(batch).map((s) => s.text);
let failures = 0;
function group(name, body) {
  try {
    body();
    console.log(`ok   ${name}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}\n  ${e.message.replace(/\n/g, '\n  ')}`);
  }
}

group('control flow is split into conditions and branches', () => {
  assert.deepStrictEqual(texts("IF OBJECT_ID('T', 'U') IS NULL CREATE TABLE [T] ([A] INT)"),
    ["SELECT 1 WHERE OBJECT_ID('T', 'U') IS NULL", 'CREATE TABLE [T]([A] INT)']);
  assert.deepStrictEqual(
    texts('IF NOT EXISTS (SELECT 1 FROM [T] WHERE [A] = 1) BEGIN INSERT INTO [T] ([A]) VALUES (1); ' +
          'UPDATE [U] SET [B] = 2 END ELSE BEGIN DELETE FROM [T] WHERE [A] = 1 END'),
    ['SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM [T] WHERE [A] = 1)', 'INSERT INTO [T]([A]) VALUES (1)',
     'UPDATE [U] SET [B] = 2', 'DELETE FROM [T] WHERE [A] = 1']);
  // IF ... ELSE without blocks, nested IF in the ELSE branch
  assert.deepStrictEqual(texts('IF (SELECT COUNT(*) FROM [T]) > 0 UPDATE [T] SET [A] = 0 ELSE IF 1 = 1 SELECT 2 ELSE SELECT 3'),
    ['SELECT 1 WHERE (SELECT COUNT(*) FROM [T]) > 0', 'UPDATE [T] SET [A] = 0', 'SELECT 1 WHERE 1 = 1', 'SELECT 2', 'SELECT 3']);
});

group('CASE ... END, strings, names and comments do not end a statement', () => {
  assert.deepStrictEqual(
    texts("SELECT CASE WHEN [A] = 'x;END' THEN 1 ELSE 0 END AS [B;] FROM [T] -- a ; comment\n; SELECT /* END; */ 2"),
    ["SELECT CASE WHEN [A] = 'x;END' THEN 1 ELSE 0 END AS [B;] FROM [T]", 'SELECT 2']);
  assert.deepStrictEqual(texts("SELECT N'it''s' ;"), ["SELECT N'it''s'"]);
  assert.throws(() => splitBatch("SELECT 'open"), /unterminated string/);
  assert.throws(() => splitBatch('IF 1 = 1 BEGIN SELECT 1'), /BEGIN without END/);
  // BEGIN TRANSACTION is a statement, not a block
  assert.deepStrictEqual(texts('BEGIN TRANSACTION; SELECT 1; COMMIT'), ['BEGIN TRANSACTION', 'SELECT 1', 'COMMIT']);
});

group('T-SQL the module writes is accepted', () => {
  for (const sql of [
    'SELECT TOP 1 [ID] FROM [ZumvoPaymentTransactions] WHERE [BasketID] = 12 ORDER BY [ID] DESC',
    "INSERT INTO [zumvoPaymentLog] ([Message], [Timestamp]) VALUES (N'Approved', GETDATE())",
    'UPDATE [ZumvoPaymentTransactions] SET [Status] = 2, [AdviceAttempts] = ISNULL([AdviceAttempts], 0) + 1 WHERE [ID] = 5',
    "SELECT CAST([Amount] AS DECIMAL(12, 2)) FROM [T] WHERE [Created] < DATEADD(minute, -240, GETDATE())",
    "SELECT 1 WHERE NOT EXISTS(SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'T')",
  ])
    assert.strictEqual(checkStatement(parser, sql), null, sql);
});

group('statements SQL Server refuses are found, also where the grammar is lenient', () => {
  const refused = {
    'SELECT * FROM [T] LIMIT 1': /LIMIT/,
    'SELECT `A` FROM [T]': /back-quoted/,
    'INSERT OR REPLACE INTO [T] ([A]) VALUES (1)': /INSERT OR/,
    'SELECT IFNULL([A], 0) FROM [T]': /IFNULL/,
    "SELECT [A] || 'x' FROM [T]": /concatenation/,
    "SELECT datetime('now')": /SQLite date/,
    'SELECT [A] FROM [T] WHERE [B] = ?': /placeholder/,
    'SELEC [A] FROM [T]': /2 statements|not one the check knows|type/,
    'SELECT [A] FROM [T] WHERE': /./,
    'UPDATE [T] SET [A] = 1 SELECT 2': /Expected|2 statements/,
  };
  for (const [sql, why] of Object.entries(refused)) {
    const got = checkStatement(parser, sql);
    assert.notStrictEqual(got, null, `accepted: ${sql}`);
    assert.match(got, why, sql);
  }
});

group('a trace: failures fail the run, known statements are listed with their reason', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zumvo_tsql_self_'));
  try {
    const trace = path.join(dir, 'statements.sql');
    fs.writeFileSync(trace, '-- 2026-01-02 03:04:05\nSELECT 1\n\n-- 2026-01-02 03:04:06\n' +
      "IF OBJECT_ID('T', 'U') IS NULL\nCREATE TABLE [T] ([A] INT)\n\n-- 2026-01-02 03:04:07\nSELECT * FROM [T] LIMIT 5\n\n");
    assert.deepStrictEqual(readTrace(trace).length, 3);
    const none = path.join(dir, 'none.json');
    fs.writeFileSync(none, '[]');
    const known = path.join(dir, 'known.json');
    fs.writeFileSync(known, JSON.stringify([{ match: 'LIMIT 5$', reason: 'a test' }]));
    const log = console.log;
    const lines = [];
    console.log = (l) => lines.push(l);
    let unknownStatus, knownStatus, emptyStatus;
    try {
      unknownStatus = main([none, trace]);
      knownStatus = main([known, trace]);
      const empty = path.join(dir, 'empty.sql');
      fs.writeFileSync(empty, '');
      console.error = () => {};
      emptyStatus = main([none, empty]);
    } finally {
      console.log = log;
    }
    assert.strictEqual(unknownStatus, 1, lines.join('\n'));
    assert.ok(lines.some((l) => /DOES NOT PARSE .*LIMIT 5/.test(l)), lines.join('\n'));
    assert.strictEqual(knownStatus, 0, lines.join('\n'));
    assert.ok(lines.some((l) => /known: 1 statement.*a test/.test(l)), lines.join('\n'));
    assert.strictEqual(emptyStatus, 2);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

process.exitCode = failures === 0 ? 0 : 1;
