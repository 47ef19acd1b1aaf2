// The page's logic that needs neither a browser nor WebGL: reading the scene, where a box goes,
// what the URL hash keeps, which lines a search of the list finds and what the side panel says of
// a line. The scene is the JSON that kep-host embeds, by columns (docs/kep-host.md, "The 3D page").

// Colours as in the SVG pictures: lines found orange, selected or near lines blue, others grey.
export const COLOURS = {
  found: [1.0, 0.573, 0.169], // #ff922b
  selected: [0.302, 0.671, 0.969], // #4dabf7
  other: [0.525, 0.557, 0.588], // #868e96
  query: 0xc92a2a,
  near: 0x1864ab,
};

const list = (v) => (Array.isArray(v) ? v : []);

// The scene as kep-host writes it, ready for reading. The columns stay as they are (the numbers of
// the boxes are read straight from them); line(i) gives one line whole, as the panel and the
// searched shapes want it: {id, name, path, found, search_box (or null), reasons, box_dataset,
// source, placed_by, tests}.
export function readableScene(scene) {
  const count = Number.isInteger(scene.count) && scene.count >= 0 ? scene.count : list(scene.id).length;
  const ids = list(scene.id);
  const texts = list(scene.texts);
  const words = list(scene.words);
  const reasonLists = list(scene.reason_lists);
  const axesTable = list(scene.axes_table);
  const textOf = (k) => String(texts[k] ?? '');
  // A text of the extension: a pattern alone, or [pattern, part, ...], the parts between its pieces.
  const wordsOf = (w) => {
    const entry = Array.isArray(w) ? w : [w];
    const pieces = list(words[entry[0]]);
    let out = String(pieces[0] ?? '');
    for (let i = 1; i < pieces.length; i++) out += String(entry[i] ?? '') + pieces[i];
    return out;
  };
  const parent = new Int32Array(count);
  const found = new Uint8Array(count);
  const boxOf = new Int32Array(count).fill(-1); // the line's index among the boxes, or -1
  const boxLines = [];
  for (let i = 0; i < count; i++) {
    const p = list(scene.parent)[i];
    parent[i] = Number.isInteger(p) && p >= 0 && p < i ? p : -1;
    found[i] = list(scene.found)[i] ? 1 : 0;
    if (list(reasonLists[list(scene.reasons)[i]]).length === 0) {
      boxOf[i] = boxLines.length;
      boxLines.push(i);
    }
  }
  const centre = list(scene.centre);
  const half = list(scene.half_extents);
  const axes = list(scene.axes);
  const paths = new Array(count);
  const model = {
    title: scene.title,
    focus: scene.focus,
    query: scene.query || {},
    count,
    parent,
    found,
    boxOf,
    boxLines,
    id: (i) => String(ids[i] ?? ''),
    name: (i) => textOf(list(scene.name)[i]),
    // The ids from the top line down; the parent always comes before the line.
    path: (i) => {
      if (paths[i] === undefined) paths[i] = parent[i] >= 0 ? `${model.path(parent[i])}/${model.id(i)}` : model.id(i);
      return paths[i];
    },
    // The box where the search sees it: centre, three axes (unit directions) and half extents.
    box: (b) => {
      const nine = list(axesTable[axes[b]]);
      return {
        centre: [0, 1, 2].map((k) => Number(centre[3 * b + k])),
        axes: [0, 1, 2].map((k) => [0, 1, 2].map((r) => Number(nine[3 * k + r]))),
        half_extents: [0, 1, 2].map((k) => Number(half[3 * b + k])),
      };
    },
    line: (i) => {
      const b = boxOf[i];
      return {
        id: model.id(i),
        name: model.name(i),
        path: model.path(i),
        found: found[i] === 1,
        search_box: b >= 0 ? model.box(b) : null,
        reasons: list(reasonLists[list(scene.reasons)[i]]).map(textOf),
        box_dataset: b >= 0 ? textOf(list(scene.box_dataset)[b]) || null : null,
        source: b >= 0 ? wordsOf(list(scene.source)[b]) : undefined,
        placed_by: textOf(list(scene.placed_by)[i]),
        tests: Array.isArray(scene.tests) ? list(scene.tests[i]).map(wordsOf) : undefined,
      };
    },
    // The column-major 4x4 matrices of every box, one after another (boxMatrix, straight from the
    // columns, for the instanced draw).
    matrices: () => {
      const m = new Float32Array(16 * boxLines.length);
      for (let b = 0; b < boxLines.length; b++) {
        const nine = list(axesTable[axes[b]]);
        const at = 16 * b;
        for (let k = 0; k < 3; k++) {
          const size = 2 * half[3 * b + k];
          m[at + 4 * k] = nine[3 * k] * size;
          m[at + 4 * k + 1] = nine[3 * k + 1] * size;
          m[at + 4 * k + 2] = nine[3 * k + 2] * size;
          m[at + 12 + k] = centre[3 * b + k];
        }
        m[at + 15] = 1;
      }
      return m;
    },
  };
  model.byId = new Map();
  for (let i = count - 1; i >= 0; i--) model.byId.set(model.id(i), i);
  model.near = new Set(model.query.kind === 'near' ? list(model.query.near).map(String) : []);
  return model;
}

// The column-major 4x4 matrix (as three.js keeps it) that maps the unit cube centred at the origin
// (-0.5..0.5 along each axis) onto an oriented box given by its centre, its three axes (unit
// directions, in the top line's coordinates) and its half extents along them. `grow` is added to
// every half extent, as the searches enlarge a box by their distance.
export function boxMatrix(box, grow = 0) {
  const m = new Array(16).fill(0);
  for (let k = 0; k < 3; k++) {
    const size = 2 * (box.half_extents[k] + grow);
    for (let r = 0; r < 3; r++) {
      m[4 * k + r] = box.axes[k][r] * size;
    }
    m[12 + k] = box.centre[k];
  }
  m[15] = 1;
  return m;
}

// The axis-aligned hull of an oriented box: [min, max], each [x, y, z].
export function boxHull(box, grow = 0) {
  const lo = [0, 0, 0];
  const hi = [0, 0, 0];
  for (let r = 0; r < 3; r++) {
    let reach = 0;
    for (let k = 0; k < 3; k++) {
      reach += Math.abs(box.axes[k][r] * (box.half_extents[k] + grow));
    }
    lo[r] = box.centre[r] - reach;
    hi[r] = box.centre[r] + reach;
  }
  return [lo, hi];
}

// The hull of every box of the scene and of the searched shapes; null when there is none.
export function sceneBounds(model) {
  const lo = [Infinity, Infinity, Infinity];
  const hi = [-Infinity, -Infinity, -Infinity];
  const take = (a, b) => {
    if (![...a, ...b].every(Number.isFinite)) return;
    for (let r = 0; r < 3; r++) {
      lo[r] = Math.min(lo[r], a[r]);
      hi[r] = Math.max(hi[r], b[r]);
    }
  };
  // The hulls of the boxes, from the matrices: a column's reach along r is |m[4k + r]| / 2.
  const m = model.matrices();
  for (let at = 0; at < m.length; at += 16) {
    const a = [0, 0, 0];
    const b = [0, 0, 0];
    for (let r = 0; r < 3; r++) {
      const reach = (Math.abs(m[at + r]) + Math.abs(m[at + 4 + r]) + Math.abs(m[at + 8 + r])) / 2;
      a[r] = m[at + 12 + r] - reach;
      b[r] = m[at + 12 + r] + reach;
    }
    take(a, b);
  }
  for (const shape of searchedShapes(model)) take(...boxHull(shape.box, shape.grow));
  return lo[0] <= hi[0] ? { lo, hi } : null;
}

// The shapes searched around: the query box, or the boxes of the selected lines, each enlarged
// by the distance (millimetres; the boxes are in metres).
export function searchedShapes(model) {
  const query = model.query;
  const grow = (Number(query.delta_mm) || 0) * 0.001;
  if (query.kind === 'box' && query.search_box) {
    return [{ box: query.search_box, grow, kind: 'query', label: 'query box' }];
  }
  const shapes = [];
  for (const id of model.near) {
    const i = model.byId.get(id);
    if (i !== undefined && model.boxOf[i] >= 0) {
      shapes.push({ box: model.box(model.boxOf[i]), grow, kind: 'near', label: id });
    }
  }
  return shapes;
}

// How a line is drawn: 'selected' (clicked, or a selected line of a neighbourhood search),
// 'found' or 'other'.
export function lineRole(model, index, selected) {
  if (index === selected || (model.near.size > 0 && model.near.has(model.id(index)))) return 'selected';
  return model.found[index] ? 'found' : 'other';
}

// The lines whose path or name holds `text` (without regard to case), at most `limit` of them.
export function findLines(model, text, limit = 200) {
  const wanted = text.trim().toLowerCase();
  const out = [];
  for (let i = 0; i < model.count && out.length < limit; i++) {
    if (wanted === '' || `${model.path(i)} ${model.name(i)}`.toLowerCase().includes(wanted)) out.push(i);
  }
  return out;
}

const round = (v) => Number(Number(v).toPrecision(6));

// The URL hash that keeps a view: camera position, the point it looks at, and the selected line.
export function encodeHash(state) {
  const parts = [];
  if (state.camera) {
    parts.push(`cam=${[...state.camera.position, ...state.camera.target].map(round).join(',')}`);
  }
  if (state.selected) parts.push(`sel=${encodeURIComponent(state.selected)}`);
  return parts.length ? `#${parts.join('&')}` : '';
}

// The state a hash holds; anything that is not a well-formed part is left out.
export function decodeHash(hash) {
  const state = { camera: null, selected: null };
  for (const part of String(hash || '').replace(/^#/, '').split('&')) {
    const eq = part.indexOf('=');
    if (eq < 0) continue;
    const key = part.slice(0, eq);
    const value = part.slice(eq + 1);
    if (key === 'cam') {
      const v = value.split(',').map(Number);
      if (v.length === 6 && value.split(',').every((s) => s.trim() !== '') && v.every(Number.isFinite)) {
        state.camera = { position: v.slice(0, 3), target: v.slice(3) };
      }
    } else if (key === 'sel') {
      try {
        state.selected = decodeURIComponent(value) || null;
      } catch {
        state.selected = null;
      }
    }
  }
  return state;
}

// A number as the extension writes it (C's "%.9g"): the scene holds the extension's numbers, and
// this gives back their text, "1e-07" and "1.5e+09" included.
export function numberText(v) {
  if (!Number.isFinite(v)) return String(v);
  if (v === 0) return '0';
  const [mantissa, exponent] = v.toExponential(8).split('e');
  const e = Number(exponent);
  const trim = (t) => (t.includes('.') ? t.replace(/0+$/, '').replace(/\.$/, '') : t);
  if (e < -4 || e >= 9) return `${trim(mantissa)}e${e < 0 ? '-' : '+'}${String(Math.abs(e)).padStart(2, '0')}`;
  return trim(v.toFixed(8 - e));
}

const point = (v) => `(${v.map(numberText).join(', ')})`;

// What the side panel says of a line: [label, text] rows, in the words kep-host explain uses.
export function explainRows(model, index) {
  const line = model.line(index);
  const rows = [
    ['line', line.name ? `${line.id} (${line.name})` : line.id],
    ['path from the top line', line.path],
  ];
  if (line.search_box) {
    const b = line.search_box;
    rows.push(['box', `from ${line.source || line.box_dataset || 'its datasets'}`]);
    rows.push(['where the search sees it', `centre ${point(b.centre)}, half extents ${point(b.half_extents)}`]);
    rows.push(['axes', b.axes.map(point).join(', ')]);
  } else {
    // Every reason, in the order the lookup met them, as kep-host explain lists them.
    const reasons = line.reasons.length ? line.reasons : ['none'];
    reasons.forEach((r, i) => rows.push(['box', i === 0 ? `no box: ${r}` : `and: ${r}`]));
  }
  rows.push(['placement', line.placed_by ? `representation ${line.placed_by}` : 'the stored value']);
  const query = model.query;
  if (query.kind === 'box' || query.kind === 'near') {
    rows.push(['query', line.found ? 'FOUND' : 'NOT FOUND']);
    // The extension's own words: one per test it made, or why it made none.
    const tests = line.tests || [];
    for (const t of tests) rows.push(['overlap test', t]);
    if (tests.length === 0 && !line.search_box) {
      rows.push(['overlap test', 'the line has no box, so no search can find it']);
    }
  }
  return rows;
}
