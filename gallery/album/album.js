// The lightbox: shows a picture's preview large with its caption (the
// name, the date taken and the photographer's whole caption); the arrow
// keys, the buttons and a swipe go through the album; Escape, the close
// button or a click beside the picture close it and give focus back to the
// picture's thumbnail. The i key and the details button show the photo's
// camera details beside it. index.html#NAME opens the picture NAME
// directly.
//
// Opening a picture from the album adds one entry to the browser's history,
// the picture's deep link, so that Back closes the lightbox and stays on the
// album, and Forward opens it again; going from picture to picture replaces
// that entry, so that one Back still closes. Closing by the lightbox's own
// means goes back over the entry it added, or, opened by a deep link, makes
// the address the album's. Without this script every thumbnail stays a
// plain link to its picture.
(() => {
  'use strict';
  const dialog = document.getElementById('lightbox');
  const links = Array.from(document.querySelectorAll('.album a[data-preview]'));
  if (!dialog || typeof dialog.showModal !== 'function' || links.length === 0) return;
  const image = document.getElementById('lightbox-image');
  const caption = document.getElementById('lightbox-caption');
  const original = document.getElementById('lightbox-original');
  const details = document.getElementById('lightbox-details');
  const detailsButton = document.getElementById('lightbox-details-button');
  // Marks the history entry that the lightbox added itself.
  const kOwnEntry = 'fotolaneLightbox';
  // The link's data attributes of the camera details, in the order shown.
  const kDetails = [['camera', 'Camera'], ['lens', 'Lens'], ['focalLength', 'Focal length'],
                    ['aperture', 'Aperture'], ['exposure', 'Exposure'], ['iso', 'Sensitivity']];
  let current = -1;
  // Set while the address closes the lightbox, until its close event.
  let closedByAddress = false;

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

  // The camera details of a picture's link, as text only: they come from
  // the picture's file. They stay open or hidden from picture to picture.
  function fillDetails(link) {
    const rows = kDetails.filter(([key]) => link.dataset[key]).map(([key, label]) => [label, link.dataset[key]]);
    const taken = link.parentElement.querySelector('figcaption time');
    if (taken) rows.push(['Taken', taken.textContent]);
    if (rows.length === 0) {
      const none = document.createElement('p');
      none.textContent = 'No camera details';
      details.replaceChildren(none);
      return;
    }
    const list = document.createElement('dl');
    for (const [label, value] of rows) {
      const row = document.createElement('div');
      const term = document.createElement('dt');
      const description = document.createElement('dd');
      term.textContent = label;
      description.textContent = value;
      row.append(term, description);
      list.append(row);
    }
    details.replaceChildren(list);
  }

  function toggleDetails() {
    details.hidden = !details.hidden;
    detailsButton.setAttribute('aria-expanded', String(!details.hidden));
  }

  // Shows links[index]; `addEntry`: in a history entry of its own, else in
  // the current one, whose state (the mark of the lightbox's own entry) stays.
  function show(index, addEntry = false) {
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
    fillDetails(link);
    if (addEntry) history.pushState({ [kOwnEntry]: true }, '', '#' + link.dataset.key);
    else history.replaceState(history.state, '', '#' + link.dataset.key);
    // The neighbours' previews load while this one is looked at.
    for (const step of [1, -1]) {
      new Image().src = links[(current + step + links.length) % links.length].dataset.preview;
    }
  }

  function open(index, addEntry = false) {
    show(index, addEntry && !dialog.open);
    if (!dialog.open) dialog.showModal();
  }

  // The picture the address names, or -1.
  function pictureOfFragment() {
    const key = bytesOf(location.hash.slice(1));
    if (key === '') return -1;
    return links.findIndex((link) => bytesOf(link.dataset.key) === key);
  }

  // The lightbox as the address says, after Back, Forward, a deep link or a
  // fragment typed: open on the picture it names, else closed.
  function followAddress() {
    const index = pictureOfFragment();
    if (index < 0) {
      if (dialog.open) {
        closedByAddress = true;
        dialog.close();
      }
    } else if (!dialog.open || index !== current) {
      open(index);
    }
  }

  links.forEach((link, index) => {
    link.addEventListener('click', (event) => {
      // A click with a modifier opens the picture as a link does.
      if (event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey || event.altKey) return;
      event.preventDefault();
      open(index, true);
    });
  });

  dialog.addEventListener('close', () => {
    // The event comes a moment after the dialog closed: by then a quick
    // Forward may have opened it again, and the address is no longer the
    // one it closed on. Closed by Back or Forward, the address is the
    // album's already; else the picture's entry goes.
    const byAddress = closedByAddress;
    closedByAddress = false;
    if (dialog.open) return;
    if (!byAddress && pictureOfFragment() >= 0) {
      if (history.state?.[kOwnEntry]) history.back();
      else history.replaceState(null, '', location.pathname + location.search);
    }
    image.removeAttribute('src');
    if (current >= 0) links[current].focus();
  });
  dialog.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowLeft') show(current - 1);
    else if (event.key === 'ArrowRight') show(current + 1);
    else if (event.key === 'i' && !event.ctrlKey && !event.metaKey && !event.altKey) toggleDetails();
    else return;
    event.preventDefault();
  });
  dialog.addEventListener('click', (event) => {
    if (event.target === dialog) dialog.close();
  });
  document.getElementById('lightbox-previous').addEventListener('click', () => show(current - 1));
  document.getElementById('lightbox-next').addEventListener('click', () => show(current + 1));
  detailsButton.addEventListener('click', toggleDetails);
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

  // Back and Forward between the album's entries fire both events, a
  // fragment typed at least the second; following the address twice is
  // harmless.
  window.addEventListener('popstate', followAddress);
  window.addEventListener('hashchange', followAddress);
  followAddress();
})();
