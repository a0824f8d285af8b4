'use strict';
// A voucher provider on another SOAP stack: node-soap serves PosService.wsdl (written from the
// documented envelopes) over HTTP, with a small ledger of its own. It knows only the documented
// protocol: an advice names its transaction by tvTrxId, never by reference.
//
//   node peer.js [--port N] [--api-id ID] [--api-password PWD]
//
// Prints "listening on PORT" once it serves. Besides the SOAP endpoint (/pos/services/PosService):
//   GET  /ledger     every accepted transaction, as the voucher simulator lists its ledger
//   GET  /requests   every request as node-soap parsed it: {"operation": ..., "args": ...}
//   POST /layout     {"layout": NAME}: how later answers are written (see Layouts in layouts.js)
//   POST /reset      empties the ledger and the request list
// Codes: PAY... covers up to 100.00 (all payment), SPLIT... up to 20.00 (60 % payment, the rest
// discount), DISC... 5.00 of discount, REFUSE... is refused (3); anything else is unknown (2).
const http = require('http');
const fs = require('fs');
const path = require('path');
const soap = require('soap');
const { Layouts } = require('./layouts');

const SoapPath = '/pos/services/PosService';

function option(name, fallback) {
  const at = process.argv.indexOf('--' + name);
  return at > 0 && at + 1 < process.argv.length ? process.argv[at + 1] : fallback;
}
const credentials = { id: option('api-id', 'zumvo'), password: option('api-password', 'zumvo-secret') };

let ledger = [];
let requests = [];
let layout = 'own';
let nextTvTrxId = 5001;

// What a code covers of the amount asked, in cents, and the payment part of it.
function cover(code, asked) {
  if (code.startsWith('PAY')) {
    const amount = Math.min(asked, 10000);
    return { amount, settle: amount };
  }
  if (code.startsWith('SPLIT')) {
    const amount = Math.min(asked, 2000);
    return { amount, settle: Math.floor((amount * 60) / 100) };
  }
  if (code.startsWith('DISC')) {
    const amount = Math.min(asked, 500);
    return { amount, settle: 0 };
  }
  return null;
}

// node-soap gives an xsd:int as a number; a missing member as undefined.
function text(value) {
  return value === undefined || value === null ? '' : String(value);
}

function refused(code, desc) {
  return { response: { responseCode: code, responseDesc: desc } };
}

function transaction(args) {
  requests.push({ operation: 'transaction', args });
  const r = args.request || {};
  const creds = r.apiCredentials || {};
  if (text(creds.id) !== credentials.id || text(creds.password) !== credentials.password)
    return refused(7, 'Invalid API credentials');
  if (text(r.type) !== 'PAYMENT') return refused(9, 'Unsupported transaction type ' + text(r.type));
  const asked = Number(r.totalAmount);
  if (!Number.isInteger(asked) || asked <= 0) return refused(5, 'Invalid amount');
  const code = text((r.token || {}).id);
  if (code.startsWith('REFUSE')) return refused(3, 'Voucher refused');
  const covered = cover(code, asked);
  if (!covered) return refused(2, 'Unknown voucher code');
  const store = r.storeTrxDetails || {};
  const entry = {
    tvTrxId: nextTvTrxId++,
    code,
    kind: 'PAYMENT',
    storeId: text(store.storeId),
    posId: text(store.posId),
    basketId: text(store.basketId),
    cashierId: text(store.cashierId),
    trxId: text(store.trxId),
    requested: asked,
    amount: covered.amount,
    amountToSettle: covered.settle,
    state: 'held',
    adviceLog: [],
  };
  ledger.push(entry);
  return {
    response: {
      responseCode: -1,
      responseDesc: 'Approved',
      tvTrxId: entry.tvTrxId,
      totalAmountProcessed: entry.amount,
      amountToSettle: entry.amountToSettle,
    },
  };
}

function advise(args) {
  requests.push({ operation: 'advise', args });
  const r = args.request || {};
  const creds = r.apiCredentials || {};
  const original = r.originalTrx || {};
  const store = original.storeTrxDetails || {};
  const tvTrxId = Number(original.tvTrxId);
  const entry = ledger.find((e) => e.tvTrxId === tvTrxId);
  const answer = (code, desc, moved) => {
    if (entry) entry.adviceLog.push({ action: text(r.action), responseCode: String(code), moved: !!moved });
    return { response: { responseCode: code, responseDesc: desc, tvTrxId: Number.isInteger(tvTrxId) ? tvTrxId : 0 } };
  };
  if (text(creds.id) !== credentials.id || text(creds.password) !== credentials.password)
    return answer(7, 'Invalid API credentials');
  if (text(original.type) !== 'PAYMENT') return answer(9, 'Unsupported transaction type');
  const action = text(r.action);
  if (action !== 'FINALISE' && action !== 'REVERSE') return answer(9, 'Unknown action ' + action);
  if (!entry) return answer(1, 'Unknown transaction ' + text(original.tvTrxId));
  if (entry.storeId !== text(store.storeId) || entry.trxId !== text(store.trxId))
    return answer(1, 'Transaction details do not match transaction ' + entry.tvTrxId);
  const target = action === 'FINALISE' ? 'settled' : 'released';
  if (entry.state === target) return answer(-1, 'Transaction already ' + target);
  if (entry.state !== 'held') return answer(1, 'Transaction was ' + entry.state);
  entry.state = target;
  return answer(-1, action === 'FINALISE' ? 'Finalised' : 'Reversed', true);
}

const services = { PosService: { PosServicePort: { transaction, advise } } };

function readBody(req, done) {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => done(Buffer.concat(chunks).toString('utf8')));
}

function control(req, res) {
  const reply = (status, value) => {
    res.writeHead(status, { 'Content-Type': 'application/json' });
    res.end(JSON.stringify(value));
  };
  if (req.method === 'GET' && req.url === '/ledger') return reply(200, ledger);
  if (req.method === 'GET' && req.url === '/requests') return reply(200, requests);
  if (req.method === 'POST' && req.url === '/reset') {
    ledger = [];
    requests = [];
    layout = 'own';
    return reply(200, {});
  }
  if (req.method === 'POST' && req.url === '/layout')
    return readBody(req, (body) => {
      let name;
      try {
        name = JSON.parse(body).layout;
      } catch (e) {
        return reply(400, { error: 'body must be JSON' });
      }
      if (!Layouts[name]) return reply(400, { error: 'unknown layout ' + name, known: Object.keys(Layouts) });
      layout = name;
      return reply(200, { layout });
    });
  return reply(404, { error: 'not found' });
}

// Answers leave node-soap as it writes them and are re-written here into the layout set.
function rewriting(res) {
  const chunks = [];
  const write = res.write.bind(res);
  const end = res.end.bind(res);
  res.write = (chunk, encoding) => {
    if (chunk) chunks.push(Buffer.isBuffer(chunk) ? chunk : Buffer.from(chunk, encoding || 'utf8'));
    return true;
  };
  res.end = (chunk, encoding) => {
    if (chunk && typeof chunk !== 'function')
      chunks.push(Buffer.isBuffer(chunk) ? chunk : Buffer.from(chunk, encoding || 'utf8'));
    const out = Buffer.from(Layouts[layout](Buffer.concat(chunks).toString('utf8')), 'utf8');
    if (!res.headersSent) res.setHeader('Content-Length', out.length);
    write(out);
    return end();
  };
}

const server = http.createServer(control);
const wsdl = fs.readFileSync(path.join(__dirname, 'PosService.wsdl'), 'utf8');
server.listen(Number(option('port', '0')), '127.0.0.1', () => {
  soap.listen(server, {
    path: SoapPath,
    services,
    xml: wsdl,
    callback: (err) => {
      if (err) {
        console.error('the WSDL could not be read: ' + err);
        process.exit(1);
      }
      const listeners = server.listeners('request').slice();
      server.removeAllListeners('request');
      server.on('request', (req, res) => {
        if (req.url.startsWith(SoapPath)) rewriting(res);
        for (const l of listeners) l.call(server, req, res);
      });
      console.log('listening on ' + server.address().port);
    },
  });
});
process.on('SIGTERM', () => server.close(() => process.exit(0)));
