// Bundles the page: src/main.js with three.js into one script, put into page.html in place of
// <!--KEP-SCRIPT-->. Run as: node build.mjs <node_modules folder> <output html>
// The output still holds <!--KEP-SCENE-->, where kep-host puts the scene of a search.
import { readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const [modules, output] = process.argv.slice(2);
if (!modules || !output) {
  console.error('usage: node build.mjs <node_modules folder> <output html>');
  process.exit(2);
}
const here = dirname(fileURLToPath(import.meta.url));
const esbuild = createRequire(join(modules, 'esbuild', 'package.json'))('esbuild');

const result = await esbuild.build({
  entryPoints: [join(here, 'src', 'main.js')],
  nodePaths: [modules],
  bundle: true,
  minify: true,
  format: 'iife',
  target: 'es2020',
  charset: 'ascii',
  legalComments: 'none',
  write: false,
  logLevel: 'warning',
});
const script = result.outputFiles[0].text;
// The script goes inside <script>...</script>: nothing in it may close or open a script element
// or a comment there.
if (/<\/script|<!--|<script/i.test(script)) {
  console.error('build.mjs: the bundled script holds a script or comment tag');
  process.exit(1);
}
const template = readFileSync(join(here, 'page.html'), 'utf8');
const marker = '<!--KEP-SCRIPT-->';
if (template.split(marker).length !== 2 || template.split('<!--KEP-SCENE-->').length !== 2) {
  console.error('build.mjs: page.html must hold <!--KEP-SCRIPT--> and <!--KEP-SCENE--> once each');
  process.exit(1);
}
writeFileSync(output, template.replace(marker, () => `<script>${script}</script>`));
