// What the browser tests share: loading the npm packages they drive Chromium
// with, and the tally of their checks.

// The module `load` gives, or the end of the test when the packages have not
// been installed with `npm ci`: 77, which CTest counts as skipped, outside CI;
// a failure under CI, where scripts/test.sh installs them.
export async function importOrSkip(what, load) {
  try {
    return await load();
  } catch {
    console.log(`${what} missing: run \`npm ci\` in tests/browser (scripts/install-deps.sh does)`);
    process.exit(process.env.CI ? 1 : 77);
  }
}

let passed = 0;
let failed = 0;

// Prints one line per check.
export function check(ok, what) {
  if (ok) passed += 1;
  else failed += 1;
  console.log(`${ok ? 'ok     ' : 'FAILED '} ${what}`);
}

// Prints "N passed, N failed" and ends the test: 0 only when every check passed.
export function finish() {
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}
