// The pages kep-host writes, opened from disk in headless Chromium (Debian's /usr/bin/chromium,
// driven by playwright-core): the demo's page, the page of a search on a generated site and the
// page of a site whose names hold markup. Each must draw every box (#kep-status reads "drawn N"),
// raise no script error and show the lines found in orange; a browser without WebGL gets the list
// and the panel and is told why there is no drawing. The screenshots are left in KEP_PAGE_OUT for
// a person to look at.
//
// Environment: KEP_HOST (the kep-host program), KEP_PAGE_MODULES (node_modules with
// playwright-core), KEP_PAGE_OUT (a folder for the pages and screenshots).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const host = process.env.KEP_HOST;
const out = process.env.KEP_PAGE_OUT;
const { chromium } = createRequire(join(process.env.KEP_PAGE_MODULES || '.', 'x'))('playwright-core');
const CHROMIUM = '/usr/bin/chromium';
// Chromium as root in a closed network: no sandbox, no GPU, nothing fetched in the background
// (playwright adds --headless), with a fresh profile.
const FLAGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

function kepHost(args, stdout) {
  const text = execFileSync(host, args, { cwd: out, maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'inherit'] });
  if (stdout) writeFileSync(join(out, stdout), text);
}

let browser;
let profile;
before(async () => {
  mkdirSync(out, { recursive: true });
  profile = mkdtempSync(join(out, 'profile-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: FLAGS,
    viewport: { width: 1200, height: 800 },
  });
});
after(async () => {
  if (browser) await browser.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

// Opens a page and waits for its first frame; returns what the tests look at.
async function open(file) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
  await page.goto(`file://${join(out, file)}`);
  await page.waitForFunction(() => document.getElementById('kep-status').value !== 'loading', null, {
    timeout: 120000,
  });
  const status = await page.$eval('#kep-status', (e) => e.value);
  const scene = JSON.parse(await page.$eval('#kep-scene', (e) => e.textContent));
  // Orange pixels of the drawing: the colour of the lines found blended over the background.
  const orange = await page.evaluate(() => {
    const gl = document.querySelector('#view canvas');
    const c = document.createElement('canvas');
    c.width = gl.width;
    c.height = gl.height;
    const g = c.getContext('2d');
    g.drawImage(gl, 0, 0);
    const px = g.getImageData(0, 0, c.width, c.height).data;
    let n = 0;
    for (let i = 0; i < px.length; i += 4) if (px[i] - px[i + 2] > 60 && px[i] - px[i + 1] > 25) n++;
    return n;
  });
  await page.screenshot({ path: join(out, file.replace(/\.html$/, '.png')) });
  return { page, status, scene, orange, errors };
}

test('the demo page draws every box and shows the lines found in orange', async () => {
  kepHost(['demo', '--svg', 'demo.svg', '--html', 'demo.html']);
  const { page, status, scene, orange, errors } = await open('demo.html');
  assert.equal(status, `drawn ${scene.centre.length / 3}`);
  assert.deepEqual(errors, []);
  assert.ok(scene.found.includes(1));
  assert.ok(orange > 500, `${orange} orange pixels`);
  // A line picked in the list is explained in the panel and kept in the URL hash.
  await page.fill('#find', 'horn_l');
  await page.click('#lines li');
  assert.match(await page.$eval('#panel', (e) => e.textContent), /FOUND/);
  assert.match(await page.evaluate(() => location.hash), /sel=horn_l/);
  await page.close();
});

test('the page of a search on a generated site draws every box', async () => {
  kepHost(['generate', '--lines', '3000', '--seed', '3'], 'generated.json');
  kepHost(['--site', 'generated.json', 'volume-search', '--window', 'w1', '--delta', '20',
    '--box', '0.5', '-0.5', '0', '1.5', '0.5', '0.8', '--html', 'generated.html'], 'generated-result.json');
  const result = JSON.parse(readFileSync(join(out, 'generated-result.json'), 'utf8'));
  const { status, scene, orange, errors } = await open('generated.html');
  assert.equal(status, `drawn ${scene.centre.length / 3}`);
  assert.deepEqual(errors, []);
  assert.deepEqual(scene.id.filter((_, i) => scene.found[i]).sort(), [...result.lines].sort());
  assert.ok(orange > 500, `${orange} orange pixels`);
});

test('site texts that hold markup stay text and run nothing', async () => {
  const site = join(here, 'hostile_site.json');
  kepHost(['--site', site, 'volume-search', '--window', 'w1', '--delta', '1',
    '--box', '-1', '-1', '-1', '1', '1', '1', '--html', 'hostile.html']);
  const { page, status, scene, errors } = await open('hostile.html');
  assert.equal(status, `drawn ${scene.centre.length / 3}`);
  assert.deepEqual(errors, []);
  assert.equal(await page.evaluate(() => window.kepRan), undefined);
  assert.equal(await page.evaluate(() => document.scripts.length), 2);
  const names = JSON.parse(readFileSync(site, 'utf8')).windows.w1.children.map((c) => c.id);
  const list = await page.$$eval('#lines li', (items) => items.map((li) => li.textContent));
  for (const id of names) assert.ok(list.some((t) => t.endsWith(id)), id);
  await page.close();
});

test('without WebGL the page says so, and the list and the panel still work', async () => {
  const bare = mkdtempSync(join(out, 'profile-'));
  const context = await chromium.launchPersistentContext(bare, {
    executablePath: CHROMIUM,
    headless: true,
    args: [...FLAGS, '--disable-webgl', '--disable-3d-apis'],
  });
  try {
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.goto(`file://${join(out, 'demo.html')}`);
    await page.waitForFunction(() => document.getElementById('kep-status').value !== 'loading');
    assert.match(await page.$eval('#kep-status', (e) => e.value), /^no WebGL/);
    assert.match(await page.$eval('#no-webgl', (e) => e.textContent), /WebGL is not available/);
    assert.deepEqual(errors, []);
    await page.fill('#find', 'fan_l');
    await page.click('#lines li');
    assert.match(await page.$eval('#panel', (e) => e.textContent), /fan_l/);
  } finally {
    await context.close();
    rmSync(bare, { recursive: true, force: true });
  }
});
