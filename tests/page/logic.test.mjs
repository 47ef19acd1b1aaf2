// The page's logic without a browser: box matrices, the URL hash, the list search and the panel.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  boxHull,
  boxMatrix,
  decodeHash,
  encodeHash,
  explainRows,
  findLines,
  numberText,
  readableScene,
} from '../../itk/host/kep_host/page/src/logic.js';

const I = [[1, 0, 0], [0, 1, 0], [0, 0, 1]];
// Turned 90 degrees about z: the box's x axis points along +y, its y axis along -x.
const Z90 = [[0, 1, 0], [-1, 0, 0], [0, 0, 1]];

// Applies a column-major 4x4 matrix to a point.
const apply = (m, p) => [0, 1, 2].map((r) => m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r]);

test('the unit cube goes onto the oriented box', () => {
  const cases = [
    // centre, axes, half extents, grow, corner of the unit cube, where it must land, hull
    { box: { centre: [1, 2, 3], axes: I, half_extents: [0.5, 1, 2] }, grow: 0,
      corner: [0.5, 0.5, 0.5], at: [1.5, 3, 5], hull: [[0.5, 1, 1], [1.5, 3, 5]] },
    { box: { centre: [0, 0, 0], axes: Z90, half_extents: [2, 1, 0.5] }, grow: 0,
      corner: [0.5, 0.5, -0.5], at: [-1, 2, -0.5], hull: [[-1, -2, -0.5], [1, 2, 0.5]] },
    { box: { centre: [0, 0, 0], axes: I, half_extents: [1, 1, 1] }, grow: 0.25,
      corner: [-0.5, 0.5, 0.5], at: [-1.25, 1.25, 1.25], hull: [[-1.25, -1.25, -1.25], [1.25, 1.25, 1.25]] },
  ];
  for (const c of cases) {
    const m = boxMatrix(c.box, c.grow);
    assert.equal(m[15], 1);
    assert.deepEqual(apply(m, c.corner).map((v) => Math.round(v * 1e9) / 1e9), c.at);
    assert.deepEqual(boxHull(c.box, c.grow), c.hull);
  }
});

test('numbers are shown as the extension writes them', () => {
  const cases = [[0, '0'], [-0.5, '-0.5'], [0.00012, '0.00012'], [1e-7, '1e-07'], [-0.000012345, '-1.2345e-05'],
    [123456789, '123456789'], [1234567891, '1.23456789e+09'], [0.333333333, '0.333333333'], [9.9999999999, '10']];
  for (const [v, want] of cases) assert.equal(numberText(v), want, String(v));
});

test('the hash keeps the camera and the selection, and ignores what is malformed', () => {
  const state = { camera: { position: [1.5, -2, 3.25], target: [0, 0.1, 0] }, selected: 'a b/&#"x' };
  assert.deepEqual(decodeHash(encodeHash(state)), state);
  const cases = [
    ['', { camera: null, selected: null }],
    ['#cam=1,2,3', { camera: null, selected: null }],
    ['#cam=1,2,3,4,5,x&sel=l1', { camera: null, selected: 'l1' }],
    ['#cam=1,2,3,4,5,&sel=%E0%A4%A', { camera: null, selected: null }],
    ['#sel=&cam=0,0,1,0,0,0', { camera: { position: [0, 0, 1], target: [0, 0, 0] }, selected: null }],
  ];
  for (const [hash, want] of cases) assert.deepEqual(decodeHash(hash), want, hash);
});

test('the scene read from its columns: paths, boxes, texts, the list and the panel', () => {
  // As kep-host writes it: by columns, parents by index, texts and reasons by index into their
  // tables, the extension's texts as patterns and parts, the boxes only for the lines that have one.
  const scene = readableScene({
    query: { kind: 'box', delta_mm: 5 },
    count: 4,
    id: ['top', 'fan', 'hose', 'clip'],
    name: [1, 2, 3, 0],
    parent: [-1, 0, 0, 2],
    found: [0, 1, 0, 0],
    reasons: [1, 0, 0, 2],
    placed_by: [0, 0, 4, 0],
    tests: [[0], [[1, '60.6', '-1e-05'], [2, '2.50']], [], [0]],
    centre: [1, 2, 3, -0.63445, -0.7575, -0.1883],
    half_extents: [0.5, 1, 2, 0.11255, 0.0803, 0.0635],
    axes: [0, 1],
    box_dataset: [5, 6],
    source: [[3, 'ds_fan'], 4],
    axes_table: [[1, 0, 0, 0, 1, 0, 0, 0, 1], [0, 1, 0, -1, 0, 0, 0, 0, 1]],
    reason_lists: [[], [7], [8, 9]],
    words: [['the line has no box, so no search can find it'],
      ['against query box (A, enlarged by delta): found: overlap ', ' mm, ', ''],
      ['<img src=x onerror=alert(1)> 1.5 ', ''], ['', ', master representation'], ['merged']],
    texts: ['', 'Module', 'Fan', 'Hose', 'mp_top', 'ds_fan', 'ds_hose', 'no geometry dataset with a box', 'r1', 'r2'],
  });
  assert.deepEqual([0, 1, 2, 3].map(scene.path), ['top', 'top/fan', 'top/hose', 'top/hose/clip']);
  assert.deepEqual(scene.boxLines, [1, 2]);
  assert.deepEqual(scene.line(1).tests, ['against query box (A, enlarged by delta): found: overlap 60.6 mm, -1e-05',
    '<img src=x onerror=alert(1)> 1.5 2.50']);
  assert.deepEqual(scene.line(2).search_box, { centre: [-0.63445, -0.7575, -0.1883], axes: Z90,
    half_extents: [0.11255, 0.0803, 0.0635] });
  // The instance matrices straight from the columns are those of the boxes.
  const m = scene.matrices();
  for (const b of [0, 1]) {
    const want = boxMatrix(scene.box(b));
    assert.deepEqual([...m.subarray(16 * b, 16 * b + 16)], want.map(Math.fround));
  }
  assert.deepEqual(findLines(scene, 'FAN'), [1]);
  assert.deepEqual(findLines(scene, 'module'), [0]);
  assert.deepEqual(findLines(scene, ''), [0, 1, 2, 3]);
  assert.deepEqual(findLines(scene, 'hose/cl'), [3]);
  assert.deepEqual(findLines(scene, '', 2), [0, 1]);
  const rows = (i) => Object.fromEntries(explainRows(scene, i));
  const all = (i, label) => explainRows(scene, i).filter(([k]) => k === label).map(([, t]) => t);
  const cases = [
    // line, label, every text of that label
    [0, 'box', ['no box: no geometry dataset with a box']],
    [0, 'query', ['NOT FOUND']],
    [0, 'overlap test', ['the line has no box, so no search can find it']],
    [1, 'box', ['from ds_fan, master representation']],
    [1, 'query', ['FOUND']],
    [1, 'path from the top line', ['top/fan']],
    [2, 'box', ['from merged']],
    [2, 'placement', ['representation mp_top']],
    // The extension's numbers, as it writes them.
    [2, 'where the search sees it', ['centre (-0.63445, -0.7575, -0.1883), half extents (0.11255, 0.0803, 0.0635)']],
    [2, 'axes', ['(0, 1, 0), (-1, 0, 0), (0, 0, 1)']],
    [3, 'box', ['no box: r1', 'and: r2']],
  ];
  for (const [i, label, want] of cases) assert.deepEqual(all(i, label), want, `${i} ${label}`);
  assert.equal(rows(1).line, 'fan (Fan)');
});
