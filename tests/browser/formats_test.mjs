// The album's formats as Chromium shows them: the decoder tests write their
// table of generated PNG, WebP and AVIF files with our decodes (PPM), and
// each file drawn by Chromium on a white canvas must match our pixels
// (HEIC, which Chromium does not show, is checked against libheif there).
// Then an album (fotolane-gallery --index) of one file of each format
// beside a JPEG: every thumbnail loads, and the lightbox of each picture
// shows an image, the HEIC's through its preview.
//
//   node formats_test.mjs PATH/TO/decoder_tests PATH/TO/fotolane-gallery
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

const [decoderTests, program] = process.argv.slice(2);

// The largest difference of any channel allowed: none where Chromium and we
// decode the same way (PNG, and WebP through the same libwebp); AVIF goes
// through libavif's YUV conversion in Chromium and libheif's here: a level
// in 4:4:4; in 4:2:0 libheif's chroma upsampling differs from libyuv's (up
// to 5 levels on the smooth test picture, more where alpha edges are sharp).
const kTolerance = { '.png': 0, '.webp': 0, '.avif': 1 };
const kAvif420Tolerance = 24;

function readPpm(file) {
  const bytes = fs.readFileSync(file);
  const header = bytes.subarray(0, 40).toString('latin1').match(/^P6\n(\d+) (\d+)\n255\n/);
  return { width: Number(header[1]), height: Number(header[2]), rgb: bytes.subarray(header[0].length) };
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'fotolane-formats-'));
let browser;
try {
  const made = spawnSync(decoderTests, ['--gtest_filter=AlbumFormats.EachVariant*'],
    { encoding: 'utf8', env: { ...process.env, FOTOLANE_FORMATS_DUMP: work } });
  check(made.status === 0, 'the decoder tests write the table of files' +
        (made.status === 0 ? '' : ` (status ${made.status}: ${made.stdout.slice(-400)})`));
  const files = fs.readdirSync(work).filter((name) => kTolerance[path.extname(name)] !== undefined).sort();
  check(files.length >= 20, `${files.length} files that Chromium shows`);

  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run',
      '--allow-file-access-from-files', '--force-color-profile=srgb'],
  });
  const page = await browser.newPage();
  const blank = path.join(work, 'blank.htm');
  fs.writeFileSync(blank, '<!doctype html><title>formats</title>');
  await page.goto(pathToFileURL(blank).href);
  for (const name of files) {
    const shown = await page.evaluate(async (src) => {
      const img = new Image();
      img.src = src;
      try { await img.decode(); } catch { return null; }
      const canvas = document.createElement('canvas');
      canvas.width = img.naturalWidth;
      canvas.height = img.naturalHeight;
      const context = canvas.getContext('2d');
      context.fillStyle = '#fff';
      context.fillRect(0, 0, canvas.width, canvas.height);
      context.drawImage(img, 0, 0);
      return { width: canvas.width, height: canvas.height,
        rgba: Array.from(context.getImageData(0, 0, canvas.width, canvas.height).data) };
    }, pathToFileURL(path.join(work, name)).href);
    const ours = readPpm(path.join(work, `${name}.ppm`));
    if (!shown) {
      check(false, `Chromium shows ${name}`);
      continue;
    }
    let most = 0;
    let sum = 0;
    for (let i = 0, j = 0; i < shown.rgba.length && j < ours.rgb.length; i += 4, j += 3) {
      for (let c = 0; c < 3; c += 1) {
        const difference = Math.abs(shown.rgba[i + c] - ours.rgb[j + c]);
        most = Math.max(most, difference);
        sum += difference;
      }
    }
    const mean = sum / Math.max(1, ours.rgb.length);
    const sameSize = shown.width === ours.width && shown.height === ours.height;
    const allowed = name.startsWith('avif-') && !name.includes('444') ? kAvif420Tolerance
      : kTolerance[path.extname(name)];
    check(sameSize && most <= allowed,
          `${name}: Chromium shows ${shown.width}x${shown.height}, ours ${ours.width}x${ours.height}, ` +
          `largest difference ${most} (at most ${allowed}), mean ${mean.toFixed(3)}`);
  }

  // The album of one picture of each format.
  const album = path.join(work, 'album');
  fs.mkdirSync(album);
  const kAlbum = { 'plain.png': 'png-rgba8.png', 'lossy.webp': 'webp-lossy.webp',
    'phone.HEIC': 'heic-turned.heic', 'web.avif': 'avif-plain.avif' };
  for (const [name, from] of Object.entries(kAlbum)) fs.copyFileSync(path.join(work, from), path.join(album, name));
  const albumRun = spawnSync(program, ['--index', album], { encoding: 'utf8' });
  check(albumRun.status === 0 && albumRun.stderr === '', `the album of PNG, WebP, HEIC and AVIF is made (status ${albumRun.status}${albumRun.stderr ? `: ${albumRun.stderr.trim()}` : ''})`);
  await page.goto(pathToFileURL(path.join(album, 'index.html')).href);
  const thumbnails = await page.evaluate(async () => Promise.all(Array.from(document.querySelectorAll('.album img'),
    async (img) => { await img.decode().catch(() => {}); return img.naturalWidth; })));
  check(thumbnails.length === 4 && thumbnails.every((width) => width > 0),
        `the album's ${thumbnails.length} thumbnails load (widths ${thumbnails.join(', ')})`);
  for (const name of Object.keys(kAlbum)) {
    await page.goto(`${pathToFileURL(path.join(album, 'index.html')).href}#${encodeURIComponent(name)}`);
    const shown = await page.evaluate(async () => {
      const image = document.getElementById('lightbox-image');
      if (image.getAttribute('src')) await image.decode().catch(() => {});
      return { open: document.getElementById('lightbox').open, src: decodeURIComponent(image.src),
        width: image.naturalWidth, original: decodeURIComponent(document.getElementById('lightbox-original').href) };
    });
    check(shown.open && shown.width > 0 && !/\.heic$/i.test(shown.src) && shown.original.endsWith(`/${name}`),
          `the lightbox shows ${name}: ${path.basename(shown.src)}, ${shown.width} pixels wide, original ${path.basename(shown.original)}`);
  }
} catch (error) {
  check(false, `the browser session: ${error.message.split('\n')[0]}`);
} finally {
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
}

finish();
