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

test('the list finds lines by path or name, and the panel tells why a line is or is not found', () => {
  const box = { centre: [0, 0, 0], axes: I, half_extents: [1, 1, 1] };
  // As kep-host writes it: parents by index, the extension's texts as patterns and numbers.
  const scene = readableScene({
    query: { kind: 'box', delta_mm: 5 },
    words: [['', ', master representation'], ['against query box (A, enlarged by delta): found: overlap ', ' mm, ', ''],
      ['<img src=x onerror=alert(1)> 1.5 ', '']],
    lines: [
      { id: 'top', name: 'Module', parent: -1, found: false, search_box: null, reason: 'no geometry dataset with a box' },
      { id: 'fan', name: 'Fan', parent: 0, found: true, search_box: box, source: [0, 'ds_fan'],
        tests: [[1, '60.6', '-1e-05'], [2, '2.50']] },
      { id: 'hose', name: 'Hose', parent: 0, found: false, search_box: box, placed_by: 'mp_top' },
      { id: 'clip', name: 'Clip', parent: 2, found: false, search_box: null, reason: 'r1', reasons: ['r1', 'r2'] },
    ],
  });
  assert.deepEqual(scene.lines.map((l) => l.path), ['top', 'top/fan', 'top/hose', 'top/hose/clip']);
  assert.deepEqual(scene.lines[1].tests, ['against query box (A, enlarged by delta): found: overlap 60.6 mm, -1e-05',
    '<img src=x onerror=alert(1)> 1.5 2.50']);
  assert.deepEqual(findLines(scene, 'FAN'), [1]);
  assert.deepEqual(findLines(scene, 'module'), [0]);
  assert.deepEqual(findLines(scene, ''), [0, 1, 2, 3]);
  assert.deepEqual(findLines(scene, 'hose/cl'), [3]);
  assert.deepEqual(findLines(scene, '', 2), [0, 1]);
  const rows = (i) => Object.fromEntries(explainRows(scene, i));
  assert.equal(rows(0).box, 'no box: no geometry dataset with a box');
  assert.equal(rows(0).query, 'NOT FOUND');
  assert.equal(rows(1).box, 'from ds_fan, master representation');
  assert.equal(rows(1).query, 'FOUND');
  assert.equal(rows(1)['path from the top line'], 'top/fan');
  assert.equal(rows(2).placement, 'representation mp_top');
  assert.deepEqual(explainRows(scene, 3).filter(([k]) => k === 'box').map(([, t]) => t), ['no box: r1', 'and: r2']);
});
