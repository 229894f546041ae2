// The design explorer page: reads the inputs, runs the design evaluations
// through the WebAssembly build of occusim8 (OccusimDesign does the design
// arithmetic), and shows the curves, the selected design's table, the command
// line that reproduces it and the program's own messages for refused inputs.
(function () {
  'use strict';
  const D = window.OccusimDesign;
  const $ = (id) => document.getElementById(id);

  const state = {
    module: null,
    inputs: null,
    budget: null, // {points, best, byPower}
    sites: null, // {curves, byPower}
    selected: null, // {visits, sites, rows, args}
    message: '',
    command: '',
    rcall: '',
    csv: '',
    millis: 0,
    computed: 0, // completed recomputations
  };
  const charts = { budget: null, sites: null };

  // Runs one occusim8 command line in the module.
  function runLine(args) {
    const text = state.module.ccall('occusim_run', 'string', ['string'], [JSON.stringify(args)]);
    return JSON.parse(text);
  }

  function power(effect, se, alpha) {
    return state.module.ccall('occusim_wald_power', 'number', ['number', 'number', 'number'], [effect, se, alpha]);
  }

  function readInputs() {
    const v = (id) => $(id).value;
    const perVisit = $('perVisit').checked;
    return {
      family: v('family'),
      psi: v('psi'),
      p: v('p'),
      pList: perVisit ? D.parseList(v('pList')) : [],
      seasons: v('seasons'),
      eps: v('eps'),
      gam: v('gam'),
      p10: v('p10'),
      b: v('b'),
      slope: v('slope'),
      pslope: v('pslope'),
      cost: { site: Number(v('costSite')), first: Number(v('costFirst')), repeat: Number(v('costRepeat')) },
      budget: Number(v('budget')),
      parameter: v('parameter'),
      nullValue: v('null').trim() === '' ? null : v('null').trim(),
      alpha: v('alpha').trim() === '' ? 0.05 : v('alpha').trim(),
      visits: Math.round(Number(v('visits'))),
      kmax: Number(v('kmax')),
    };
  }

  // Which inputs belong to the family chosen.
  function showFamilyInputs(inputs) {
    const f = D.FAMILIES[inputs.family];
    for (const el of document.querySelectorAll('.only-seasons')) el.hidden = !f.seasons;
    for (const el of document.querySelectorAll('.only-falsepos')) el.hidden = !f.falsePositives;
    for (const el of document.querySelectorAll('.only-single')) el.hidden = !f.covariates;
    for (const el of document.querySelectorAll('.only-perVisit')) el.hidden = !$('perVisit').checked;
    const pRow = document.querySelector('.pair[data-for=p]');
    pRow.hidden = $('perVisit').checked;
  }

  function fixed(x, digits) {
    return x === null || x === undefined || !Number.isFinite(x) ? '–' : x.toFixed(digits);
  }

  function showMessage(text, warning) {
    const box = $('message');
    box.textContent = text;
    box.hidden = !text;
    box.className = warning ? 'warning' : '';
    state.message = text;
  }

  // Offers the parameters of the design table for the question asked.
  function offerParameters(rows, current) {
    const sel = $('parameter');
    const names = rows.map((r) => r.parameter);
    const now = [...sel.options].map((o) => o.value);
    if (names.join('\n') !== now.join('\n')) {
      sel.innerHTML = '';
      for (const n of names) sel.add(new Option(n, n));
    }
    if (names.includes(current)) sel.value = current;
    else if (names.length) sel.value = names[0];
    return sel.value;
  }

  function showTable(rows) {
    const body = $('table').tBodies[0];
    body.innerHTML = '';
    for (const r of rows) {
      const tr = body.insertRow();
      const cells = [r.parameter, fixed(r.value, 6), fixed(r.se, 6), fixed(r.cv, 6), fixed(r.ci95, 6), fixed(r.power, 6), r.note];
      for (const c of cells) tr.insertCell().textContent = c;
    }
  }

  function chartSize(el) {
    return { width: Math.max(320, Math.min(560, el.parentElement.clientWidth - 10 || 480)), height: 260 };
  }

  function drawBudget(curve) {
    const el = $('chartBudget');
    const ys = curve.points.map((p) => (curve.byPower ? p.power : p.se));
    const xs = curve.points.map((p) => p.visits);
    const best = curve.points.map((p, i) => (p.best ? ys[i] : null));
    const label = curve.byPower ? 'power' : 'SE';
    $('budgetTitle').textContent = label + ' of ' + state.inputs.parameter + ' against visits at the budget';
    const data = [xs, ys, best];
    if (charts.budget) charts.budget.destroy();
    charts.budget = new uPlot(
      {
        ...chartSize(el),
        scales: { x: { time: false } },
        axes: [{ label: 'visits per site' + (D.FAMILIES[state.inputs.family].seasons ? ' and season' : '') }, { label }],
        series: [
          { label: 'visits' },
          { label, stroke: '#24475c', width: 2, points: { show: true } },
          { label: 'optimum', stroke: '#c0392b', width: 0, points: { show: true, size: 12, fill: '#c0392b' } },
        ],
      },
      data,
      el
    );
  }

  const PALETTE = ['#24475c', '#c0392b', '#27ae60', '#8e44ad', '#d68910'];

  function drawSites(curves) {
    const el = $('chartSites');
    const label = curves.byPower ? 'power' : 'SE';
    $('sitesTitle').textContent = label + ' of ' + state.inputs.parameter + ' against sites';
    const xs = curves.curves.length ? curves.curves[0].points.map((p) => p.sites) : [];
    const data = [xs];
    const series = [{ label: 'sites' }];
    curves.curves.forEach((c, i) => {
      data.push(c.points.map((p) => (curves.byPower ? p.power : p.se)));
      series.push({ label: c.visits + ' visits', stroke: PALETTE[i % PALETTE.length], width: 2 });
    });
    if (charts.sites) charts.sites.destroy();
    charts.sites = new uPlot(
      { ...chartSize(el), scales: { x: { time: false } }, axes: [{ label: 'sites' }, { label }], series },
      data,
      el
    );
  }

  function markStale(stale) {
    for (const id of ['chartBudget', 'chartSites', 'table', 'summary']) $(id).classList.toggle('stale', stale);
  }

  function recompute() {
    const t0 = performance.now();
    // Within one recomputation the same command line runs once: the selected
    // design is a point of the budget curve, whose points the curves over
    // sites start from.
    const runs = new Map();
    const run = (args) => {
      const key = JSON.stringify(args);
      if (!runs.has(key)) runs.set(key, runLine(args));
      return runs.get(key);
    };
    const inputs = readInputs();
    state.inputs = inputs;
    showFamilyInputs(inputs);
    try {
      // The selected design first: its table names the parameters.
      const visits = inputs.pList.length ? inputs.pList.length : inputs.visits;
      const sites = D.sitesAtBudget(inputs, visits);
      if (!(sites >= 1))
        throw new D.RefusedError(
          'The budget affords no site at ' + visits + ' visits: a site costs ' + D.siteCost(inputs, visits) + '.'
        );
      // The table without tests names the parameters; the one asked about
      // gets its null (a name the table lacks would be refused).
      const first = D.evaluate(run, { ...inputs, nullValue: null }, visits, sites);
      inputs.parameter = offerParameters(first.rows, inputs.parameter);
      const sel = D.hasNull(inputs) ? D.evaluate(run, inputs, visits, sites) : first;
      const row = sel.rows.find((r) => r.parameter === inputs.parameter);
      state.selected = { visits, sites, rows: sel.rows, args: sel.args, se: row.se, power: row.power };
      state.budget = D.budgetCurve(run, inputs);
      const optimum = state.budget.best ? state.budget.best.visits : visits;
      state.sites = D.siteCurves(run, power, inputs, D.curveVisits(inputs, visits, optimum), D.siteGrid(inputs, visits));
      state.command = D.commandLine(inputs, visits, sites);
      state.rcall = D.rCall(inputs, visits, sites);
      state.commandOptimal = inputs.pList.length ? '' : D.optimalCommandLine(inputs);
      state.csv = D.curvesCsv(inputs, state.budget, state.sites);

      $('selDesign').textContent = sites + ' sites × ' + visits + ' visits' + (D.FAMILIES[inputs.family].seasons ? ' per season' : '') +
        ' (cost ' + Number((sites * D.siteCost(inputs, visits)).toPrecision(12)) + ')';
      $('selSe').textContent = fixed(row.se, 6);
      $('selPower').textContent = D.hasNull(inputs) ? fixed(row.power, 6) : 'give a null value';
      const b = state.budget.best;
      $('optimum').textContent = b
        ? b.visits + ' visits, ' + b.sites + ' sites: ' + (state.budget.byPower ? 'power ' + fixed(b.power, 6) : 'SE ' + fixed(b.se, 6))
        : 'no design of two or more sites fits the budget';
      showTable(sel.rows);
      drawBudget(state.budget);
      drawSites(state.sites);
      $('cmd').textContent = state.command;
      $('rcall').textContent = state.rcall;
      $('cmdOptimal').textContent = state.commandOptimal;
      const notes = sel.warnings.slice();
      if (state.budget.refused.length)
        notes.push('not evaluated at ' + state.budget.refused.map((r) => r.visits).join(', ') + ' visits: ' + state.budget.refused[0].message);
      showMessage(notes.join('\n'), true);
      markStale(false);
    } catch (e) {
      if (!(e instanceof D.RefusedError)) throw e;
      showMessage(e.message, false);
      if (e.args) {
        state.command = e.args.filter((a) => a !== 'QUIET' && !a.startsWith('outfile=')).join(' ');
        $('cmd').textContent = state.command;
      }
      markStale(true);
    }
    state.millis = performance.now() - t0;
    state.computed++;
    $('timing').textContent = 'computed in ' + state.millis.toFixed(0) + ' ms';
  }

  // Changes that come while a recomputation is waiting join it: a slider
  // dragged over designs that take longer than a frame redraws once per turn.
  let queued = false;
  function schedule() {
    if (queued) return;
    queued = true;
    setTimeout(() => {
      queued = false;
      recompute();
    }, 0);
  }

  // Sliders and number boxes move together; every change recomputes.
  function wire() {
    for (const pair of document.querySelectorAll('.pair')) {
      const range = pair.querySelector('input[type=range]');
      const box = $(pair.dataset.for);
      range.value = box.value;
      range.addEventListener('input', () => {
        box.value = range.value;
        schedule();
      });
      box.addEventListener('input', () => {
        range.value = box.value;
        schedule();
      });
    }
    for (const id of ['family', 'perVisit', 'pList', 'parameter', 'null', 'alpha'])
      $(id).addEventListener(id === 'family' || id === 'perVisit' || id === 'parameter' ? 'change' : 'input', schedule);
    $('copyCmd').addEventListener('click', () => copy(state.command));
    $('copyR').addEventListener('click', () => copy(state.rcall));
    $('download').addEventListener('click', download);
  }

  function copy(text) {
    if (navigator.clipboard) navigator.clipboard.writeText(text).catch(() => fallbackCopy(text));
    else fallbackCopy(text);
  }

  function fallbackCopy(text) {
    const ta = document.createElement('textarea');
    ta.value = text;
    document.body.appendChild(ta);
    ta.select();
    document.execCommand('copy');
    ta.remove();
  }

  function download() {
    const url = URL.createObjectURL(new Blob([state.csv], { type: 'text/csv' }));
    const a = document.createElement('a');
    a.href = url;
    a.download = 'occusim_design_curves.csv';
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
  }

  window.explorer = { state, recompute, run: runLine, charts };
  createOccusim().then((module) => {
    state.module = module;
    wire();
    recompute();
    document.body.dataset.ready = 'yes';
  });
})();
