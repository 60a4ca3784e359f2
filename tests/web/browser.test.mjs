// The board in a real browser: headless Chromium (Debian's) through playwright-core against a
// temporary installation under lighttpd. Log in, see both frames and the menu, open and close
// a directory, log off through the confirmation dialog.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  OPERATOR, SHARED, frameAt, logIn, screenshotPath, useBoardAndBrowsers,
} from './lib.mjs';

let board, browser;
useBoardAndBrowsers({}, (e) => ({ board, browser } = e));

test('log in, both frames, open and close a directory, log off', async () => {
  const { page } = browser;
  const failed = [];
  page.on('response', (r) => { if (r.status() >= 400) failed.push(`${r.status()} ${r.url()}`); });

  await page.goto(board.programUrl);
  // The login picture is a real JPEG the browser can draw.
  const title = page.locator('img[src$="title.jpg"]');
  await title.waitFor();
  assert.ok(await title.evaluate((img) => img.complete && img.naturalWidth === 400));
  const loginShot = screenshotPath('login.png');
  if (loginShot) await page.screenshot({ path: loginShot });

  await logIn(page, board, OPERATOR);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  const right = await frameAt(page, 'FRM22', /\/Vorbix\/info\.html$/);
  assert.match(await right.locator('body').innerText(), /Welcome/);

  const general = menu.locator('a', { hasText: 'General' });
  await general.waitFor();
  assert.equal(await menu.locator('a', { hasText: 'Lounge' }).count(), 1);
  assert.equal(await menu.locator('a', { hasText: 'Announcements' }).count(), 0);
  // The folder pictures are drawn.
  const icons = await menu.locator('img').evaluateAll(
    (imgs) => imgs.map((i) => i.complete && i.naturalWidth === 16));
  assert.ok(icons.length >= 3 && icons.every(Boolean), String(icons));

  // A click on the directory reloads the menu with it open...
  await Promise.all([menu.waitForURL(/DISP_NO=1/), general.click()]);
  const opened = await frameAt(page, 'FRM21', /DISP_NO=1/);
  await opened.locator('a', { hasText: 'Announcements' }).waitFor();
  assert.equal(await opened.locator('a', { hasText: 'Staff room' }).count(), 1);
  const shot = screenshotPath('menu-open.png');
  if (shot) await page.screenshot({ path: shot });
  // ...and a second click closes it again.
  await Promise.all([
    opened.waitForURL((url) => !/DISP_NO/.test(url.search)),
    opened.locator('a', { hasText: 'General' }).click(),
  ]);
  const closed = await frameAt(page, 'FRM21', /JOB=FRM21$/);
  await closed.locator('a', { hasText: 'General' }).waitFor();
  assert.equal(await closed.locator('a', { hasText: 'Announcements' }).count(), 0);

  // Log-off asks first: declining keeps the session.
  const logoff = closed.locator('input[type="submit"][value="Log off"]');
  let question = null;
  page.once('dialog', async (d) => { question = d.message(); await d.dismiss(); });
  await logoff.click();
  await page.waitForTimeout(300);
  assert.equal(question, 'Do you want to log off?');
  assert.ok(page.frame({ name: 'FRM21' }), 'the frameset stays after declining');

  page.once('dialog', (d) => d.accept());
  await Promise.all([page.waitForNavigation(), logoff.click()]);
  // The whole window shows the login page again.
  await page.locator('input[name="uid"]').waitFor();
  assert.equal(page.frames().length, 1);
  assert.deepEqual(failed, []);
});

test('the old session key no longer opens the menu after log-off', async () => {
  const { page } = browser;
  await logIn(page, board, OPERATOR);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  const menuUrl = menu.url();
  page.once('dialog', (d) => d.accept());
  await Promise.all([page.waitForNavigation(),
    menu.locator('input[type="submit"][value="Log off"]').click()]);
  await page.goto(menuUrl);
  assert.match(await page.locator('body').innerText(), /session has expired/);
});

test('a shared account sees the guest page and no log-off button', async () => {
  const { page } = browser;
  await logIn(page, board, SHARED);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  await frameAt(page, 'FRM22', /\/Vorbix\/ginfo\.html$/);
  await menu.locator('a', { hasText: 'General' }).waitFor();
  assert.equal(await menu.locator('input[value="Log off"]').count(), 0);
  assert.equal(await menu.locator('input[value="Administration"]').count(), 0);
});
