// Makes a gallery of real test pictures with fotolane-gallery and opens it in
// Debian's Chromium, as a visitor would: from the disk, over file://.
//
//   node gallery_test.mjs PATH/TO/fotolane-gallery PATH/TO/testdata
//
// Prints one line per check and "N passed, N failed"; the exit status is 0
// only when every check passed (77, which CTest counts as skipped, when
// playwright-core has not been installed with `npm ci`; under CI, where
// scripts/test.sh installs it, its absence is a failure).

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { check, finish, importOrSkip } from './checks.mjs';

const { chromium } = await importOrSkip('playwright-core is', () => import('playwright-core'));

const [program, testdata] = process.argv.slice(2);
if (!program || !testdata) {
  console.log('usage: node gallery_test.mjs FOTOLANE_GALLERY TESTDATA');
  process.exit(2);
}

const kSize = 70;  // the default thumbnail size
// Names that a page must carry through URLs, attributes and script strings:
// a space, an apostrophe, '#', '%', 'é' and characters above U+00FF.
const kPictures = [
  ["Tom's party.jpg", 'exif-orientation-examples/Portrait_6.jpg'],  // EXIF: turned upright
  ['a #1.bmp', 'pillow/bmp/hopper.bmp'],
  ['été.gif', 'pillow/gif/transparent.gif'],
  ['Ελλάδα 東京.jpeg', 'pillow/jpeg/flower.jpg'],
  ['50% off.JPG', 'exif-orientation-examples/Landscape_3.jpg'],  // EXIF: turned round
];
const kFolderName = "Fotos d'été";


// The width and height in a JPEG file's frame header.
function jpegSize(file) {
  const bytes = fs.readFileSync(file);
  let at = 2;
  while (at + 9 < bytes.length && bytes[at] === 0xff) {
    const marker = bytes[at + 1];
    const isFrame = marker >= 0xc0 && marker <= 0xcf && ![0xc4, 0xc8, 0xcc].includes(marker);
    if (isFrame) return [bytes.readUInt16BE(at + 7), bytes.readUInt16BE(at + 5)];
    at += 2 + bytes.readUInt16BE(at + 2);
  }
  return [0, 0];
}

// Halves go to the even neighbour.
function roundHalfEven(value) {
  const floor = Math.floor(value);
  const rest = value - floor;
  if (rest !== 0.5) return Math.round(value);
  return floor % 2 === 0 ? floor : floor + 1;
}

// The thumbnail of a picture as a visitor sees it: its longer side kSize.
function expectedThumbnail([width, height]) {
  if (width > height) return [kSize, Math.max(1, roundHalfEven(height / (width / kSize)))];
  return [Math.max(1, roundHalfEven(width / (height / kSize))), kSize];
}

function same(a, b) {
  return JSON.stringify(a) === JSON.stringify(b);
}

function makeGallery(folder, options) {
  const run = spawnSync(program, [...options, folder], { encoding: 'utf8' });
  check(run.status === 0 && run.stderr === '',
        `fotolane-gallery ${[...options, 'FOLDER'].join(' ')} ends with status 0 and no message` +
        (run.status === 0 ? '' : ` (status ${run.status}: ${run.stderr.trim()})`));
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'fotolane-browser-'));
const folder = path.join(work, kFolderName);
fs.mkdirSync(folder);
for (const [name, source] of kPictures) fs.copyFileSync(path.join(testdata, source), path.join(folder, name));
const pageUrl = pathToFileURL(path.join(folder, `${kFolderName}.htm`)).href;
const pictureFiles = new Set(kPictures.map(([name]) => path.join(folder, name)));

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'fotolane-chromium-'));
let context;
try {
  makeGallery(folder, []);
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--disable-quic', '--no-first-run'],
  });
  context.setDefaultTimeout(15000);
  const page = await context.newPage();

  // With the viewer: thumbnails, and a window of the picture's size per click.
  await page.goto(pageUrl);
  check(await page.title() === `${kFolderName} Gallery`, `the page's title reads "${kFolderName} Gallery"`);
  const thumbnails = page.locator('table img');
  check(await thumbnails.count() === kPictures.length, `the page shows ${kPictures.length} thumbnails`);
  const seen = new Set();
  for (let i = 0; i < await thumbnails.count(); i += 1) {
    const thumbnail = thumbnails.nth(i);
    const shown = await thumbnail.evaluate(async (img) => {
      await img.decode().catch(() => {});
      return { src: img.src, size: [img.naturalWidth, img.naturalHeight] };
    });
    const thumbFile = fileURLToPath(shown.src);
    const label = path.basename(thumbFile);
    check(fs.existsSync(thumbFile) && shown.size[0] > 0 && same(shown.size, jpegSize(thumbFile)),
          `thumbnail ${label} loads at the JPEG's own size ${shown.size.join('x')}`);

    const [popup] = await Promise.all([page.waitForEvent('popup'), thumbnail.click()]);
    await popup.waitForLoadState();
    const pictureFile = fileURLToPath(popup.url());
    seen.add(pictureFile);
    const opened = await popup.evaluate(async () => {
      const img = document.images[0];
      if (img) await img.decode().catch(() => {});
      return { size: img ? [img.naturalWidth, img.naturalHeight] : [0, 0],
               window: [window.innerWidth, window.innerHeight] };
    });
    const name = path.basename(pictureFile);
    check(pictureFiles.has(pictureFile) && opened.size[0] > 0,
          `a click on thumbnail ${label} opens the picture ${name} itself`);
    check(same(opened.window, opened.size),
          `its window is the picture's size ${opened.size.join('x')} (${opened.window.join('x')})`);
    check(same(shown.size, expectedThumbnail(opened.size)),
          `thumbnail ${label} is the upright picture with its longer side ${kSize}`);
    await popup.close();
  }
  check(seen.size === kPictures.length, 'every thumbnail opens a picture of its own');

  // Without the viewer: every link opens an existing picture.
  makeGallery(folder, ['--no-viewer', '--new']);
  await page.goto(pageUrl);
  const links = await page.locator('table a').evaluateAll((anchors) => anchors.map((a) => a.href));
  check(links.length === kPictures.length, `the page holds ${kPictures.length} links`);
  const linked = new Set();
  for (const href of links) {
    const file = fileURLToPath(href);
    linked.add(file);
    const target = await context.newPage();
    await target.goto(href);
    const width = await target.evaluate(async () => {
      const img = document.images[0];
      if (img) await img.decode().catch(() => {});
      return img ? img.naturalWidth : 0;
    });
    check(pictureFiles.has(file) && width > 0, `the link ${path.basename(file)} opens that picture`);
    await target.close();
  }
  check(linked.size === kPictures.length, 'every picture has its link');
  const loaded = await page.locator('table img').evaluateAll(async (images) => {
    await Promise.all(images.map((img) => img.decode().catch(() => {})));
    return images.every((img) => img.naturalWidth > 0);
  });
  check(loaded, 'every thumbnail loads on the page without the viewer');
} catch (error) {
  check(false, `the browser session: ${error.message.split('\n')[0]}`);
} finally {
  if (context) await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
  fs.rmSync(work, { recursive: true, force: true });
}

finish();
