// Administration in a real browser: the system language switched from the settings page, a
// user created with a group membership and a picture who then writes a message, a member
// editing his own profile, and a deleted user whose session ends.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import {
  MEMBER, OPERATOR, clickAndLoad, frameAt, logIn, useBoardAndBrowsers,
} from './lib.mjs';

// A 1x1 PNG.
const PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==', 'base64');
const CAROL = { id: 'carol', password: 'carolpw' };

let board, browser, scratch;
let carolPage;
useBoardAndBrowsers({ board: { language: 'japan.lng' }, scratch: 'board-admin-' },
  (e) => ({ board, browser, scratch } = e));

// The submit button of the form that sends JOB=job (independent of the page's language).
function jobButton(frame, job) {
  return frame.locator(`form:has(input[name="JOB"][value="${job}"]) input[type="submit"]`).first();
}

// Logs in and opens a page of the menu frame in the right frame.
async function openFromMenu(page, user, job) {
  await logIn(page, board, user);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  await jobButton(menu, job).click();
  return frameAt(page, 'FRM22', new RegExp(`JOB=${job}\\b`));
}

// The operator's administration menu, then one of its pages (they open by GET).
async function openAdminPage(page, job) {
  const admin = await openFromMenu(page, OPERATOR, 'ADMIN');
  await jobButton(admin, job).click();
  return frameAt(page, 'FRM22', new RegExp(`JOB=${job}\\b`));
}

test('the operator switches the system language and sees the settings in it', async () => {
  const { page } = browser;
  const right = await openAdminPage(page, 'SYSTEM');
  assert.equal(await right.inputValue('input[name="LANGUAGE"]'), 'japan.lng');
  assert.doesNotMatch(await right.locator('body').innerText(), /System settings/);
  await right.fill('input[name="LANGUAGE"]', 'english.lng');
  await clickAndLoad(right, jobButton(right, 'SYSTEMUPDATE'));
  assert.match(await right.locator('body').innerText(), /^System settings/);
  assert.equal(await right.inputValue('input[name="LANGUAGE"]'), 'english.lng');
  assert.match(fs.readFileSync(path.join(board.dir, 'cgi-bin', 'boardcgi.ini'), 'latin1'),
    /^LANGUAGE,english\.lng,$/m);
});

test('a new user with a group and a picture writes a message that shows his picture', async () => {
  const { page, context } = browser;
  const list = await openAdminPage(page, 'USERLIST');
  await clickAndLoad(list, list.locator('input[type="submit"][value="New user"]'));
  const form = list;
  await form.fill('input[name="USER_ID"]', CAROL.id);
  await form.fill('input[name="USER_PASS"]', CAROL.password);
  await form.fill('input[name="USER_NAME"]', 'Carol King');
  await form.fill('input[name="USER_LEVEL"]', '10');
  const picture = path.join(scratch, 'carol.png');
  fs.writeFileSync(picture, PNG);
  await form.setInputFiles('input[name="FILE1"]', picture);
  await clickAndLoad(form, form.locator('input[name="SUB1"]'));
  // The edit page of the new user follows; give him a group.
  assert.match(await form.locator('body').innerText(), /Edit user/);
  assert.equal(await form.inputValue('input[name="PICFILE"]'), 'carol.png');
  await form.selectOption('select[name="GROUPLIST"]', { label: 'Members' });
  await clickAndLoad(form, form.locator('input[name="GROUP_IN"]'));
  assert.deepEqual(await form.locator('select[name="NOWGROUP"] option').allInnerTexts(),
    ['Members']);

  // Carol logs in in a page of her own and writes in the Lounge.
  carolPage = await context.newPage();
  await logIn(carolPage, board, CAROL);
  const menu = await frameAt(carolPage, 'FRM21', /JOB=FRM21/);
  await menu.locator('a', { hasText: 'Lounge' }).click();
  const right = await frameAt(carolPage, 'FRM22', /JOB=ROOM/);
  await clickAndLoad(right, right.locator('input[type="submit"][value="New message"]').first());
  await right.fill('input[name="WRITE_TITLE"]', 'Hello from Carol');
  await right.fill('textarea[name="WRITE_DATA"]', 'Nice to meet you all.');
  await clickAndLoad(right, right.locator('input[type="submit"][value="Post"]'));
  await clickAndLoad(right, right.locator('a', { hasText: 'Hello from Carol' }));
  const img = right.locator('img[src$="userpic/carol/carol.png"]');
  await img.waitFor();
  assert.ok(await img.evaluate((el) => el.complete && el.naturalWidth === 1));
});

test('a member changes his own display mode and name', async () => {
  const page = await browser.context.newPage();
  try {
    const right = await openFromMenu(page, MEMBER, 'MYDATA');
    await right.fill('input[name="USER_NAME"]', 'Alice M.');
    await right.selectOption('select[name="USER_DISP_DEF"]', '3');
    await clickAndLoad(right, right.locator('input[name="SUB1"]'));
    assert.equal(await right.inputValue('input[name="USER_NAME"]'), 'Alice M.');
    assert.equal(await right.inputValue('select[name="USER_DISP_DEF"]'), '3');
    // Kept for the next session as well.
    const again = await openFromMenu(page, MEMBER, 'MYDATA');
    assert.equal(await again.inputValue('input[name="USER_NAME"]'), 'Alice M.');
    assert.equal(await again.inputValue('select[name="USER_DISP_DEF"]'), '3');
    assert.match(await again.locator('body').innerText(), /Number descending/);
  } finally {
    await page.close();
  }
});

test('the operator deletes the user and the user\'s session stops working', async () => {
  const { page } = browser;
  const list = await openAdminPage(page, 'USERLIST');
  await clickAndLoad(list, list.locator('input[type="submit"][value="By user ID"]'));
  await clickAndLoad(list, list.locator('a', { hasText: CAROL.id }));
  let question = null;
  page.once('dialog', async (d) => { question = d.message(); await d.accept(); });
  await clickAndLoad(list, list.locator('input[name="SUB3"]'));
  assert.equal(question, 'Do you want to delete this user?');
  assert.equal(await list.locator('a', { hasText: CAROL.id }).count(), 0);

  // Carol's next click finds her session gone.
  const menu = await frameAt(carolPage, 'FRM21', /JOB=FRM21/);
  await menu.locator('a', { hasText: 'Lounge' }).click();
  const right = await frameAt(carolPage, 'FRM22', /JOB=ROOM/);
  await right.waitForLoadState('load');
  assert.match(await right.locator('body').innerText(), /Your session has expired/);
});
