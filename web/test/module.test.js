// The WebAssembly module under Node: every command line gives what occusim8
// gives (status, console, files, byte for byte), and the explorer's curves
// built on it hold the program's numbers (to 1e-12: the module's C math
// library may round a power's last bit differently).
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const D = require('../design.js');
const { loadModule, nativeRun, inputs, close, assertClose } = require('./support.js');

let wasm;
test.before(async () => {
  wasm = await loadModule();
});

test('a command line run in the module gives what occusim8 gives', () => {
  const cases = [
    ['plain design with its echo', 'T=5 N=100 psi=.6 p=.3 DESIGN'],
    ['a p per visit, a null and a level', 'T=5 N=100 psi=.6 p=.3,.4,.5,.3,.2 DESIGN QUIET NULLS=psi:.5 ALPHA=.1'],
    ['several seasons', 'T=6 N=80 psi=.6 p=.3 SPS=3 eps=.2 gam=.1 DESIGN QUIET NULLS=eps:.4'],
    ['false positives and certain detections', 'T=5 N=100 psi=.6 p=.3 p10=.05 b=.2 DESIGN QUIET'],
    ['site and detection covariates', 'T=4 N=150 p=.4 NCOVS=1 coef=0.405465108108,.5 NPCOVS=1 pcoef=-.3 DESIGN QUIET'],
    ['the longest design', 'T=16 N=40 psi=.3 p=.1 DESIGN QUIET outfile=long.pao'],
    ['history file of expected counts', 'T=4 N=1000 psi=.37 p=.21 LIST'],
    ['CSV history file', 'T=3 N=100 psi=.5 p=.4 FORMAT=csv outfile=h.csv QUIET'],
    ['a probability out of range', 'T=5 N=100 psi=1.5 p=.3 DESIGN'],
    ['a null of no parameter', 'T=5 N=100 psi=.6 p=.3 DESIGN NULLS=zeta:1'],
    ['a design too long to evaluate', 'T=17 N=100 psi=.6 p=.3 DESIGN QUIET'],
    ['a list longer than the surveys', 'T=3 N=100 psi=.6 p=.3,.3,.3,.3 DESIGN QUIET'],
    ['a stochastic design evaluation', 'T=-5 N=100 psi=.6 p=.3 SEED=3 DESIGN QUIET'],
  ];
  for (const [name, line] of cases) {
    const args = ['occusim8', ...line.split(' ')];
    assert.deepEqual(wasm.run(args), nativeRun(args), name);
  }
});

test('a text that is no list of arguments is refused without running', () => {
  for (const text of ['', 'T=5', '{"T":5}', '[]', '[5]']) {
    const r = wasm.raw(text);
    assert.equal(r.status, 2, text);
    assert.match(r.err, /^bad argument list/, text);
    assert.deepEqual(r.files, {}, text);
  }
});

test('the curve over visits at the budget is the one occusim8 gives', () => {
  const designs = [
    inputs({ cost: { site: 2, first: 1, repeat: 0.5 }, budget: 400 }),
    inputs({ psi: '0.3', p: '0.15', budget: 900, nullValue: '0.2' }),
    inputs({ family: 'seasons', seasons: '3', budget: 600, parameter: 'gam', nullValue: '0.25' }),
    inputs({ family: 'falsepos', b: '0.3', budget: 300, parameter: 'p10' }),
  ];
  for (const d of designs) {
    const here = D.budgetCurve(wasm.run, d);
    assertClose(here, D.budgetCurve(nativeRun, d), 1e-12, JSON.stringify(d));
    assert.ok(here.points.length > 0 && here.best, JSON.stringify(d));
  }
});

test('the curve at the budget is the one the optimiser gives: its best design and every design it evaluated', () => {
  const d = inputs({ psi: '0.5', p: '0.3', cost: { site: 0, first: 3, repeat: 1 }, budget: 2000 });
  const line = D.optimalCommandLine(d);
  assert.match(line, /OPTIMIZE=psi BUDGET=2000 COST=0,3,1 KMAX=\d+$/);
  const native = nativeRun([...line.split(' '), 'QUIET']);
  assert.equal(native.status, 0, native.err);
  const want = D.parseOptimalCsv(native.files['occusim_optimal.csv']);
  const curve = D.budgetCurve(wasm.run, d);
  assert.deepEqual(curve.points.map((pt) => [pt.visits, pt.sites, pt.best]), want.map((pt) => [pt.visits, pt.sites, pt.best]));
  assert.deepEqual([curve.best.visits, curve.best.sites], [7, 222]);
});

test('power and SE against sites agree with occusim8 run at each number of sites', () => {
  const d = inputs({ psi: '0.4', p: '0.25', budget: 300, nullValue: '0.55', alpha: '0.1' });
  const grid = [10, 37, 150, 600];
  const { curves } = D.siteCurves(wasm.run, wasm.power, d, [3, 6], grid);
  assert.deepEqual(curves.map((c) => c.visits), [3, 6]);
  for (const c of curves) {
    for (const pt of c.points) {
      const { rows } = D.evaluate(nativeRun, d, c.visits, pt.sites);
      const psi = rows.find((r) => r.parameter === 'psi');
      assert.ok(close(pt.se, psi.se, 1e-9), `se ${c.visits} visits, ${pt.sites} sites: ${pt.se} vs ${psi.se}`);
      assert.ok(close(pt.power, psi.power, 1e-9), `power ${c.visits} visits, ${pt.sites} sites: ${pt.power} vs ${psi.power}`);
    }
  }
});

test('sites a budget affords', () => {
  // [costs site,first,repeat, seasons family?, budget, visits, sites]
  const cases = [
    [[0, 1, 1], 1, 500, 5, 100],
    [[0, 1, 1], 1, 499, 5, 99],
    [[2, 1, 0.5], 1, 400, 5, 80],
    [[0, 0.1, 0.1], 1, 0.3, 1, 3], // 0.3 / 0.1 is just below 3 in doubles
    [[1, 3, 1], 3, 600, 4, 31], // 1 + 3·(3 + 3·1) = 19 per site
    [[0, 1, 1], 1, 1, 2, 0],
    [[0, 0, 0], 1, 500, 5, 0],
    [[0, 1, -1], 1, 500, 5, 0],
    [[0, 1, 1], 1, -5, 5, 0],
  ];
  for (const [[site, first, repeat], seasons, budget, visits, want] of cases) {
    const d = inputs({ family: seasons > 1 ? 'seasons' : 'single', seasons: String(seasons), cost: { site, first, repeat }, budget });
    assert.equal(D.sitesAtBudget(d, visits), want, JSON.stringify({ site, first, repeat, seasons, budget, visits }));
  }
});

test('command line and R call of the selected design', () => {
  const cases = [
    [inputs({}), 5, 100, 'occusim8 T=5 N=100 psi=0.6 p=0.3 DESIGN', 'occusim_design(T = 5, N = 100, psi = 0.6, p = 0.3)'],
    [
      inputs({ pList: [0.3, 0.4, 0.5], nullValue: '0.5', alpha: '0.1' }),
      3,
      50,
      "occusim8 T=3 N=50 psi=0.6 p=0.3,0.4,0.5 DESIGN NULLS=psi:0.5 ALPHA=0.1",
      'occusim_design(T = 3, N = 50, psi = 0.6, p = c(0.3, 0.4, 0.5), NULLS = c("psi" = 0.5), ALPHA = 0.1)',
    ],
    [
      inputs({ family: 'seasons', seasons: '2', parameter: 'eps', nullValue: '0' }),
      4,
      60,
      'occusim8 T=8 N=60 psi=0.6 p=0.3 SPS=4 eps=0.2 gam=0.1 DESIGN NULLS=eps:0',
      'occusim_design(T = 8, N = 60, psi = 0.6, p = 0.3, SPS = 4, eps = 0.2, gam = 0.1, NULLS = c("eps" = 0))',
    ],
    [
      inputs({ slope: '0.5', pslope: '-1', parameter: 'psi(cov1)', nullValue: '0' }),
      4,
      150,
      "occusim8 T=4 N=150 NCOVS=1 coef=0.405465108108,0.5 p=0.3 NPCOVS=1 pcoef=-1 DESIGN 'NULLS=psi(cov1):0'",
      'occusim_design(T = 4, N = 150, NCOVS = 1, coef = c(0.405465108108, 0.5), p = 0.3, NPCOVS = 1, pcoef = -1, NULLS = c("psi(cov1)" = 0))',
    ],
    [
      inputs({ family: 'falsepos', b: '0.2' }),
      5,
      100,
      'occusim8 T=5 N=100 psi=0.6 p=0.3 p10=0.05 b=0.2 DESIGN',
      'occusim_design(T = 5, N = 100, psi = 0.6, p = 0.3, p10 = 0.05, b = 0.2)',
    ],
  ];
  for (const [d, visits, sites, line, r] of cases) {
    assert.equal(D.commandLine(d, visits, sites), line);
    assert.equal(D.rCall(d, visits, sites), r);
  }
});
