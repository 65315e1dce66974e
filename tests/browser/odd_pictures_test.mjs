// The odd pictures of tests/odd-pictures (EXIF segments among others, GIF
// frames beyond their screens, damaged files) in Debian's Chromium: its
// natural sizes must be those of sizes.txt, of the gallery page's viewer
// calls and of the thumbnails; a picture Chromium shows none of ends a
// gallery run with "Invalid picture" naming it.
//
//   node odd_pictures_test.mjs PATH/TO/fotolane-gallery PATH/TO/tests/odd-pictures
//
// Prints one line per check and "N passed, N failed" (77 when playwright-core
// is missing, outside CI).

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { check, finish, importOrSkip } from './checks.mjs';

const { chromium } = await importOrSkip('playwright-core is', () => import('playwright-core'));

const [program, odd] = process.argv.slice(2);
const kSize = 70;


// The width and height in a JPEG file's frame header.
function jpegSize(file) {
  const bytes = fs.readFileSync(file);
  let at = 2;
  while (at + 9 < bytes.length && bytes[at] === 0xff) {
    const marker = bytes[at + 1];
    if (marker >= 0xc0 && marker <= 0xcf && ![0xc4, 0xc8, 0xcc].includes(marker)) {
      return [bytes.readUInt16BE(at + 7), bytes.readUInt16BE(at + 5)];
    }
    at += 2 + bytes.readUInt16BE(at + 2);
  }
  return [0, 0];
}

function roundHalfEven(value) {
  const floor = Math.floor(value);
  if (value - floor !== 0.5) return Math.round(value);
  return floor % 2 === 0 ? floor : floor + 1;
}

function expectedThumbnail([width, height]) {
  if (width > height) return [kSize, Math.max(1, roundHalfEven(height / (width / kSize)))];
  return [Math.max(1, roundHalfEven(width / (height / kSize))), kSize];
}

const table = fs.readFileSync(path.join(odd, 'sizes.txt'), 'utf8').split('\n')
  .filter((line) => line && !line.startsWith('#'))
  .map((line) => { const [name, w, h] = line.split(/\s+/); return { name, size: [Number(w), Number(h)] }; });

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'fotolane-odd-'));
const shown = path.join(work, 'shown');
fs.mkdirSync(shown);
for (const { name, size } of table) {
  if (size[0] > 0) fs.copyFileSync(path.join(odd, name), path.join(shown, name));
}

let browser;
try {
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run'],
  });
  const page = await browser.newPage();
  const probe = path.join(work, 'probe.htm');
  fs.writeFileSync(probe, table.map(({ name }) =>
    `<img src="${pathToFileURL(path.join(odd, name)).href}">`).join('\n'));
  await page.goto(pathToFileURL(probe).href);
  const natural = await page.evaluate(() => Promise.all([...document.images].map(async (img) => {
    await img.decode().catch(() => {});
    return [img.naturalWidth, img.naturalHeight];
  })));

  const run = spawnSync(program, [shown], { encoding: 'utf8' });
  check(run.status === 0, `a gallery of the ${fs.readdirSync(shown).length} pictures Chromium shows` +
        (run.status === 0 ? '' : ` (status ${run.status}: ${run.stderr.trim()})`));
  const htm = fs.readFileSync(path.join(shown, 'shown.htm'), 'latin1');

  table.forEach(({ name, size }, i) => {
    const seen = natural[i].join('x');
    check(seen === size.join('x'), `Chromium shows ${name} at ${seen}, as sizes.txt says (${size.join('x')})`);
    if (size[0] > 0) {
      const call = htm.match(new RegExp(`'${name.replace(/[.]/g, '[.]')}',(\\d+),(\\d+)\\)`));
      const inPage = call ? `${call[1]}x${call[2]}` : 'none';
      check(inPage === seen, `the page opens ${name} at ${inPage}`);
      const thumb = path.join(shown, 'Thumbnails', `${name.replace(/[.][^.]*$/, '')}.jpg`);
      const thumbSize = fs.existsSync(thumb) ? jpegSize(thumb).join('x') : 'none';
      check(thumbSize === expectedThumbnail(natural[i]).join('x'),
            `its thumbnail is ${thumbSize} (${expectedThumbnail(natural[i]).join('x')})`);
    } else {
      const alone = path.join(work, `alone-${i}`);
      fs.mkdirSync(alone);
      fs.copyFileSync(path.join(odd, name), path.join(alone, name));
      const refused = spawnSync(program, [alone], { encoding: 'utf8' });
      check(refused.status === 1 && refused.stderr.includes(`Invalid picture: ${path.join(alone, name)}`),
            `a gallery of ${name} alone ends in "Invalid picture" naming it`);
    }
  });
} catch (error) {
  check(false, `the browser session: ${error.message.split('\n')[0]}`);
} finally {
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
}

finish();
