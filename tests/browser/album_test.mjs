// Makes an album (fotolane-gallery --index) of real test pictures and opens
// it in Debian's Chromium as a visitor would, over file://: on a desktop and
// on a phone, by mouse, keyboard and touch, by deep link, without
// JavaScript, and through axe-core.
//
//   node album_test.mjs PATH/TO/fotolane-gallery PATH/TO/testdata [--screenshots DIR]
//
// With --screenshots it also writes DIR/album-desktop.png,
// DIR/album-phone.png and their dark variants (album-desktop-dark.png,
// album-phone-dark.png). Prints one line per check and "N passed, N failed";
// exit status as gallery_test.mjs (77: the npm packages are missing).

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { check, finish, importOrSkip } from './checks.mjs';

const { chromium, axePath } = await importOrSkip('playwright-core or axe-core is', async () => ({
  chromium: (await import('playwright-core')).chromium,
  axePath: createRequire(import.meta.url).resolve('axe-core/axe.min.js'),
}));

const [program, testdata, flag, screenshots] = process.argv.slice(2);
if (!program || !testdata || (flag && (flag !== '--screenshots' || !screenshots))) {
  console.log('usage: node album_test.mjs FOTOLANE_GALLERY TESTDATA [--screenshots DIR]');
  process.exit(2);
}

const kFolderName = "Fotos d'été";
const kWide = 'Panorama #2.bmp';  // longer than a preview: the lightbox shows its preview
const kDated = 'Blüte & Co.jpg';  // EXIF DateTimeOriginal 2003:12:14 12:01:44
const kPhotos = fs.readdirSync(path.join(testdata, 'exif-orientation-examples'))
  .filter((name) => name.endsWith('.jpg')).sort();
// Names that must reach URLs, attributes and text exactly, then enough
// photographs that the last ones lie far below the first screen.
const kPictures = [
  ["Tom's party.jpg", 'exif-orientation-examples/Portrait_6.jpg'],
  ['été.gif', 'pillow/gif/transparent.gif'],
  ['Ελλάδα 東京.jpeg', 'image-rs/jpg/progressive/cat.jpg'],
  [kDated, 'pillow/jpeg/flower.jpg'],
  ...Array.from({ length: 54 }, (_, i) => [`photo ${String(i + 1).padStart(2, '0')}.jpg`,
    `exif-orientation-examples/${kPhotos[i % kPhotos.length]}`]),
];

// Two names whose deep links once opened the same picture: a "%" in the
// name, and the byte E2 of a name that is not UTF-8.
const kPercentName = 'photo99%E2.jpg';
const kByteName = Buffer.concat([Buffer.from('photo99'), Buffer.from([0xE2]), Buffer.from('.jpg')]);

// A URL's path as the bytes it stands for, in a latin1 string.
const urlBytes = (url) => Buffer.from(url.replace(/%([0-9A-Fa-f]{2})/g,
  (_, hex) => String.fromCharCode(parseInt(hex, 16))), 'latin1').toString('latin1');

// The title given to "Tom's party.jpg" in its XMP: markup that must show as
// text, longer than the 80 characters that the grid shows of it.
const kCaption = '<b>Tom</b> & friends by the lake \u2014 a long summer evening that no grid cell has room for';
const kShort = `${[...kCaption].slice(0, 80).join('').trimEnd()}\u2026`;

// The camera details written into "photo 02.jpg" by exiv2's own command,
// markup in them to show as text, and what the lightbox shows of them.
const kDetailed = 'photo 02.jpg';
const kCameraTags = ['Exif.Image.Make Ascii <b>Fotolane</b> & Co', 'Exif.Image.Model Ascii X-1 "Pro"',
  'Exif.Photo.LensModel Ascii 35mm F1.4', 'Exif.Photo.FocalLength Rational 35/1',
  'Exif.Photo.FNumber Rational 28/10', 'Exif.Photo.ExposureTime Rational 1/250',
  'Exif.Photo.ISOSpeedRatings Short 400', 'Exif.Photo.DateTimeOriginal Ascii 2021:07:04 18:30:00']
  .map((tag) => `-Mset ${tag}`);
const kDetails = [['Camera', '<b>Fotolane</b> & Co X-1 "Pro"'], ['Lens', '35mm F1.4'],
  ['Focal length', '35 mm'], ['Aperture', 'f/2.8'], ['Exposure', '1/250 s'], ['Sensitivity', 'ISO 400'],
  ['Taken', '2021-07-04 18:30']];

// A caption without the picture's own caption and the date that may follow the name.
const nameIn = (caption) => [kCaption, kShort]
  .reduce((text, own) => (text.endsWith(` ${own}`) ? text.slice(0, -own.length - 1) : text), caption)
  .replace(/ \d{4}-\d\d-\d\d \d\d:\d\d$/, '');

// A JPEG with an XMP packet (an APP1 segment after its start) whose dc:title is `title`.
function withTitle(jpeg, title) {
  const text = title.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  const packet = Buffer.from('http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x="adobe:ns:meta/">' +
    '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" ' +
    'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title><rdf:Alt><rdf:li xml:lang="x-default">' +
    `${text}</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>`);
  const head = Buffer.from([0xFF, 0xE1, (packet.length + 2) >> 8, (packet.length + 2) & 0xFF]);
  return Buffer.concat([jpeg.subarray(0, 2), head, packet, jpeg.subarray(2)]);
}


// A 24-bit bitmap of width x height in soft horizontal bands.
function writeBmp(file, width, height) {
  const stride = (3 * width + 3) & ~3;
  const bytes = Buffer.alloc(54 + stride * height);
  bytes.write('BM', 0);
  bytes.writeUInt32LE(bytes.length, 2);
  bytes.writeUInt32LE(54, 10);
  bytes.writeUInt32LE(40, 14);
  bytes.writeInt32LE(width, 18);
  bytes.writeInt32LE(height, 22);
  bytes.writeUInt16LE(1, 26);
  bytes.writeUInt16LE(24, 28);
  for (let s = 0; s < height; s += 1) {
    for (let x = 0; x < width; x += 1) {
      const at = 54 + s * stride + 3 * x;
      bytes[at] = 120 + (s * 100) / height;
      bytes[at + 1] = 80 + (x * 120) / width;
      bytes[at + 2] = 200 - (s * 100) / height;
    }
  }
  fs.writeFileSync(file, bytes);
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'fotolane-album-'));
const folder = path.join(work, kFolderName);
fs.mkdirSync(folder);
for (const [name, source] of kPictures) fs.copyFileSync(path.join(testdata, source), path.join(folder, name));
fs.writeFileSync(path.join(folder, "Tom's party.jpg"), withTitle(fs.readFileSync(path.join(folder, "Tom's party.jpg")), kCaption));
writeBmp(path.join(folder, kWide), 2400, 600);
const tagged = spawnSync('exiv2', [...kCameraTags, 'mo', path.join(folder, kDetailed)],
  { encoding: 'utf8' });
for (const name of [kPercentName, kByteName]) {
  fs.copyFileSync(path.join(testdata, 'pillow/jpeg/hopper.jpg'), Buffer.concat([Buffer.from(`${folder}/`), Buffer.from(name)]));
}
const pictureCount = kPictures.length + 3;
const folderUrl = `${pathToFileURL(folder).href}/`;
const albumUrl = `${folderUrl}index.html`;

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'fotolane-chromium-'));
let browser;
try {
  const run = spawnSync(program, ['--index', folder], { encoding: 'utf8' });
  check(run.status === 0 && run.stderr === '', 'fotolane-gallery --index FOLDER ends with status 0 and no message' +
        (run.status === 0 ? '' : ` (status ${run.status}: ${run.stderr.trim()})`));

  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--disable-quic', '--no-first-run'],
  });
  // Every request of every page, to tell those outside the folder.
  const outside = new Set();
  async function newPage(options) {
    const context = await browser.newContext(options);
    context.setDefaultTimeout(15000);
    await context.route('**/*', (route) => {
      const url = route.request().url();
      if (!url.startsWith(folderUrl)) outside.add(url);
      return url.startsWith('file:') ? route.continue() : route.abort();
    });
    return context.newPage();
  }
  const lightbox = (page) => page.evaluate(async () => {
    const dialog = document.getElementById('lightbox');
    const image = document.getElementById('lightbox-image');
    if (dialog.open && image.getAttribute('src')) await image.decode().catch(() => {});
    // A name that is not UTF-8 stays percent-encoded.
    const decodeURIComponent = (url) => { try { return window.decodeURIComponent(url); } catch { return url; } };
    return {
      open: dialog.open,
      caption: document.getElementById('lightbox-caption').textContent.trim(),
      markup: document.querySelector('#lightbox-caption b') !== null,
      src: decodeURIComponent(image.src),
      width: image.naturalWidth,
      original: decodeURIComponent(document.getElementById('lightbox-original').href),
      focused: (document.activeElement?.closest('li')?.querySelector('figcaption')?.textContent ?? '').trim(),
      hash: location.hash,
    };
  });
  // The tiles on the first screen, once their images are in: each keeps its
  // picture's shape, each row but the album's last fills the width, and on
  // a screen of two device pixels a CSS pixel each image has at least 1.9
  // pixels a CSS pixel of its height, unless it is the picture itself
  // (a small picture is not enlarged). A row whose tiles have grown to their
  // most (1.5 times the row's height: a lone tile before a wide one) may
  // stay short of the width: the album's thumbnails are made for that most.
  const tiles = (page) => page.evaluate(async () => {
    const dpr = window.devicePixelRatio;
    const album = document.querySelector('.album');
    const most = 1.5 * parseFloat(getComputedStyle(album).getPropertyValue('--row'));
    const all = Array.from(album.querySelectorAll('img'));
    const shown = all.filter((img) => img.getBoundingClientRect().top < window.innerHeight);
    await Promise.all(shown.map((img) => img.decode().catch(() => {})));
    const ownSize = (url) => new Promise((resolve) => {
      const picture = new Image();
      picture.onload = () => resolve([picture.naturalWidth, picture.naturalHeight]);
      picture.onerror = () => resolve([0, 0]);
      picture.src = url;
    });
    const measured = await Promise.all(shown.map(async (img) => {
      const box = img.getBoundingClientRect();
      // The file's own pixels: srcset's "2x" halves the natural size.
      const [width, height] = img.currentSrc ? await ownSize(img.currentSrc) : [0, 0];
      const density = height / box.height * dpr;
      const itself = density < 1.9 && (await ownSize(img.closest('a').href)).join('x') === `${width}x${height}`;
      return {
        top: Math.round(img.closest('li').getBoundingClientRect().top),
        right: box.right,
        held: Math.abs(box.height - most) < 1,
        shape: (box.width / box.height) / (img.naturalWidth / img.naturalHeight),
        density, itself,
        src: img.currentSrc,
      };
    }));
    const rows = new Map();
    for (const tile of measured) {
      const row = rows.get(tile.top) ?? { right: 0, held: true };
      rows.set(tile.top, { right: Math.max(row.right, tile.right), held: row.held && tile.held });
    }
    const lastTop = Math.round(all.at(-1).closest('li').getBoundingClientRect().top);
    const filling = [...rows].filter(([top, row]) => top !== lastTop && !row.held);
    const rights = filling.map(([, row]) => row.right);
    return {
      dpr,
      count: measured.length,
      rows: rows.size,
      held: rows.size - filling.length,
      worstShape: Math.max(...measured.map((tile) => Math.abs(tile.shape - 1))),
      leastDensity: Math.min(...measured.filter((tile) => !tile.itself).map((tile) => tile.density)),
      small: measured.filter((tile) => tile.itself).length,
      worstRow: Math.max(...rights.map((right) => Math.abs(album.getBoundingClientRect().right - right))),
      // The tiles of the screen's density: 1x on a plain screen, 2x on a sharp one.
      fromDensity: measured.every((tile) => tile.src.includes(dpr >= 2 ? '/Thumbnails@2x/' : '/Thumbnails@1x/')),
      viewport: window.innerWidth,
      scrollWidth: document.documentElement.scrollWidth,
      pending: measured.filter((tile) => !(tile.density > 0)).length,
    };
  });
  const checkTiles = async (page, where) => {
    // A busy machine may still be loading some of the first screen's images.
    let t = await tiles(page);
    for (let wait = 0; wait < 40 && t.pending > 0; wait += 1) {
      await page.waitForTimeout(250);
      t = await tiles(page);
    }
    check(t.count > 3 && t.worstShape <= 0.02 && t.worstRow <= 3 && t.scrollWidth <= t.viewport && t.fromDensity,
          `${where}: ${t.count} tiles from the ${t.dpr >= 2 ? '2x' : '1x'} set in ${t.rows} rows, each in its picture's shape ` +
          `(within ${(t.worstShape * 100).toFixed(2)} %), the rows to ${t.worstRow.toFixed(1)} px of the width ` +
          `(${t.held} at their most height), no sideways scrolling`);
    if (t.dpr >= 2) {
      check(t.leastDensity >= 1.9, `${where}: at least ${t.leastDensity.toFixed(2)} image pixels a CSS pixel ` +
            `(${t.small} small pictures shown whole)`);
    }
  };
  // The dialog's close event, which clears the address's fragment and gives
  // the focus back, comes a moment after the dialog has closed; until then
  // the browser may have put the focus back on the thumbnail that opened it.
  const afterClosing = (page) => page.waitForFunction(() => !document.getElementById('lightbox').open &&
    !document.getElementById('lightbox-image').hasAttribute('src') && location.hash === '' &&
    document.activeElement.matches('.album a'), null, { timeout: 10000 })
    .catch(() => {});
  const detailsShown = (page) => page.evaluate(() => {
    const panel = document.getElementById('lightbox-details');
    return {
      hidden: panel.hidden,
      expanded: document.getElementById('lightbox-details-button').getAttribute('aria-expanded'),
      rows: Array.from(panel.querySelectorAll('dt'), (dt) => [dt.textContent, dt.nextElementSibling.textContent]),
      markup: panel.querySelector('b') !== null,
    };
  });
  // The browser's Back (-1) or Forward (1) between the album's own entries,
  // then the lightbox settled: closed and the focus back, or open.
  const travel = async (page, step) => {
    await page.evaluate((by) => history.go(by), step);
    if (step < 0) await afterClosing(page);
    else await page.waitForFunction(() => document.getElementById('lightbox').open, null, { timeout: 10000 }).catch(() => {});
  };
  async function axeFindings(page, when) {
    await page.addScriptTag({ path: axePath });
    const result = await page.evaluate(() => window.axe.run(document));
    const bad = result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
    check(bad.length === 0, `axe-core finds nothing serious or critical ${when}` +
          bad.map((v) => ` [${v.id}: ${v.nodes.length}]`).join(''));
  }

  // A desktop window.
  const desktop = await newPage({ viewport: { width: 1280, height: 800 } });
  await desktop.goto(albumUrl);
  check(await desktop.title() === `${kFolderName} Gallery`, `the album's title reads "${kFolderName} Gallery"`);
  const captions = await desktop.locator('.album figcaption').allTextContents();
  const items = captions.map(nameIn);
  // The gallery's order: names compared by their upper-cased characters.
  check(items.length === pictureCount && items[0] === kDated && items[1] === kWide &&
        items.slice(-3).join('|') === "Tom's party.jpg|été.gif|Ελλάδα 東京.jpeg",
        `the album shows the ${pictureCount} pictures in the gallery's order, names exact`);
  check(captions[0] === `${kDated} 2003-12-14 12:01`, 'a caption shows the date the photo was taken');
  const own = await desktop.locator('.album .caption').evaluateAll((spans) => spans.map((span) =>
    ({ text: span.textContent, whole: span.dataset.caption, markup: span.children.length })));
  check(own.length === 1 && own[0].text === kShort && own[0].whole === kCaption && own[0].markup === 0 &&
        captions.at(-3) === `Tom's party.jpg ${kShort}`,
        `the picture's own title shows under it as text, shortened to 80 characters: "${own[0]?.text}"`);
  await checkTiles(desktop, 'on a 1280-pixel desktop');
  const firstThumbnail = await desktop.locator('.album img').first().evaluate(async (img) => {
    await img.decode().catch(() => {});
    return { src: decodeURIComponent(img.currentSrc), width: img.naturalWidth };
  });
  check(firstThumbnail.src.endsWith(`/Thumbnails@1x/${kDated}.jpg`) && firstThumbnail.width > 0,
        'a thumbnail on a plain screen comes from the 1x set');
  if (screenshots) {
    await desktop.screenshot({ path: path.join(screenshots, 'album-desktop.png') });
    await desktop.emulateMedia({ colorScheme: 'dark' });
    await desktop.screenshot({ path: path.join(screenshots, 'album-desktop-dark.png') });
    await desktop.emulateMedia({ colorScheme: 'light' });
  }
  // The same window on a high-density screen.
  const sharp = await newPage({ viewport: { width: 1280, height: 800 }, deviceScaleFactor: 2 });
  await sharp.goto(albumUrl);
  await checkTiles(sharp, 'on a 1280-pixel desktop at 2 device pixels a CSS pixel');
  await sharp.close();
  await axeFindings(desktop, 'on the album');

  // The keyboard path: Tab to the first thumbnail, Enter, arrows, Escape.
  await desktop.keyboard.press('Tab');
  check(await desktop.evaluate(() => document.activeElement.matches('.album a')), 'Tab reaches the first thumbnail');
  await desktop.keyboard.press('Enter');
  let shown = await lightbox(desktop);
  check(shown.open && nameIn(shown.caption) === kDated && shown.width > 0 && shown.src.endsWith(`/${kDated}`),
        `Enter opens the lightbox with the picture ${kDated} and its caption`);
  check(shown.hash === `#${encodeURIComponent(kDated)}`, `the address shows its deep link ${shown.hash}`);
  await axeFindings(desktop, 'with the lightbox open');
  await desktop.keyboard.press('ArrowRight');
  shown = await lightbox(desktop);
  check(nameIn(shown.caption) === kWide && shown.width > 0, 'ArrowRight shows the next picture');
  await desktop.keyboard.press('ArrowLeft');
  await desktop.keyboard.press('ArrowLeft');
  shown = await lightbox(desktop);
  check(nameIn(shown.caption) === 'Ελλάδα 東京.jpeg', 'ArrowLeft goes back, past the first picture to the last');
  await desktop.keyboard.press('Escape');
  await afterClosing(desktop);
  shown = await lightbox(desktop);
  check(!shown.open && nameIn(shown.focused) === 'Ελλάδα 東京.jpeg' && shown.hash === '',
        'Escape closes it and the focus is on the thumbnail of the picture last shown');

  // The browser's Back and Forward: the lightbox has one history entry.
  // (From another page, so that no entry lies ahead of the album's.)
  await desktop.goto('about:blank');
  await desktop.goto(albumUrl);
  const historyLength = () => desktop.evaluate(() => history.length);
  const before = await historyLength();
  // The entry is there once the lightbox shows the picture's deep link:
  // going back before that would leave the album.
  const showing = (page, name) => page.waitForFunction((hash) => document.getElementById('lightbox').open &&
    location.hash === hash, `#${encodeURIComponent(name)}`, { timeout: 10000 }).catch(() => {});
  await desktop.locator('.album a').nth(2).click();
  await showing(desktop, items[2]);
  await travel(desktop, -1);
  shown = await lightbox(desktop);
  check(!shown.open && desktop.url() === albumUrl && nameIn(shown.focused) === items[2],
        'Back closes the lightbox and stays on the album, the focus on the thumbnail');
  await travel(desktop, 1);
  shown = await lightbox(desktop);
  check(shown.open && nameIn(shown.caption) === items[2] && shown.hash === `#${encodeURIComponent(items[2])}`,
        'Forward opens it again on the same picture');
  await desktop.keyboard.press('ArrowRight');
  await desktop.keyboard.press('ArrowRight');
  await showing(desktop, items[4]);
  await travel(desktop, -1);
  shown = await lightbox(desktop);
  check(!shown.open && desktop.url() === albumUrl && await historyLength() === before + 1,
        'after going to the next pictures one Back still closes it: they replaced its one entry');
  await travel(desktop, 1);
  await desktop.keyboard.press('Escape');
  await afterClosing(desktop);
  check(desktop.url() === albumUrl && !(await desktop.evaluate(() => history.state)),
        'Escape goes back over the entry that opening the picture added');
  await desktop.goto(`${albumUrl}#${encodeURIComponent(kWide)}`);
  const deepLength = await historyLength();
  await desktop.getByRole('button', { name: 'Close' }).click();
  await afterClosing(desktop);
  shown = await lightbox(desktop);
  check(!shown.open && desktop.url() === albumUrl && await historyLength() === deepLength,
        'a picture opened by its deep link closes to the album, which stays in place of its entry');

  // The camera details, by the i key and the button.
  check(tagged.status === 0, `exiv2 writes camera details into ${kDetailed}${tagged.status === 0 ? '' : `: ${tagged.stderr}`}`);
  await desktop.locator('.album a').nth(items.indexOf(kDetailed)).click();
  await desktop.keyboard.press('i');
  let panel = await detailsShown(desktop);
  check(!panel.hidden && panel.expanded === 'true' && JSON.stringify(panel.rows) === JSON.stringify(kDetails) &&
        !panel.markup, `i shows the picture's camera details, as text: ${JSON.stringify(panel.rows)}`);
  await desktop.keyboard.press('ArrowRight');
  panel = await detailsShown(desktop);
  check(!panel.hidden && panel.rows.length === 0, 'they stay open for the next picture, which has none');
  await desktop.keyboard.press('i');
  panel = await detailsShown(desktop);
  check(panel.hidden && panel.expanded === 'false', 'i again hides them');
  await desktop.getByRole('button', { name: 'Camera details' }).click();
  check(!(await detailsShown(desktop)).hidden, 'the details button shows them too');

  // The dark scheme, where the system asks for it.
  await desktop.emulateMedia({ colorScheme: 'dark' });
  await axeFindings(desktop, 'in the dark scheme with the lightbox and its details open');
  await desktop.keyboard.press('Escape');
  await afterClosing(desktop);
  const background = await desktop.evaluate(() => getComputedStyle(document.body).backgroundColor);
  check(/^rgb\((\d|[1-3]\d), (\d|[1-3]\d), (\d|[1-3]\d)\)$/.test(background),
        `in the dark scheme the album is dark: ${background}`);
  await axeFindings(desktop, 'on the album in the dark scheme');
  await desktop.emulateMedia({ colorScheme: 'light' });

  // Deep links, as the album writes them and as typed.
  await desktop.goto(`${albumUrl}#${encodeURIComponent(kWide)}`);
  shown = await lightbox(desktop);
  check(shown.open && shown.src.endsWith(`/Previews/${kWide}.jpg`) && shown.width === 2048 &&
        shown.original.endsWith(`/${kWide}`),
        'index.html#NAME opens a large picture directly, as its 2048-pixel preview with a link to the original');
  await desktop.goto(`${albumUrl}#Tom's party.jpg`);
  shown = await lightbox(desktop);
  check(shown.open && nameIn(shown.caption) === "Tom's party.jpg", 'a deep link typed with plain characters opens its picture');
  check(shown.caption === `Tom's party.jpg ${kCaption}` && !shown.markup,
        'the lightbox shows the whole title, as text');
  const deepLinks = [];
  for (const caption of [kPercentName, 'photo99\uFFFD.jpg']) {
    await desktop.goto(albumUrl);
    await desktop.locator('.album a').nth(items.indexOf(caption)).click();
    const hash = (await lightbox(desktop)).hash;
    await desktop.goto('about:blank');
    await desktop.goto(`${albumUrl}${hash}`);
    shown = await lightbox(desktop);
    deepLinks.push(shown.open && nameIn(shown.caption) === caption);
  }
  check(deepLinks.every(Boolean), `the deep links of "${kPercentName}" and of a name with the byte E2 each open their own picture`);

  // A phone of two device pixels a CSS pixel: taps and swipes.
  const phone = await newPage({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
  await phone.goto(albumUrl);
  await checkTiles(phone, 'on a 390-pixel phone');
  const loadedAtFirst = await phone.evaluate(() => performance.getEntriesByType('resource')
    .filter((entry) => entry.name.includes('/Thumbnails')).length);
  const last = phone.locator('.album img').last();
  await last.scrollIntoViewIfNeeded();
  const lastLoaded = await last.evaluate(async (img) => { await img.decode().catch(() => {}); return img.naturalWidth > 0; });
  check(loadedAtFirst < pictureCount && lastLoaded,
        `thumbnails far below the first screen load as they come near it (${loadedAtFirst} of ${pictureCount} at first)`);
  await phone.evaluate(() => window.scrollTo(0, 0));
  if (screenshots) {
    await phone.screenshot({ path: path.join(screenshots, 'album-phone.png'), scale: 'css' });
    await phone.emulateMedia({ colorScheme: 'dark' });
    await phone.screenshot({ path: path.join(screenshots, 'album-phone-dark.png'), scale: 'css' });
    await phone.emulateMedia({ colorScheme: 'light' });
  }
  await phone.locator('.album a').nth(1).tap();
  shown = await lightbox(phone);
  check(shown.open && nameIn(shown.caption) === kWide, 'a tap opens the lightbox');
  await phone.getByRole('button', { name: 'Close' }).tap();
  await afterClosing(phone);
  shown = await lightbox(phone);
  check(!shown.open && nameIn(shown.focused) === kWide, `the close button closes it and the focus goes back`);
  await phone.locator('.album a').nth(1).tap();
  const cdp = await phone.context().newCDPSession(phone);
  const swipe = async (from, to) => {
    for (const [type, x] of [['touchStart', from], ['touchMove', (from + to) / 2], ['touchMove', to]]) {
      await cdp.send('Input.dispatchTouchEvent', { type, touchPoints: [{ x, y: 400 }] });
    }
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
  };
  await swipe(300, 80);
  shown = await lightbox(phone);
  check(nameIn(shown.caption) === 'photo 01.jpg', 'a swipe to the left shows the next picture');
  await swipe(80, 300);
  shown = await lightbox(phone);
  check(nameIn(shown.caption) === kWide, 'a swipe to the right shows the previous one');

  // Without JavaScript every thumbnail is a link to its picture.
  const plain = await newPage({ javaScriptEnabled: false, viewport: { width: 1280, height: 800 } });
  await plain.goto(albumUrl);
  const links = await plain.locator('.album a').evaluateAll((anchors) => anchors.map((a) => a.href));
  const folderBytes = urlBytes(folderUrl);
  const names = new Set(kPictures.map(([name]) => name).concat(kWide, kPercentName)
    .map((name) => Buffer.from(name).toString('latin1')).concat(kByteName.toString('latin1')));
  check(links.length === pictureCount &&
        links.map(urlBytes).every((href) => href.startsWith(folderBytes) && names.has(href.slice(folderBytes.length))),
        'without JavaScript every thumbnail links to its picture');
  await plain.locator('.album a').first().click();
  check(decodeURIComponent(plain.url()).endsWith(`/${kDated}`), 'and a click on it opens the picture itself');

  // The same pictures published as a site (-o): the essentials again there.
  const site = path.join(work, 'site');
  const siteRun = spawnSync(program, ['--keep-location', '-o', site, folder], { encoding: 'utf8' });
  check(siteRun.status === 0 && siteRun.stderr === '', 'fotolane-gallery -o SITE FOLDER ends with status 0 and no message' +
        (siteRun.status === 0 ? '' : ` (status ${siteRun.status}: ${siteRun.stderr.trim()})`));
  const siteUrl = `${pathToFileURL(site).href}/`;
  const siteOutside = new Set();
  const siteContext = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  siteContext.setDefaultTimeout(15000);
  await siteContext.route('**/*', (route) => {
    const url = route.request().url();
    if (!url.startsWith(siteUrl) && url !== 'data:,') siteOutside.add(url);
    return url.startsWith('file:') ? route.continue() : route.abort();
  });
  const sitePage = await siteContext.newPage();
  await sitePage.goto(`${siteUrl}index.html`);
  const brokenThumbnails = await sitePage.evaluate(() => Array.from(document.querySelectorAll('.album img'))
    .slice(0, 12).filter((img) => img.naturalWidth === 0).length);
  check(brokenThumbnails === 0, "the site's first thumbnails show");
  await sitePage.locator('.album a').first().click();
  shown = await lightbox(sitePage);
  check(shown.open && nameIn(shown.caption) === kDated && shown.width > 0, 'in the site a click opens the lightbox on its picture');
  check(shown.original === `${decodeURIComponent(siteUrl)}${kDated}` && fs.existsSync(path.join(site, kDated)),
        "the site's Original link is the copy inside the site");
  check(siteOutside.size === 0, `nothing is requested outside the site${[...siteOutside].map((u) => ` ${u}`).join('')}`);

  // Albums of albums (-r): the album below is a tile with its cover, name and count.
  const trips = path.join(work, 'Trips');
  const kBelow = "Tom's #2 & <b>";
  fs.mkdirSync(path.join(trips, kBelow), { recursive: true });
  fs.copyFileSync(path.join(testdata, 'pillow/jpeg/hopper.jpg'), path.join(trips, 'top.jpg'));
  for (const name of ['b.jpg', 'a.jpg']) {
    fs.copyFileSync(path.join(testdata, 'pillow/jpeg/flower.jpg'), path.join(trips, kBelow, name));
  }
  const tripsRun = spawnSync(program, ['-r', '--index', trips], { encoding: 'utf8' });
  check(tripsRun.status === 0 && tripsRun.stderr === '', 'fotolane-gallery -r --index FOLDER ends with status 0 and no message');
  const tripsUrl = `${pathToFileURL(trips).href}/`;
  const tripsOutside = new Set();
  const tripsContext = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  tripsContext.setDefaultTimeout(15000);
  await tripsContext.route('**/*', (route) => {
    const url = route.request().url();
    if (!url.startsWith(tripsUrl) && url !== 'data:,') tripsOutside.add(url);
    return url.startsWith('file:') ? route.continue() : route.abort();
  });
  const tripsPage = await tripsContext.newPage();
  await tripsPage.goto(`${tripsUrl}index.html`);
  const albumTiles = await tripsPage.locator('.albums a').evaluateAll((anchors) => Promise.all(anchors.map(async (a) => {
    const img = a.querySelector('img');
    await img?.decode().catch(() => {});
    return { name: a.querySelector('.album-name')?.textContent, count: a.querySelector('.album-count')?.textContent,
             src: decodeURIComponent(img?.currentSrc ?? ''), width: img?.naturalWidth ?? 0,
             above: a.getBoundingClientRect().bottom <= document.querySelector('.album img').getBoundingClientRect().top };
  })));
  check(albumTiles.length === 1 && albumTiles[0].name === kBelow && albumTiles[0].count === '2 pictures' && albumTiles[0].above,
        `the album below shows above the pictures as a tile, name as text and "2 pictures": ${JSON.stringify(albumTiles)}`);
  check(albumTiles[0]?.width > 0 && albumTiles[0].src.endsWith(`/${kBelow}/Thumbnails@1x/a.jpg.jpg`),
        "the tile's cover is the 1x tile of the album's first picture on a plain screen, and it loads");
  await axeFindings(tripsPage, 'on an album with a tile');
  await tripsPage.emulateMedia({ colorScheme: 'dark' });
  await axeFindings(tripsPage, 'on an album with a tile in the dark scheme');
  await tripsPage.locator('.albums a').first().click();
  await tripsPage.waitForLoadState();
  check(decodeURIComponent(tripsPage.url()) === `${decodeURIComponent(tripsUrl)}${kBelow}/index.html` &&
        await tripsPage.title() === `${kBelow} Gallery`, 'a click on the tile opens the album below');
  check(tripsOutside.size === 0, `nothing is requested outside the albums${[...tripsOutside].map((u) => ` ${u}`).join('')}`);

  check(outside.size === 0, `nothing is requested outside the album's folder${[...outside].map((u) => ` ${u}`).join('')}`);
} catch (error) {
  check(false, `the browser session: ${error.message.split('\n')[0]}`);
} finally {
  if (browser) await browser.close();
  fs.rmSync(profile, { recursive: true, force: true });
  fs.rmSync(work, { recursive: true, force: true });
}

finish();
