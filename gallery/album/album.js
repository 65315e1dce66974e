// The lightbox: shows a picture's preview large with its caption (the
// name, the date taken and the photographer's whole caption); the arrow
// keys, the buttons and a swipe go through the album; Escape, the close
// button or a click beside the picture close it and give focus back to the
// picture's thumbnail. index.html#NAME opens the picture NAME directly.
// Without this script every thumbnail stays a plain link to its picture.
(() => {
  'use strict';
  const dialog = document.getElementById('lightbox');
  const links = Array.from(document.querySelectorAll('.album a[data-preview]'));
  if (!dialog || typeof dialog.showModal !== 'function' || links.length === 0) return;
  const image = document.getElementById('lightbox-image');
  const caption = document.getElementById('lightbox-caption');
  const original = document.getElementById('lightbox-original');
  let current = -1;

  // Names reach the fragment percent-encoded, by the album or by the
  // browser's address bar, which encode a little differently. Two keys name
  // the same picture when they stand for the same bytes: "%XX" is the byte
  // XX, any other character its UTF-8 bytes. Decoding to text instead would
  // fail on a name that is not UTF-8, and a fallback to the raw key would
  // make "x%25E2" (the name "x%E2") and "x%E2" (the byte E2) the same.
  const encoder = new TextEncoder();
  const bytesOf = (key) => {
    let bytes = '';
    for (let i = 0; i < key.length;) {
      const escaped = key.slice(i + 1, i + 3);
      if (key[i] === '%' && /^[0-9A-Fa-f]{2}$/.test(escaped)) {
        bytes += escaped.toUpperCase();
        i += 3;
      } else {
        const character = String.fromCodePoint(key.codePointAt(i));
        for (const byte of encoder.encode(character)) bytes += byte.toString(16).toUpperCase().padStart(2, '0');
        i += character.length;
      }
    }
    return bytes;
  };

  function show(index) {
    current = (index + links.length) % links.length;
    const link = links[current];
    image.src = link.dataset.preview;
    image.alt = link.querySelector('img').alt;
    caption.replaceChildren(...Array.from(link.parentElement.querySelector('figcaption').childNodes,
                                          (node) => node.cloneNode(true)));
    // The grid shows a long caption shortened; the lightbox shows it whole,
    // as text.
    const whole = caption.querySelector('.caption');
    if (whole) whole.textContent = whole.dataset.caption;
    original.href = link.href;
    history.replaceState(null, '', '#' + link.dataset.key);
    // The neighbours' previews load while this one is looked at.
    for (const step of [1, -1]) {
      new Image().src = links[(current + step + links.length) % links.length].dataset.preview;
    }
  }

  function open(index) {
    show(index);
    if (!dialog.open) dialog.showModal();
  }

  function openFromFragment() {
    const key = bytesOf(location.hash.slice(1));
    if (key === '') return;
    const index = links.findIndex((link) => bytesOf(link.dataset.key) === key);
    if (index >= 0) open(index);
  }

  links.forEach((link, index) => {
    link.addEventListener('click', (event) => {
      // A click with a modifier opens the picture as a link does.
      if (event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey || event.altKey) return;
      event.preventDefault();
      open(index);
    });
  });

  dialog.addEventListener('close', () => {
    history.replaceState(null, '', location.pathname + location.search);
    image.removeAttribute('src');
    if (current >= 0) links[current].focus();
  });
  dialog.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowLeft') show(current - 1);
    else if (event.key === 'ArrowRight') show(current + 1);
    else return;
    event.preventDefault();
  });
  dialog.addEventListener('click', (event) => {
    if (event.target === dialog) dialog.close();
  });
  document.getElementById('lightbox-previous').addEventListener('click', () => show(current - 1));
  document.getElementById('lightbox-next').addEventListener('click', () => show(current + 1));
  document.getElementById('lightbox-close').addEventListener('click', () => dialog.close());

  // A swipe: a mostly sideways move of one finger by at least 40 pixels.
  let touchStart = null;
  dialog.addEventListener('touchstart', (event) => {
    touchStart = event.touches.length === 1 ? event.touches[0] : null;
  }, { passive: true });
  dialog.addEventListener('touchend', (event) => {
    if (!touchStart || event.changedTouches.length !== 1) return;
    const dx = event.changedTouches[0].clientX - touchStart.clientX;
    const dy = event.changedTouches[0].clientY - touchStart.clientY;
    touchStart = null;
    if (Math.abs(dx) >= 40 && Math.abs(dx) > 2 * Math.abs(dy)) show(dx < 0 ? current + 1 : current - 1);
  });

  window.addEventListener('hashchange', openFromFragment);
  openFromFragment();
})();
