// The page kep-host writes with --html: every line's box where the search sees it, drawn with
// three.js in one instanced draw, the searched shapes as wireframes, a list of the lines by path
// and a panel that explains the line picked. Site texts only ever reach the page as text.
import {
  BoxGeometry,
  Color,
  EdgesGeometry,
  InstancedBufferAttribute,
  InstancedMesh,
  LineBasicMaterial,
  LineSegments,
  PerspectiveCamera,
  Raycaster,
  Scene,
  ShaderMaterial,
  Vector2,
  Vector3,
  WebGLRenderer,
} from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

import {
  boxMatrix,
  COLOURS,
  decodeHash,
  encodeHash,
  explainRows,
  findLines,
  lineRole,
  readableScene,
  sceneBounds,
  searchedShapes,
} from './logic.js';

const $ = (id) => document.getElementById(id);
const status = $('kep-status');

function readScene() {
  const holder = $('kep-scene');
  const scene = holder ? JSON.parse(holder.textContent) : null;
  if (!scene || !Array.isArray(scene.id)) throw new Error('the page holds no scene');
  return readableScene(scene);
}

const data = readScene();
const byId = data.byId;
let selected = -1;
let view = null; // the 3D view, when WebGL is there

document.title = data.title || 'kep-host search';
$('title').textContent = data.title || 'kep-host search';
const foundCount = data.found.reduce((n, f) => n + f, 0);
// The legend names only the shapes this search draws.
$('legend-query').hidden = data.query.kind !== 'box';
$('legend-near').hidden = data.query.kind !== 'near';
$('summary').textContent = `${data.count} lines, ${data.boxLines.length} with a box, ${foundCount} found`;

// ---- The list and the panel (they work without WebGL too).

function showPanel(index) {
  const panel = $('panel');
  panel.replaceChildren();
  for (const [label, text] of explainRows(data, index)) {
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.textContent = text;
    panel.append(dt, dd);
  }
}

function fillList() {
  const list = $('lines');
  list.replaceChildren();
  for (const i of findLines(data, $('find').value)) {
    const li = document.createElement('li');
    li.textContent = data.path(i);
    li.title = data.name(i) || data.id(i);
    li.dataset.index = String(i);
    if (data.found[i]) li.classList.add('found');
    if (data.boxOf[i] < 0) li.classList.add('none');
    if (i === selected) li.classList.add('selected');
    list.append(li);
  }
}

function select(index, fly) {
  selected = index;
  if (index >= 0) showPanel(index);
  fillList();
  if (view) {
    view.recolour();
    if (fly && index >= 0) view.flyTo(index);
    view.keepInHash();
  }
}

$('find').addEventListener('input', fillList);
$('lines').addEventListener('click', (event) => {
  const li = event.target.closest('li');
  if (li) select(Number(li.dataset.index), true);
});

// ---- The 3D view.

const VERTEX = `
attribute vec3 kepColour;
attribute float kepAlpha;
varying vec3 vColour;
varying float vAlpha;
varying vec3 vNormal;
void main() {
  vColour = kepColour;
  vAlpha = kepAlpha;
  mat4 m = modelMatrix * instanceMatrix;
  vNormal = normalize(mat3(m) * normal);
  gl_Position = projectionMatrix * viewMatrix * m * vec4(position, 1.0);
}`;
const FRAGMENT = `
varying vec3 vColour;
varying float vAlpha;
varying vec3 vNormal;
void main() {
  float light = 0.6 + 0.4 * abs(dot(normalize(vNormal), normalize(vec3(0.3, 0.5, 0.8))));
  gl_FragColor = vec4(vColour * light, vAlpha);
}`;

const ALPHA = { selected: 0.85, found: 0.5, other: 0.16 };
// Where the camera looks from at first and on "Fit": in front of the structure (whose x runs
// rearwards and z upwards), to the left and above.
const OVERVIEW = [-1.2, -0.9, 0.7];

class View {
  constructor(container) {
    this.renderer = new WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
    this.renderer.setPixelRatio(window.devicePixelRatio || 1);
    this.renderer.setClearColor(new Color(0xf8f9fa));
    container.append(this.renderer.domElement);
    this.container = container;
    this.scene = new Scene();
    this.camera = new PerspectiveCamera(40, 1, 0.001, 1e6);
    this.camera.up.set(0, 0, 1);
    this.controls = new OrbitControls(this.camera, this.renderer.domElement);
    this.controls.addEventListener('change', () => this.render());
    this.controls.addEventListener('end', () => this.keepInHash());
    this.bounds = sceneBounds(data) || { lo: [-1, -1, -1], hi: [1, 1, 1] };

    this.withBox = data.boxLines;
    this.boxMatrices = data.matrices();
    this.sortOrder();
    const n = this.withBox.length;
    const geometry = new BoxGeometry(1, 1, 1);
    this.colours = new InstancedBufferAttribute(new Float32Array(3 * Math.max(n, 1)), 3);
    this.alphas = new InstancedBufferAttribute(new Float32Array(Math.max(n, 1)), 1);
    geometry.setAttribute('kepColour', this.colours);
    geometry.setAttribute('kepAlpha', this.alphas);
    // X-rayed: no box hides another, so the parts inside an assembly's envelope stay in sight.
    const material = new ShaderMaterial({
      vertexShader: VERTEX,
      fragmentShader: FRAGMENT,
      transparent: true,
      depthWrite: false,
    });
    this.mesh = new InstancedMesh(geometry, material, Math.max(n, 1));
    this.mesh.frustumCulled = false;
    this.mesh.count = n;
    this.scene.add(this.mesh);
    this.placeInstances();

    const edges = new EdgesGeometry(new BoxGeometry(1, 1, 1));
    for (const shape of searchedShapes(data)) {
      const colour = shape.kind === 'query' ? COLOURS.query : COLOURS.near;
      // Drawn over everything, after the x-rayed boxes (which are drawn with the transparent
      // things, after whatever is opaque): the searched shape is what the eye looks for first.
      const wire = new LineSegments(
        edges,
        new LineBasicMaterial({ color: colour, depthTest: false, transparent: true }),
      );
      wire.renderOrder = 1;
      wire.matrixAutoUpdate = false;
      wire.matrix.fromArray(boxMatrix(shape.box, shape.grow));
      this.scene.add(wire);
    }

    $('fit').addEventListener('click', () => this.look(OVERVIEW));
    $('top').addEventListener('click', () => this.look([-0.001, 0, 1]));
    $('front').addEventListener('click', () => this.look([-1, 0, 0]));
    $('side').addEventListener('click', () => this.look([0, -1, 0]));
    $('hide-others').addEventListener('change', () => this.recolour());
    this.renderer.domElement.addEventListener('pointerdown', (e) => {
      this.down = [e.clientX, e.clientY];
    });
    this.renderer.domElement.addEventListener('pointerup', (e) => this.pick(e));
    window.addEventListener('resize', () => this.resize());
    this.resize();
  }

  // The draw order: other lines first, then the lines found, the selected ones last, so that
  // what matters is blended over the rest; hidden other lines are left out of the draw.
  sortOrder() {
    const groups = { other: [], found: [], selected: [] };
    for (const i of this.withBox) groups[lineRole(data, i, selected)].push(i);
    this.order = [...($('hide-others').checked ? [] : groups.other), ...groups.found, ...groups.selected];
  }

  placeInstances() {
    const matrices = this.mesh.instanceMatrix.array;
    const colours = this.colours.array;
    const alphas = this.alphas.array;
    this.order.forEach((line, k) => {
      const b = data.boxOf[line];
      matrices.set(this.boxMatrices.subarray(16 * b, 16 * b + 16), 16 * k);
      const role = lineRole(data, line, selected);
      colours.set(COLOURS[role], 3 * k);
      alphas[k] = ALPHA[role];
    });
    this.mesh.instanceMatrix.needsUpdate = true;
    this.colours.needsUpdate = true;
    this.alphas.needsUpdate = true;
    this.mesh.count = this.order.length;
    // Picking tests the instances' bounding sphere first: made again from the boxes now drawn.
    this.mesh.boundingSphere = null;
  }

  recolour() {
    this.sortOrder();
    this.placeInstances();
    this.render();
  }

  resize() {
    const w = Math.max(this.container.clientWidth, 1);
    const h = Math.max(this.container.clientHeight, 1);
    this.renderer.setSize(w, h, false);
    this.renderer.domElement.style.width = '100%';
    this.renderer.domElement.style.height = '100%';
    this.camera.aspect = w / h;
    this.camera.updateProjectionMatrix();
    this.render();
  }

  // Looks at the whole scene from `direction` (camera position minus target).
  look(direction, box = this.bounds) {
    const centre = new Vector3(...box.lo.map((v, i) => (v + box.hi[i]) / 2));
    const radius = Math.max(new Vector3(...box.hi).distanceTo(new Vector3(...box.lo)) / 2, 1e-6);
    const distance = radius / Math.sin((this.camera.fov * Math.PI) / 360);
    const d = new Vector3(...direction).normalize().multiplyScalar(distance);
    this.camera.position.copy(centre).add(d);
    this.controls.target.copy(centre);
    this.camera.near = distance / 1000;
    this.camera.far = distance * 100;
    this.camera.updateProjectionMatrix();
    this.controls.update();
    this.keepInHash();
  }

  flyTo(index) {
    if (data.boxOf[index] < 0) return;
    const b = data.box(data.boxOf[index]);
    const reach = Math.max(...b.half_extents.map(Math.abs), 1e-4) * 8;
    const box = { lo: b.centre.map((v) => v - reach), hi: b.centre.map((v) => v + reach) };
    const direction = this.camera.position.clone().sub(this.controls.target);
    this.look(direction.lengthSq() > 0 ? direction.toArray() : [1, 1, 1], box);
  }

  pick(e) {
    if (!this.down || Math.hypot(e.clientX - this.down[0], e.clientY - this.down[1]) > 4) return;
    const rect = this.renderer.domElement.getBoundingClientRect();
    const at = new Vector2(((e.clientX - rect.left) / rect.width) * 2 - 1, -((e.clientY - rect.top) / rect.height) * 2 + 1);
    const ray = new Raycaster();
    ray.setFromCamera(at, this.camera);
    const hit = ray.intersectObject(this.mesh, false)[0];
    if (hit && hit.instanceId !== undefined) select(this.order[hit.instanceId], false);
  }

  keepInHash() {
    const state = {
      camera: { position: this.camera.position.toArray(), target: this.controls.target.toArray() },
      selected: selected >= 0 ? data.id(selected) : null,
    };
    history.replaceState(null, '', encodeHash(state) || location.pathname);
  }

  // Draws at the next frame, once however many changes asked for it since the last one: a
  // drawing of every box is what a frame costs.
  render() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.renderer.render(this.scene, this.camera);
      if (!this.drawn) {
        this.drawn = true;
        status.value = `drawn ${this.mesh.count}`;
      }
    });
  }
}

function webglMissing(reason) {
  const text = `WebGL is not available in this browser (${reason}): the boxes cannot be drawn; the list and the panel still work.`;
  $('no-webgl').textContent = text;
  $('no-webgl').style.display = 'block';
  status.value = `no WebGL: ${reason}`;
}

const wanted = decodeHash(location.hash);
try {
  const probe = document.createElement('canvas');
  if (!(probe.getContext('webgl2') || probe.getContext('webgl'))) throw new Error('no WebGL context');
  view = new View($('view'));
  if (wanted.camera) {
    view.camera.position.set(...wanted.camera.position);
    view.controls.target.set(...wanted.camera.target);
    view.controls.update();
  } else {
    view.look(OVERVIEW);
  }
} catch (error) {
  view = null;
  webglMissing(error && error.message ? error.message : String(error));
}
const first = wanted.selected && byId.has(wanted.selected) ? wanted.selected : data.focus;
select(byId.has(first) ? byId.get(first) : -1, !wanted.camera);
if (view) view.render();
