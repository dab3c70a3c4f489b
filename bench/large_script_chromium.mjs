// Chromium's half of the large-script benchmark: the served front end, a script paused at its
// first statement. Prints "revealed" when the paused line is shown, then sets a breakpoint from
// the keyboard and prints "resumed" when it presses F8 and "paused" when the new paused line is
// shown (the driver times the lines as they come).
//   node large_script_chromium.mjs CHROMIUM URL LINE
import {createRequire} from 'node:module';

const require = createRequire(import.meta.url);
const {chromium} = require(process.env.QUELBY_PLAYWRIGHT ?? 'playwright-core');
const [executablePath, url, line] = process.argv.slice(2);

const browser = await chromium.launch({executablePath, args: ['--no-sandbox', '--disable-gpu']});
try {
  const page = await browser.newPage({viewport: {width: 1280, height: 1024}});
  await page.goto(url);
  // Playwright's locators look into shadow roots, where the editor lives.
  await page.locator('.cm-executionLine').first().waitFor({state: 'visible', timeout: 600000});
  console.log('revealed');
  await page.keyboard.press('Control+G');
  await page.waitForTimeout(500);
  await page.keyboard.type(line);
  await page.keyboard.press('Enter');
  await page.waitForTimeout(300);
  await page.keyboard.press('Control+B');
  await page.waitForTimeout(1000);
  console.log('resumed');
  await page.keyboard.press('F8');
  await page.locator('.cm-executionLine', {hasText: 'total +='}).first()
      .waitFor({state: 'visible', timeout: 600000});
  console.log('paused');
} finally {
  await browser.close();
}
