// Opens a page of kep-host --html from disk in headless Chromium and prints the time from the
// start of the navigation to the page's first frame ("drawn N" in #kep-status), three times.
// Usage: KEP_PAGE_MODULES=<node_modules with playwright-core> node page_first_frame.mjs PAGE
import { mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const { chromium } = createRequire(join(process.env.KEP_PAGE_MODULES, 'x'))('playwright-core');
const profile = mkdtempSync(join(tmpdir(), 'kep-page-'));
const browser = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
  viewport: { width: 1200, height: 800 },
});
const times = [];
let status = '';
for (let round = 0; round < 3; round++) {
  const page = await browser.newPage();
  const start = Date.now();
  await page.goto(`file://${process.argv[2]}`, { timeout: 300000 });
  await page.waitForFunction(() => document.getElementById('kep-status').value !== 'loading', null, {
    timeout: 300000,
  });
  times.push(Date.now() - start);
  status = await page.$eval('#kep-status', (e) => e.value);
  await page.close();
}
await browser.close();
rmSync(profile, { recursive: true, force: true });
times.sort((a, b) => a - b);
console.log(`first frame: ${times[1]} ms (median of ${times.join(', ')} ms), status "${status}"`);
