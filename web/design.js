// The design explorer's arithmetic of study designs: what a design costs, how
// many sites a budget affords for a number of visits, the occusim8 command
// line of a design, the design table read back from <stem>_design.csv, and
// the curves the page draws. Every SE and power comes from the program
// itself through `run(args)`, which runs one command line (occusim8 compiled
// to WebAssembly) and returns {status, out, err, files}. Loaded by the page
// as a plain script (window.OccusimDesign) and by Node with require().
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.OccusimDesign = api;
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  // Longest design the curves go to: surveys of all seasons together. The
  // expected-value run sizes its count table as 3·4^T entries and refuses a
  // table whose size does not fit in 32 bits (T = 15 and 16), so 14.
  const MAX_SURVEYS = 14;
  const STEM = 'explorer';

  // Model families of the page, each with the inputs it reads beside the
  // design (visits, sites) and the costs.
  const FAMILIES = {
    single: { label: 'one season', seasons: false, falsePositives: false, covariates: true },
    seasons: { label: 'several seasons', seasons: true, falsePositives: false, covariates: false },
    falsepos: { label: 'false positives', seasons: false, falsePositives: true, covariates: false },
  };

  // A value as the command line shows it: text typed into the page stays as
  // typed (the program judges it), computed numbers in their shortest form.
  function num(x) {
    return typeof x === 'string' ? x.trim() : String(x);
  }

  function seasonsOf(inputs) {
    return FAMILIES[inputs.family].seasons ? Math.max(1, Math.floor(Number(inputs.seasons)) || 1) : 1;
  }

  function perVisitP(inputs) {
    return Array.isArray(inputs.pList) && inputs.pList.length > 0;
  }

  // Cost of one site visited `visits` times in each season: the site, then
  // per season its first visit and the further ones.
  function siteCost(inputs, visits) {
    const c = inputs.cost;
    return Number(c.site) + seasonsOf(inputs) * (Number(c.first) + (visits - 1) * Number(c.repeat));
  }

  // Whole sites the budget affords at `visits` visits per season (0 when the
  // costs are not positive).
  function sitesAtBudget(inputs, visits) {
    const per = siteCost(inputs, visits);
    const budget = Number(inputs.budget);
    if (!(per > 0) || !(budget > 0)) return 0;
    let sites = Math.floor(budget / per);
    // A quotient rounded just below a whole number (0.3 / 0.1): costs that
    // add up to the budget but for rounding are within it.
    if ((sites + 1) * per <= budget * (1 + 1e-12)) sites++;
    return sites;
  }

  // Visits per season the curves run over: from 2 to `kmax`, within the
  // longest design the evaluation takes (a per-visit p list fixes the number
  // of visits).
  function visitRange(inputs) {
    if (perVisitP(inputs)) return [inputs.pList.length];
    const most = Math.min(Math.floor(Number(inputs.kmax)) || MAX_SURVEYS, Math.floor(MAX_SURVEYS / seasonsOf(inputs)));
    const ks = [];
    for (let k = 2; k <= most; k++) ks.push(k);
    return ks;
  }

  function logit(x) {
    return Math.log(x / (1 - x));
  }

  // Options of the model and its values, in command-line order, as
  // [name, value] pairs (value null for a switch, an array for a list).
  function modelOptions(inputs, visits) {
    const f = FAMILIES[inputs.family];
    if (!f) throw new Error('unknown model family ' + inputs.family);
    const seasons = seasonsOf(inputs);
    const opts = [['T', [visits * seasons]]];
    const covariate = f.covariates && Number(inputs.slope) !== 0 && inputs.slope !== '' && inputs.slope != null;
    if (covariate) {
      // Occupancy at the covariate's mean is psi: the intercept is its logit.
      opts.push(['NCOVS', [1]]);
      opts.push(['coef', [round12(logit(Number(inputs.psi))), inputs.slope]]);
    } else {
      opts.push(['psi', [inputs.psi]]);
    }
    opts.push(['p', perVisitP(inputs) ? inputs.pList : [inputs.p]]);
    if (f.covariates && inputs.pslope != null && inputs.pslope !== '' && Number(inputs.pslope) !== 0) {
      opts.push(['NPCOVS', [1]]);
      opts.push(['pcoef', [inputs.pslope]]);
    }
    if (f.seasons && seasons > 1) {
      opts.push(['SPS', [visits]]);
      opts.push(['eps', [inputs.eps]]);
      opts.push(['gam', [inputs.gam]]);
    }
    if (f.falsePositives) {
      opts.push(['p10', [inputs.p10]]);
      if (Number(inputs.b) > 0) opts.push(['b', [inputs.b]]);
    }
    return opts;
  }

  function round12(x) {
    return Number(x.toPrecision(12));
  }

  // Options of the design evaluation: the tests asked for.
  function testOptions(inputs) {
    const opts = [];
    if (inputs.nullValue !== null && inputs.nullValue !== undefined && inputs.nullValue !== '') {
      opts.push(['NULLS', [inputs.parameter + ':' + num(inputs.nullValue)]]);
      if (Number(inputs.alpha) !== 0.05) opts.push(['ALPHA', [inputs.alpha]]);
    }
    return opts;
  }

  // The design evaluation of `sites` sites visited `visits` times per season.
  function designOptions(inputs, visits, sites) {
    const opts = modelOptions(inputs, visits);
    opts.splice(1, 0, ['N', [sites]]);
    opts.push(['DESIGN', null]);
    return opts.concat(testOptions(inputs));
  }

  function hasNull(inputs) {
    return inputs.nullValue !== null && inputs.nullValue !== undefined && inputs.nullValue !== '';
  }

  function toArgs(opts, extra) {
    const args = ['occusim8'];
    for (const [name, value] of opts) args.push(value === null ? name : name + '=' + value.map(num).join(','));
    return args.concat(extra || []);
  }

  // occusim8 arguments of a design evaluation; the run writes its table to
  // explorer_design.csv.
  function designArgs(inputs, visits, sites) {
    return toArgs(designOptions(inputs, visits, sites), ['QUIET', 'outfile=' + STEM + '.pao']);
  }

  // The command line a user types to get the numbers shown: the same run,
  // without the page's own file name.
  function shellQuote(a) {
    return /^[A-Za-z0-9_.,:=+\-\/]+$/.test(a) ? a : "'" + a.replace(/'/g, "'\\''") + "'";
  }

  function commandLine(inputs, visits, sites) {
    return toArgs(designOptions(inputs, visits, sites)).map(shellQuote).join(' ');
  }

  // The same design as a call of the R package: option names as arguments,
  // TRUE for switches, c(...) for lists, the tests as a named vector.
  function rValue(value) {
    const shown = value.map(num);
    return shown.length === 1 ? shown[0] : 'c(' + shown.join(', ') + ')';
  }

  function rCall(inputs, visits, sites) {
    const parts = [];
    for (const [name, value] of designOptions(inputs, visits, sites)) {
      if (name === 'DESIGN') continue;
      if (name === 'NULLS') {
        parts.push('NULLS = c(' + JSON.stringify(inputs.parameter) + ' = ' + num(inputs.nullValue) + ')');
      } else {
        parts.push(name + ' = ' + (value === null ? 'TRUE' : rValue(value)));
      }
    }
    return 'occusim_design(' + parts.join(', ') + ')';
  }

  // Rows of <stem>_design.csv: parameter,value,se,cv,ci95,note[,power].
  function parseDesignCsv(text) {
    const lines = text.split('\n').filter((l) => l.length > 0);
    const head = lines[0].split(',');
    return lines.slice(1).map((line) => {
      const cells = splitCsvLine(line);
      const row = {};
      head.forEach((h, i) => {
        const c = cells[i] === undefined ? '' : cells[i];
        row[h] = h === 'parameter' || h === 'note' ? c : c === '' ? null : Number(c);
      });
      return row;
    });
  }

  function splitCsvLine(line) {
    const cells = [];
    let cur = '';
    let quoted = false;
    for (let i = 0; i < line.length; i++) {
      const ch = line[i];
      if (quoted) {
        if (ch === '"' && line[i + 1] === '"') {
          cur += '"';
          i++;
        } else if (ch === '"') quoted = false;
        else cur += ch;
      } else if (ch === '"') quoted = true;
      else if (ch === ',') {
        cells.push(cur);
        cur = '';
      } else cur += ch;
    }
    cells.push(cur);
    return cells;
  }

  // The program's own messages on its error stream (errors and warnings).
  function messages(err) {
    return err.split('\n').filter((l) => l.startsWith('occusim8:'));
  }

  // Why a run was refused: its messages; without any, the last line it
  // printed, or its status when it printed nothing.
  function refusal(result) {
    const lines = messages(result.err);
    if (lines.length > 0) return lines.join('\n');
    const said = (result.err.trim() || (result.out || '').trim()).split('\n');
    return said[said.length - 1] || 'occusim8 ended with status ' + result.status;
  }

  class RefusedError extends Error {
    constructor(message, args) {
      super(message);
      this.args = args;
    }
  }

  // Runs the design evaluation and returns its table; a refused run throws
  // RefusedError with the program's own message.
  function evaluate(run, inputs, visits, sites) {
    const args = designArgs(inputs, visits, sites);
    const result = run(args);
    const csv = result.files[STEM + '_design.csv'];
    if (result.status !== 0 || csv === undefined) throw new RefusedError(refusal(result), args);
    return { args, rows: parseDesignCsv(csv), warnings: messages(result.err) };
  }

  function rowOf(rows, parameter) {
    return rows.find((r) => r.parameter === parameter) || null;
  }

  // SE of the parameter (or its power when a null is given) against visits
  // per season, each design with as many sites as the budget affords; the
  // optimum is the smallest SE (the largest power). Points whose budget
  // affords fewer than two sites, or whose parameter the design cannot
  // estimate, are left out; designs the program refuses are listed apart. This is the one place the budget curve is formed:
  // the search of the command line (OPTIMIZE with BUDGET) can replace it.
  // With a list of p per visit the number of visits is fixed: the curve is
  // that one design, evaluated by DESIGN.
  function budgetCurveByDesign(run, inputs) {
    const byPower = hasNull(inputs);
    const points = [];
    const refused = []; // {visits, message}: designs the program would not evaluate
    for (const visits of visitRange(inputs)) {
      const sites = sitesAtBudget(inputs, visits);
      if (sites < 2) continue;
      let rows;
      try {
        rows = evaluate(run, inputs, visits, sites).rows;
      } catch (e) {
        if (!(e instanceof RefusedError)) throw e;
        refused.push({ visits, message: e.message });
        continue;
      }
      const row = rowOf(rows, inputs.parameter);
      if (!row || row.se === null || !Number.isFinite(row.se)) continue;
      points.push({
        visits,
        sites,
        cost: sites * siteCost(inputs, visits),
        se: row.se,
        power: byPower ? row.power : null,
      });
    }
    let best = -1;
    points.forEach((pt, i) => {
      if (best < 0) best = i;
      else if (byPower ? pt.power > points[best].power : pt.se < points[best].se) best = i;
    });
    points.forEach((pt, i) => (pt.best = i === best));
    return { points, best: best >= 0 ? points[best] : null, byPower, refused };
  }

  // The search at the budget as a command line: the model at any design
  // (OPTIMIZE sets the visits and sites of each candidate), the tests, the
  // parameter, the budget, the costs and the most visits the page draws.
  function optimalOptions(inputs) {
    const opts = modelOptions(inputs, 2);
    opts.splice(1, 0, ['N', [100]]);
    const range = visitRange(inputs);
    return opts.concat(testOptions(inputs), [
      ['OPTIMIZE', [inputs.parameter]],
      ['BUDGET', [inputs.budget]],
      ['COST', [inputs.cost.site, inputs.cost.first, inputs.cost.repeat]],
      ['KMAX', [Math.max(2, range[range.length - 1] || 2)]],
    ]);
  }

  function optimalCommandLine(inputs) {
    return toArgs(optimalOptions(inputs)).map(shellQuote).join(' ');
  }

  function parseOptimalCsv(text) {
    return parseDesignCsv(text).map((r) => ({
      visits: r.visits,
      sites: r.sites,
      cost: r.cost,
      se: r.se,
      power: r.power,
      best: r.best === 1,
    }));
  }

  // SE (or power, with a null) against visits at the budget: one OPTIMIZE
  // run of the program, every design it evaluated (<stem>_optimal.csv) and
  // the best it chose.
  function budgetCurve(run, inputs) {
    if (perVisitP(inputs)) return budgetCurveByDesign(run, inputs);
    const byPower = hasNull(inputs);
    const args = toArgs(optimalOptions(inputs), ['QUIET', 'outfile=' + STEM + '.pao']);
    const result = run(args);
    const csv = result.files[STEM + '_optimal.csv'];
    if (result.status !== 0 || csv === undefined) throw new RefusedError(refusal(result), args);
    const points = parseOptimalCsv(csv)
      .filter((pt) => pt.sites >= 2 && pt.se !== null && Number.isFinite(pt.se))
      .map((pt) => ({ ...pt, power: byPower ? pt.power : null }));
    const best = points.find((pt) => pt.best) || null;
    return { points, best, byPower, refused: [] };
  }

  // Sites of the power curves: from 10 to twice what the budget affords at
  // the selected number of visits, 25 steps.
  function siteGrid(inputs, visits) {
    const top = Math.max(20, 2 * sitesAtBudget(inputs, visits));
    const grid = [];
    const step = Math.max(1, Math.round((top - 10) / 24));
    for (let s = 10; s <= top; s += step) grid.push(s);
    return grid;
  }

  // Power (or SE, without a null) of the parameter against the number of
  // sites, one curve per number of visits. One design evaluation per number
  // of visits: the expected information of S sites is S times that of one, so
  // se(S) = se(N)·sqrt(N/S), and the power comes from the program's own Wald
  // power function (`power(effect, se, alpha)`).
  function siteCurves(run, power, inputs, visitsList, sites) {
    const byPower = hasNull(inputs);
    const curves = [];
    for (const visits of visitsList) {
      const n = Math.max(2, sitesAtBudget(inputs, visits));
      let rows;
      try {
        rows = evaluate(run, inputs, visits, n).rows;
      } catch (e) {
        if (!(e instanceof RefusedError)) throw e;
        continue; // the budget curve lists the refusal
      }
      const row = rowOf(rows, inputs.parameter);
      if (!row || row.se === null || !Number.isFinite(row.se)) continue;
      const pts = sites.map((s) => {
        const se = row.se * Math.sqrt(n / s);
        return {
          sites: s,
          se,
          power: byPower ? power(row.value - Number(inputs.nullValue), se, Number(inputs.alpha)) : null,
        };
      });
      curves.push({ visits, points: pts });
    }
    return { curves, byPower };
  }

  // A few numbers of visits for the power curves: the selected one, the
  // optimum and their neighbours, within the range.
  function curveVisits(inputs, selected, optimum) {
    const range = visitRange(inputs);
    const want = [2, selected, optimum, Math.min(range[range.length - 1], 2 * selected)];
    const set = [...new Set(want.filter((k) => k && range.includes(k)))];
    return set.sort((a, b) => a - b);
  }

  // The curves as one CSV: curve,visits,sites,cost,se,power,best.
  function curvesCsv(inputs, budget, sitesCurves) {
    const out = ['curve,visits,sites,cost,se,power,best'];
    const cell = (x) => (x === null || x === undefined ? '' : String(x));
    for (const p of budget.points)
      out.push(['budget', p.visits, p.sites, p.cost, p.se, cell(p.power), p.best ? 'yes' : ''].join(','));
    for (const c of sitesCurves.curves)
      for (const p of c.points)
        out.push(['sites', c.visits, p.sites, p.sites * siteCost(inputs, c.visits), p.se, cell(p.power), ''].join(','));
    return out.join('\n') + '\n';
  }

  // Reads a p list typed as "a, b, c" (empty: a shared p).
  function parseList(text) {
    const t = String(text || '').trim();
    if (t === '') return [];
    return t.split(/[\s,]+/).filter((x) => x !== '').map(Number);
  }

  return {
    FAMILIES,
    MAX_SURVEYS,
    STEM,
    RefusedError,
    siteCost,
    sitesAtBudget,
    visitRange,
    designArgs,
    commandLine,
    rCall,
    parseDesignCsv,
    evaluate,
    budgetCurve,
    optimalCommandLine,
    parseOptimalCsv,
    siteGrid,
    siteCurves,
    curveVisits,
    curvesCsv,
    parseList,
    hasNull,
    refusal,
    messages,
  };
});
