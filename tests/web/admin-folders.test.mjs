// The operator shapes the folder tree in a real browser: creates a directory with a board in
// it, moves it, sets the board's colours and information text, lets one group read it, and
// finally deletes the directory; a member of that group sees the board come and go in the menu.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  MEMBER, OPERATOR, clickAndLoad, frameAt, logIn, useBoardAndBrowsers,
} from './lib.mjs';

let board, browser;
useBoardAndBrowsers({}, (e) => ({ board, browser } = e));

const submit = (page, label) => page.locator(`input[type="submit"][value="${label}"]`).first();

// The folder table's rows as "position number name" texts.
async function folderRows(page) {
  const rows = await page.locator('table[border]').first().locator('tr').allInnerTexts();
  return rows.slice(1).map((r) => r.replace(/\s+/g, ' ').trim());
}

// The member's folder menu as it now stands, with the named directory opened.
async function menuTexts(page, openDirectory) {
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  await menu.goto(menu.url().replace(/&DISP_NO=\d+/g, ''));
  const dir = menu.locator('a', { hasText: openDirectory });
  if (await dir.count() > 0) {
    await Promise.all([menu.waitForNavigation(), dir.click()]);
    await menu.waitForLoadState('load');
  }
  return (await menu.locator('a').allInnerTexts()).map((t) => t.trim());
}

test('operator builds, moves, configures, grants and deletes folders', async () => {
  const { page: admin, context } = browser;
  const failed = [];
  admin.on('response', (r) => { if (r.status() >= 400) failed.push(`${r.status()} ${r.url()}`); });
  admin.on('dialog', (d) => d.accept());
  await logIn(admin, board, OPERATOR);
  const skey = /SKEY=(\d+)/.exec((await frameAt(admin, 'FRM21', /JOB=FRM21/)).url())[1];
  await admin.goto(`${board.programUrl}?SKEY=${skey}&JOB=FOLDERLIST`);

  // A directory at the end of the list, then a board inside it.
  await clickAndLoad(admin, submit(admin, 'New folder'));
  await admin.selectOption('select[name="MODE"]', '1');
  await admin.fill('input[name="NAME"]', 'Projects');
  await clickAndLoad(admin, submit(admin, 'Create'));
  assert.equal((await folderRows(admin)).at(-1), '7 7 Projects');
  await clickAndLoad(admin, submit(admin, 'New folder'));
  await admin.selectOption('select[name="DISPNO"]', '7');
  await admin.selectOption('select[name="CLASS"]', '2');
  await admin.selectOption('select[name="MODE"]', '2');
  await admin.fill('input[name="NAME"]', 'Plans');
  await clickAndLoad(admin, submit(admin, 'Create'));

  // Moved to the top of the list, with its board.
  await clickAndLoad(admin, admin.locator('a:has(img[alt="Projects"][src$="bot0003.gif"])'));
  await admin.selectOption('select[name="DISPNO"]', '0');
  await clickAndLoad(admin, submit(admin, 'Move'));
  assert.deepEqual((await folderRows(admin)).slice(0, 3), ['1 7 Projects', '2 8 Plans', '3 1 General']);

  // The board's colours and information text.
  await clickAndLoad(admin, admin.locator('a:has(img[alt="Plans"][src$="bot0001.gif"])'));
  await admin.fill('input[name="FONTCOLOR"]', 'cc0000');
  await admin.fill('textarea[name="INFO"]', 'Plans for <b>next year</b>');
  await clickAndLoad(admin, submit(admin, 'Save'));
  assert.equal(await admin.inputValue('input[name="FONTCOLOR"]'), 'cc0000');
  assert.equal(await admin.inputValue('textarea[name="INFO"]'), 'Plans for <b>next year</b>');

  // Levels nobody reaches, so that only the group grant opens the board.
  await clickAndLoad(admin, submit(admin, 'Back'));
  await clickAndLoad(admin, admin.locator('a:has(img[alt="Plans"][src$="bot0002.gif"])'));
  await admin.fill('input[name="READ_LEVEL"]', '99');
  await admin.fill('input[name="WRITE_LEVEL"]', '99');
  await clickAndLoad(admin, submit(admin, 'Set levels'));

  const member = await context.newPage();
  await logIn(member, board, MEMBER);
  assert.ok((await menuTexts(member, 'Projects')).includes('Projects'));
  assert.ok(!(await menuTexts(member, 'Projects')).includes('Plans'));

  await admin.selectOption('select[name="GROUPLIST"]', '1');
  await admin.selectOption('select[name="GROUPMODE"]', '1');
  await clickAndLoad(admin, admin.locator('input[name="GROUP_ADD"]'));
  assert.deepEqual(await admin.locator('select[name="NOWGROUP"] option').allInnerTexts(),
    ['Members[Read]']);

  assert.ok((await menuTexts(member, 'Projects')).includes('Plans'));
  const menu = await frameAt(member, 'FRM21', /JOB=FRM21/);
  await menu.locator('a', { hasText: 'Plans' }).click();
  const room = await frameAt(member, 'FRM22', /JOB=ROOM/);
  const info = room.locator('font[color="#cc0000"]', { hasText: 'Plans for next year' });
  await info.waitFor();
  assert.equal(await info.locator('b').innerText(), 'next year');

  // Deleting the directory takes the board with it.
  await clickAndLoad(admin, submit(admin, 'Folder list'));
  await clickAndLoad(admin, submit(admin, 'Delete folder'));
  await admin.selectOption('select[name="DISPNO"]', '1');
  await clickAndLoad(admin, submit(admin, 'Delete folder'));
  const rows = await folderRows(admin);
  assert.equal(rows[0], '1 1 General');
  assert.ok(!rows.some((r) => /Projects|Plans/.test(r)));
  const after = await menuTexts(member, 'Projects');
  assert.ok(!after.includes('Projects') && !after.includes('Plans'));
  assert.deepEqual(failed, []);
});
