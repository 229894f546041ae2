// The page in headless Chromium (Debian's, driven by playwright-core): its
// numbers, charts, command line, buttons and messages against occusim8 run
// on the same designs.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { chromium } = require('playwright-core');
const D = require('../design.js');
const { WEB, nativeRun, close, assertClose } = require('./support.js');

const SHOTS = process.env.OCCUSIM_WEB_SHOTS || path.join(WEB, '..', 'web-test');
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

// build/web served on a port of our own, as any static server would.
function serve() {
  const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.join(WEB, name === '/' ? 'index.html' : name);
    if (!file.startsWith(WEB) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      res.writeHead(404);
      res.end();
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
    res.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

let server, browser, page, context;
test.before(async () => {
  server = await serve();
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1280, height: 1000 } });
  await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  page = await context.newPage();
  const failures = [];
  page.on('pageerror', (e) => failures.push(e.message));
  page.on('requestfailed', (r) => failures.push('request failed: ' + r.url()));
  page.failures = failures;
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await page.waitForSelector('body[data-ready=yes]');
});

test.after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
});

// Sets inputs as a user would (typing fires the page's input events) and
// waits for the recomputation.
async function set(values) {
  for (const [id, value] of Object.entries(values)) {
    const before = await page.evaluate(() => window.explorer.state.computed);
    const el = page.locator('#' + id);
    const tag = await el.evaluate((e) => e.tagName + ':' + e.type);
    if (tag.startsWith('SELECT')) await el.selectOption(value);
    else if (tag === 'INPUT:checkbox') await el.setChecked(value);
    else await el.fill(value);
    await page.waitForFunction((n) => window.explorer.state.computed > n, before);
  }
}

function shown() {
  return page.evaluate(() => {
    const s = window.explorer.state;
    const c = window.explorer.charts;
    return {
      inputs: s.inputs,
      selected: s.selected,
      budget: s.budget,
      sites: s.sites,
      command: document.getElementById('cmd').textContent,
      rcall: document.getElementById('rcall').textContent,
      se: document.getElementById('selSe').textContent,
      power: document.getElementById('selPower').textContent,
      optimum: document.getElementById('optimum').textContent,
      message: document.getElementById('message').hidden ? '' : document.getElementById('message').textContent,
      budgetData: c.budget ? c.budget.data : null,
      sitesData: c.sites ? c.sites.data : null,
      csv: s.csv,
    };
  });
}

// The shell words of the command line on the page, without quotes.
function words(line) {
  return line.match(/'[^']*'|\S+/g).map((w) => w.replace(/^'(.*)'$/, '$1'));
}

test('the numbers and charts shown are those of occusim8 on the same designs', async () => {
  const designs = [
    { psi: '0.4', p: '0.25', costSite: '2', costFirst: '1', costRepeat: '0.5', budget: '300', null: '0.55', alpha: '0.1', visits: '4' },
    { family: 'seasons', seasons: '2', eps: '0.3', gam: '0.15', parameter: 'eps', null: '0.5', visits: '3' },
    { family: 'falsepos', p10: '0.04', b: '0.25', null: '', parameter: 'p10', visits: '6' },
  ];
  for (const values of designs) {
    await set(values);
    const s = await shown();
    const label = JSON.stringify(values);
    assert.equal(s.message, '', label);
    // The command line shown reproduces the selected design's table.
    const args = words(s.command);
    const native = nativeRun([...args, 'QUIET']);
    assert.equal(native.status, 0, label + ' ' + native.err);
    const rows = D.parseDesignCsv(native.files['occusim_design.csv']);
    assertClose(s.selected.rows, rows, 1e-12, label);
    const row = rows.find((r) => r.parameter === s.inputs.parameter);
    assert.equal(s.se, row.se.toFixed(6), label);
    assert.equal(s.power, D.hasNull(s.inputs) ? row.power.toFixed(6) : 'give a null value', label);
    assert.equal(s.selected.se, s.selected.rows.find((r) => r.parameter === s.inputs.parameter).se, label);
    // The curve over visits at the budget, point by point, and its optimum.
    const budget = D.budgetCurve(nativeRun, s.inputs);
    assertClose(s.budget, budget, 1e-12, label);
    const y = budget.points.map((p) => (budget.byPower ? p.power : p.se));
    assertClose(s.budgetData, [budget.points.map((p) => p.visits), y, budget.points.map((p, i) => (p.best ? y[i] : null))], 1e-12, label);
    const b = budget.best;
    assert.ok(s.optimum.startsWith(`${b.visits} visits, ${b.sites} sites: `), label + ' ' + s.optimum);
    // Each curve over sites: occusim8 at a few of its numbers of sites.
    assert.equal(s.sitesData.length, s.sites.curves.length + 1, label);
    s.sites.curves.forEach((c, i) => {
      assert.deepEqual(s.sitesData[0], c.points.map((p) => p.sites), label);
      for (const j of [0, Math.floor(c.points.length / 2), c.points.length - 1]) {
        const pt = c.points[j];
        const { rows: at } = D.evaluate(nativeRun, s.inputs, c.visits, pt.sites);
        const r = at.find((x) => x.parameter === s.inputs.parameter);
        const want = s.sites.byPower ? r.power : r.se;
        assert.ok(close(s.sitesData[i + 1][j], want, 1e-9), `${label} ${c.visits} visits ${pt.sites} sites`);
      }
    });
  }
  assert.deepEqual(page.failures, []);
});

test('copy buttons and the CSV download hold what the page shows', async () => {
  await set({ family: 'single', psi: '0.5', p: '0.35', null: '0.3', alpha: '0.05', visits: '5' });
  const s = await shown();
  await page.click('#copyCmd');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), s.command);
  await page.click('#copyR');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), s.rcall);
  assert.match(s.rcall, /^occusim_design\(T = 5, N = \d+, psi = 0\.5, p = 0\.35, NULLS = c\("psi" = 0\.3\)\)$/);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const text = fs.readFileSync(await download.path(), 'utf8');
  assert.equal(text, s.csv);
  assert.equal(text.split('\n')[0], 'curve,visits,sites,cost,se,power,best');
});

test('inputs the program refuses show its own message, and the page recovers', async () => {
  const cases = [
    [{ psi: '1.5' }, { psi: '0.6' }],
    [{ perVisit: true, pList: '0.3, 0.4, 1.2' }, { perVisit: false }],
    [{ alpha: '2' }, { alpha: '0.05' }],
  ];
  await set({ family: 'single', null: '0.5', visits: '5' });
  for (const [bad, good] of cases) {
    await set(bad);
    const s = await shown();
    const native = nativeRun([...words(s.command), 'QUIET']);
    assert.equal(native.status, 1, JSON.stringify(bad));
    assert.equal(s.message, D.refusal(native), JSON.stringify(bad));
    assert.match(s.message, /^occusim8: error: /);
    if (JSON.stringify(bad).includes('psi')) {
      fs.mkdirSync(SHOTS, { recursive: true });
      await page.screenshot({ path: path.join(SHOTS, 'refused.png'), fullPage: true });
    }
    await set(good);
    assert.equal((await shown()).message, '', JSON.stringify(good));
  }
  await set({ budget: '1' });
  assert.match((await shown()).message, /^The budget affords no site/);
  await set({ budget: '500' });
  fs.mkdirSync(SHOTS, { recursive: true });
  await page.screenshot({ path: path.join(SHOTS, 'explorer.png'), fullPage: true });
  assert.deepEqual(page.failures, []);
});
