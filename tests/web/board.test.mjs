// Writing on a board in a real browser: a new thread with an attachment, a reply and its thread
// table, editing and deleting one's own message, and posting from the separate posting window.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import {
  MEMBER, clickAndLoad, frameAt, logIn, programLink, request, screenshotPath, useBoardAndBrowsers,
} from './lib.mjs';

let board, browser, scratch;
useBoardAndBrowsers({ scratch: 'board-upload-' }, (e) => ({ board, browser, scratch } = e));

// Logs in and opens the Lounge board in the right frame; resolves to that frame.
async function openLounge(page, user) {
  await logIn(page, board, user);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  const lounge = menu.locator('a', { hasText: 'Lounge' });
  await lounge.waitFor();
  await lounge.click();
  const right = await frameAt(page, 'FRM22', /JOB=ROOM/);
  await right.locator('input[type="submit"][value="New message"]').first().waitFor();
  return right;
}

async function fillPosting(frame, title, text) {
  await frame.fill('input[name="WRITE_TITLE"]', title);
  await frame.fill('textarea[name="WRITE_DATA"]', text);
}

test('post, attach, reply, edit and delete in the same frame', async () => {
  const { page } = browser;
  const failed = [];
  page.on('response', (r) => { if (r.status() >= 400) failed.push(`${r.status()} ${r.url()}`); });
  const right = await openLounge(page, MEMBER);

  // A new thread with an attachment.
  await clickAndLoad(right, right.locator('input[type="submit"][value="New message"]').first());
  assert.match(await right.locator('body').innerText(), /Lounge New message/);
  await fillPosting(right, 'Plans for the trip', 'Where shall we go?\nAny ideas welcome.');
  const upload = path.join(scratch, 'route.txt');
  fs.writeFileSync(upload, 'Day 1: the lake\nDay 2: the hills\n');
  await right.setInputFiles('input[name="FILE1"]', upload);
  await clickAndLoad(right, right.locator('input[type="submit"][value="Post"]'));
  const topic = right.locator('a', { hasText: 'Plans for the trip' });
  await topic.waitFor();

  // The detail page lists the attachment with its size; its link has the program send the
  // file as a download (the same browser identification, so the member's session holds).
  await clickAndLoad(right, topic);
  const attachment = right.locator('a', { hasText: 'route.txt' });
  assert.match(await attachment.innerText(), /^route\.txt \(33 byte\)$/);
  const response = await request(board, programLink(await attachment.getAttribute('href')));
  assert.equal(response.status, 200);
  assert.equal(response.headers['content-disposition'], 'attachment; filename="route.txt"');
  assert.equal(response.text, 'Day 1: the lake\nDay 2: the hills\n');

  // A reply starts with the quoted text and shows up in the thread table.
  await clickAndLoad(right, right.locator('input[type="submit"][value="Reply"]'));
  assert.equal(await right.inputValue('input[name="WRITE_TITLE"]'), 'Plans for the trip');
  assert.match(await right.inputValue('textarea[name="WRITE_DATA"]'),
    /^>Where shall we go\?\n>Any ideas welcome\.$/);
  await fillPosting(right, 'The lake, of course', 'Swimming!');
  await clickAndLoad(right, right.locator('input[type="submit"][value="Post"]'));
  const reply = right.locator('a', { hasText: 'The lake, of course' });
  await reply.waitFor();
  assert.match(await reply.innerText(), /^Re:\^1:The lake, of course$/);
  await clickAndLoad(right, reply);
  const thread = right.locator('table', { hasText: 'NowDisp' }).last();
  const rows = await thread.locator('tr').allInnerTexts();
  assert.equal(rows.length, 3, rows.join('|'));
  assert.match(rows[0], /Thread/);
  assert.match(rows[1], /Plans for the trip/);
  assert.match(rows[2], /NowDisp\s+Re:\^1:The lake, of course/);
  const shot = screenshotPath('board-thread.png');
  if (shot) await page.screenshot({ path: shot });

  // Editing one's own reply: the form comes filled, the list shows the new title.
  await clickAndLoad(right, right.locator('input[type="submit"][value="Edit"]'));
  assert.equal(await right.inputValue('input[name="WRITE_TITLE"]'), 'The lake, of course');
  assert.equal(await right.inputValue('textarea[name="WRITE_DATA"]'), 'Swimming!');
  await fillPosting(right, 'The lake or the sea', 'Swimming, anyway.');
  await clickAndLoad(right, right.locator('input[type="submit"][value="Post"]'));
  const edited = right.locator('a', { hasText: 'The lake or the sea' });
  await edited.waitFor();
  assert.equal(await right.locator('a', { hasText: 'The lake, of course' }).count(), 0);

  // Deleting it asks first; declining keeps it, confirming removes it from the list.
  await clickAndLoad(right, edited);
  assert.match(await right.locator('body').innerText(), /Swimming, anyway\./);
  const remove = right.locator('input[type="submit"][value="Delete"]');
  let question = null;
  page.once('dialog', async (d) => { question = d.message(); await d.dismiss(); });
  await remove.click();
  await page.waitForTimeout(300);
  assert.equal(question, 'Do you want to delete this message?');
  assert.match(await right.locator('body').innerText(), /Swimming, anyway\./);
  page.once('dialog', (d) => d.accept());
  await clickAndLoad(right, remove);
  await right.locator('a', { hasText: 'Plans for the trip' }).waitFor();
  assert.equal(await right.locator('a', { hasText: 'The lake or the sea' }).count(), 0);
  assert.deepEqual(failed, []);
});

test('posting in the separate window, which closes itself afterwards', async () => {
  // bob writes in his own posting window.
  const users = path.join(board.dir, 'data', 'user.mst');
  const lines = fs.readFileSync(users, 'latin1').split('\r\n');
  const at = lines.findIndex((l) => l.startsWith('bob,'));
  assert.ok(at >= 0);
  const fields = lines[at].split(',');
  fields[8] = '2';  // WRITE_MODE
  lines[at] = fields.join(',');
  fs.writeFileSync(users, lines.join('\r\n'), 'latin1');

  const { page, context } = browser;
  const right = await openLounge(page, { id: 'bob', password: 'bob' });
  const [popup] = await Promise.all([
    context.waitForEvent('page'),
    right.locator('input[type="submit"][value="New message"]').first().click(),
  ]);
  await popup.waitForLoadState('load');
  await popup.locator('input[name="WRITE_TITLE"]').waitFor();
  assert.equal(await popup.evaluate(() => window.name), 'WBORDWRITE');
  // The separate window has no back button.
  assert.equal(await popup.locator('input[type="button"]').count(), 0);

  await fillPosting(popup, 'Written in its own window', 'Hello from the posting window.');
  const closed = popup.waitForEvent('close', { timeout: 15000 });
  await Promise.all([right.waitForNavigation(),
    popup.locator('input[type="submit"][value="Post"]').click()]);
  await closed;
  assert.ok(popup.isClosed());
  await right.locator('a', { hasText: 'Written in its own window' }).waitFor();
});
