// Shared by the explorer's tests: the WebAssembly module and the native
// occusim8 as two interchangeable `run(args)` functions.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const WEB = process.env.OCCUSIM_WEB || path.join(__dirname, '..', '..', 'build', 'web');
const OCCUSIM8 = process.env.OCCUSIM8 || path.join(__dirname, '..', '..', 'build', 'occusim8');

async function loadModule() {
  const createOccusim = require(path.join(WEB, 'occusim.js'));
  // Handed the binary: this Emscripten would fetch() a file path under Node.
  const module = await createOccusim({ wasmBinary: fs.readFileSync(path.join(WEB, 'occusim.wasm')) });
  return {
    run: (args) => JSON.parse(module.ccall('occusim_run', 'string', ['string'], [JSON.stringify(args)])),
    power: (effect, se, alpha) =>
      module.ccall('occusim_wald_power', 'number', ['number', 'number', 'number'], [effect, se, alpha]),
    raw: (text) => JSON.parse(module.ccall('occusim_run', 'string', ['string'], [text])),
  };
}

// Runs occusim8 in a fresh directory and returns what the module returns:
// status, both streams and every file the run left.
function nativeRun(args) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'occusim-web-'));
  try {
    const r = spawnSync(OCCUSIM8, args.slice(1), { cwd: dir, encoding: 'utf8', argv0: args[0] });
    if (r.error) throw r.error;
    const files = {};
    for (const name of fs.readdirSync(dir)) files[name] = fs.readFileSync(path.join(dir, name), 'utf8');
    return { status: r.status, out: r.stdout, err: r.stderr, files };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Inputs of the page's default design, with changes.
function inputs(changes) {
  return {
    family: 'single',
    psi: '0.6',
    p: '0.3',
    pList: [],
    seasons: '2',
    eps: '0.2',
    gam: '0.1',
    p10: '0.05',
    b: '0',
    slope: '0',
    pslope: '0',
    cost: { site: 0, first: 1, repeat: 1 },
    budget: 500,
    parameter: 'psi',
    nullValue: null,
    alpha: 0.05,
    visits: 5,
    kmax: 10,
    ...changes,
  };
}

function close(a, b, rel) {
  return Math.abs(a - b) <= rel * Math.max(Math.abs(a), Math.abs(b));
}

// Deep equality, numbers within a relative tolerance: the module's C math
// library (exp, erfc) may differ from the native one in the last bit.
function assertClose(actual, expected, rel, where) {
  const assert = require('node:assert/strict');
  if (typeof expected === 'number' && typeof actual === 'number') {
    assert.ok(actual === expected || close(actual, expected, rel), `${where}: ${actual} vs ${expected}`);
  } else if (expected && typeof expected === 'object') {
    assert.equal(typeof actual, 'object', where);
    assert.deepEqual(Object.keys(actual ?? {}).sort(), Object.keys(expected).sort(), where);
    for (const k of Object.keys(expected)) assertClose(actual[k], expected[k], rel, where + '.' + k);
  } else {
    assert.equal(actual, expected, where);
  }
}

module.exports = { WEB, OCCUSIM8, loadModule, nativeRun, inputs, close, assertClose };
