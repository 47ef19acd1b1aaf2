// The page's logic that needs neither a browser nor WebGL: where a box goes, what the URL hash
// keeps, which lines a search of the list finds and what the side panel says of a line. The
// scene it works on is the JSON that kep-host embeds (see scene.js in the docs of kep-host).

// Colours as in the SVG pictures: lines found orange, selected or near lines blue, others grey.
export const COLOURS = {
  found: [1.0, 0.573, 0.169], // #ff922b
  selected: [0.302, 0.671, 0.969], // #4dabf7
  other: [0.525, 0.557, 0.588], // #868e96
  query: 0xc92a2a,
  near: 0x1864ab,
};

// The scene as kep-host writes it, made whole for reading: every line's path (its ids from the
// top line down) from the index of its parent, which comes before it, and the extension's texts
// ("source", "tests"), which the scene keeps as [pattern, part, ...] with each pattern (the
// pieces around the parts that vary from line to line) once in "words", put back together.
export function readableScene(scene) {
  const words = Array.isArray(scene.words) ? scene.words : [];
  const text = (w) => {
    if (!Array.isArray(w)) return w;
    const pieces = words[w[0]] || [];
    let out = String(pieces[0] ?? '');
    for (let i = 1; i < pieces.length; i++) out += String(w[i] ?? '') + pieces[i];
    return out;
  };
  const lines = scene.lines;
  for (let i = 0; i < lines.length; i++) {
    const line = lines[i];
    const p = line.parent;
    line.path = Number.isInteger(p) && p >= 0 && p < i ? `${lines[p].path}/${line.id}` : String(line.id);
    if (line.source !== undefined) line.source = text(line.source);
    if (Array.isArray(line.tests)) line.tests = line.tests.map(text);
  }
  return scene;
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
export function sceneBounds(scene) {
  let lo = null;
  let hi = null;
  const take = (box, grow) => {
    const [a, b] = boxHull(box, grow);
    if (![...a, ...b].every(Number.isFinite)) return;
    lo = lo ? lo.map((v, i) => Math.min(v, a[i])) : a;
    hi = hi ? hi.map((v, i) => Math.max(v, b[i])) : b;
  };
  for (const line of scene.lines) {
    if (line.search_box) take(line.search_box, 0);
  }
  for (const shape of searchedShapes(scene)) take(shape.box, shape.grow);
  return lo ? { lo, hi } : null;
}

// The shapes searched around: the query box, or the boxes of the selected lines, each enlarged
// by the distance (millimetres; the boxes are in metres).
export function searchedShapes(scene) {
  const query = scene.query || {};
  const grow = (Number(query.delta_mm) || 0) * 0.001;
  if (query.kind === 'box' && query.search_box) {
    return [{ box: query.search_box, grow, kind: 'query', label: 'query box' }];
  }
  if (query.kind === 'near') {
    const near = new Set(query.near || []);
    return scene.lines
      .filter((l) => near.has(l.id) && l.search_box)
      .map((l) => ({ box: l.search_box, grow, kind: 'near', label: l.id }));
  }
  return [];
}

// How a line is drawn: 'selected' (clicked, or a selected line of a neighbourhood search),
// 'found' or 'other'.
export function lineRole(scene, index, selected) {
  const line = scene.lines[index];
  const near = scene.query && scene.query.kind === 'near' ? scene.query.near || [] : [];
  if (index === selected || near.includes(line.id)) return 'selected';
  return line.found ? 'found' : 'other';
}

// The lines whose path or name holds `text` (without regard to case), at most `limit` of them.
export function findLines(scene, text, limit = 200) {
  const wanted = text.trim().toLowerCase();
  const out = [];
  for (let i = 0; i < scene.lines.length && out.length < limit; i++) {
    const line = scene.lines[i];
    const hay = `${line.path} ${line.name || ''}`.toLowerCase();
    if (wanted === '' || hay.includes(wanted)) out.push(i);
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

const point = (v) => `(${v.map((x) => String(round(x))).join(', ')})`;

// What the side panel says of a line: [label, text] rows, in the words kep-host explain uses.
export function explainRows(scene, index) {
  const line = scene.lines[index];
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
    const reasons = Array.isArray(line.reasons) && line.reasons.length ? line.reasons : [line.reason || 'none'];
    reasons.forEach((r, i) => rows.push(['box', i === 0 ? `no box: ${r}` : `and: ${r}`]));
  }
  rows.push(['placement', line.placed_by ? `representation ${line.placed_by}` : 'the stored value']);
  const query = scene.query || {};
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
