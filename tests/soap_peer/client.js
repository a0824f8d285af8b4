'use strict';
// node-soap's client, built from PosService.wsdl, against a provider (the voucher simulator in
// strict mode): a code accepted and settled, one accepted and given back, an unknown one refused,
// an advice for an unknown number refused. Prints one line per check; exits 0 when all hold.
//
//   node client.js --url http://127.0.0.1:PORT/pos/services/PosService --api-id ID --api-password PWD
//                  --store N --code PAYMENT_CODE
const path = require('path');
const soap = require('soap');

function option(name, fallback) {
  const at = process.argv.indexOf('--' + name);
  return at > 0 && at + 1 < process.argv.length ? process.argv[at + 1] : fallback;
}
const url = option('url');
const store = Number(option('store', '401'));
const code = option('code', 'PAY-100');
const credentials = {
  apiClientVersion: '0.0.0.14',
  apiServerVersion: '1.14',
  id: option('api-id', 'zumvo'),
  password: option('api-password', 'zumvo-secret'),
};

let failed = 0;
function check(what, ok, detail) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what + (ok ? '' : ': ' + JSON.stringify(detail)));
  if (!ok) failed++;
}

function details(trxId) {
  return { basketId: store + '-1', cashierId: '9', posId: 'Till-1', storeId: store, trxId };
}

function transaction(client, token, trxId, cents) {
  return client.transactionAsync({
    request: {
      apiCredentials: credentials,
      basketAmount: cents,
      product: [{ id: 'SKU-1', pricePerUnit: 1205, units: 1 }],
      storeTrxDetails: details(trxId),
      token: { id: token, type: 'ZUMVO' },
      totalAmount: cents,
      type: 'PAYMENT',
    },
  }).then(([result]) => result.response);
}

function advise(client, action, trxId, tvTrxId) {
  return client.adviseAsync({
    request: {
      apiCredentials: credentials,
      action,
      originalTrx: { storeTrxDetails: details(trxId), type: 'PAYMENT', tvTrxId },
    },
  }).then(([result]) => result.response);
}

async function main() {
  const client = await soap.createClientAsync(path.join(__dirname, 'PosService.wsdl'), { endpoint: url });
  // The answers are typed by the WSDL: node-soap gives the xsd:int members as numbers.
  const first = await transaction(client, code, store + '-901', 1205);
  check('transaction accepted', first.responseCode === -1, first);
  check('tvTrxId is a number', Number.isInteger(first.tvTrxId) && first.tvTrxId > 0, first);
  check('amount processed', first.totalAmountProcessed === 1205, first);
  check('amount to settle', first.amountToSettle === 1205, first);
  const settled = await advise(client, 'FINALISE', store + '-901', first.tvTrxId);
  check('finalise confirmed', settled.responseCode === -1, settled);

  const second = await transaction(client, code, store + '-902', 1001);
  check('second transaction accepted', second.responseCode === -1 && second.tvTrxId > first.tvTrxId, second);
  const reversed = await advise(client, 'REVERSE', store + '-902', second.tvTrxId);
  check('reverse confirmed', reversed.responseCode === -1, reversed);
  const again = await advise(client, 'FINALISE', store + '-902', second.tvTrxId);
  check('finalise of a reversed transaction refused', again.responseCode !== -1, again);

  const unknown = await transaction(client, 'NO-SUCH-CODE', store + '-903', 1001);
  check('unknown code refused', unknown.responseCode !== -1 && unknown.tvTrxId === undefined, unknown);
  const stray = await advise(client, 'FINALISE', store + '-904', 999999);
  check('advice for an unknown number refused', stray.responseCode !== -1, stray);
}

main().then(
  () => {
    console.log(failed === 0 ? 'client checks: all hold' : 'client checks: ' + failed + ' do not hold');
    process.exit(failed === 0 ? 0 : 1);
  },
  (e) => {
    console.log('FAIL the client could not talk to ' + url + ': ' + (e && e.stack ? e.stack : e));
    process.exit(1);
  });
