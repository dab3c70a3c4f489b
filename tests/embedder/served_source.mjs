// Opens the served front end in headless Chromium and shows a source by name, as a user does
// (Ctrl+P, the name, Return); prints what the editor shows, or fails.
//   node served_source.mjs CHROMIUM URL NAME EXPECTED_TEXT
import {createRequire} from 'node:module';

const require = createRequire(import.meta.url);
const {chromium} = require(process.env.QUELBY_PLAYWRIGHT ?? 'playwright-core');
const [executablePath, url, name, expected] = process.argv.slice(2);

const browser = await chromium.launch({executablePath, args: ['--no-sandbox', '--disable-gpu']});
try {
  const page = await browser.newPage({viewport: {width: 1280, height: 800}});
  await page.goto(url);
  // The front end is ready for the quick-open once its panels are drawn.
  await page.getByText('Sources', {exact: true}).first().waitFor({timeout: 30000});
  await page.waitForTimeout(1000);
  await page.keyboard.press('Control+P');
  await page.waitForTimeout(700);
  await page.keyboard.type(name, {delay: 50});
  await page.waitForTimeout(1000);
  await page.keyboard.press('Enter');
  // Playwright's text search looks into shadow roots, where the editor lives.
  await page.getByText(expected).first().waitFor({timeout: 30000});
  console.log('shown: ' + expected);
} catch (error) {
  if (process.env.QUELBY_SCREENSHOT) {
    for (const page of browser.contexts().flatMap((context) => context.pages())) {
      await page.screenshot({path: process.env.QUELBY_SCREENSHOT});
    }
  }
  throw error;
} finally {
  await browser.close();
}
