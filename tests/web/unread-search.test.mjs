// Unread messages, search, ID applications and batch upload in a real browser: mark two
// messages read and see them gone, search and open a hit, apply for an id and log in with it
// after the operator approved it, upload a batch file and open one of its messages.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import {
  MEMBER, OPERATOR, clickAndLoad, frameAt, logIn, useBoardAndBrowsers,
} from './lib.mjs';

let board, browser, scratch;
useBoardAndBrowsers({ scratch: 'board-batch-' }, (e) => ({ board, browser, scratch } = e));

// Logs in and presses a button of the folder menu; resolves to the right frame showing its job.
async function openFromMenu(page, user, label, job) {
  await logIn(page, board, user);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  await menu.locator(`input[type="submit"][value="${label}"]`).click();
  return frameAt(page, 'FRM22', new RegExp(`JOB=${job}(&|$)`));
}

async function boxes(frame) {
  return frame.locator('input[name="FOLSEL"]').evaluateAll((els) => els.map((e) => e.value));
}

test('mark two unread messages read and see them gone', async () => {
  const { page } = browser;
  const right = await openFromMenu(page, MEMBER, 'Unread messages', 'NRDETAILS');
  const before = await boxes(right);
  // The welcome note, bob's answer and bob's lunch question are unread for alice.
  assert.deepEqual(before, ['2,1', '3,2', '5,1']);
  assert.match(await right.locator('body').innerText(), /Lunch on Friday\?/);
  await right.check('input[name="FOLSEL"][value="2,1"]');
  await right.check('input[name="FOLSEL"][value="5,1"]');
  page.once('dialog', (d) => d.accept());
  await clickAndLoad(right, right.locator('input[type="submit"][value="Mark selected as read"]'));
  assert.deepEqual(await boxes(right), ['3,2']);
  assert.doesNotMatch(await right.locator('body').innerText(), /Lunch on Friday\?/);

  // "Select all" ticks the one left.
  await clickAndLoad(right, right.locator('input[type="submit"][value="Select all"]'));
  assert.ok(await right.isChecked('input[name="FOLSEL"][value="3,2"]'));
});

test('search the boards and open a hit', async () => {
  const { page } = browser;
  const right = await openFromMenu(page, MEMBER, 'Search', 'SEARCH');
  await right.fill('input[name="CONDITION"]', 'lunch');
  await clickAndLoad(right, right.locator('input[type="submit"][name="SUB"]'));
  const text = await right.locator('body').innerText();
  assert.match(text, /Search results/);
  // Only the message whose body holds the word: the search is case-sensitive.
  const hits = right.locator('a', { hasText: 'Lunch on Friday?' });
  assert.match(text, /Who joins for lunch on Friday\?/);
  assert.doesNotMatch(text, /Count me in\./);
  assert.doesNotMatch(text, /Staff room/);
  await clickAndLoad(right, hits.first());
  assert.match(await right.locator('body').innerText(), /Who joins for lunch on Friday\?/);
  assert.equal(await right.locator('input[type="submit"][value="Next"]').count(), 1);
});

test('apply for an id, approve it as operator and log in with it', async () => {
  const { page } = browser;
  const right = await openFromMenu(page, MEMBER, 'Apply for an ID', 'IDSINSEI');
  await right.fill('input[name="USER_ID"]', 'carol');
  await right.fill('input[name="USER_PASS"]', 'carol-pw');
  await right.fill('input[name="USER_NAME"]', 'Carol Jones');
  await right.fill('input[name="E_MAIL_ADDR"]', 'carol@example.org');
  await clickAndLoad(right, right.locator('input[type="submit"][name="SUB"]'));
  const list = await right.locator('body').innerText();
  assert.match(list, /carol\s+Carol Jones\s+Pending/);
  assert.doesNotMatch(list, /carol-pw/);

  // The operator opens the pending applications from the administration menu.
  const admin = await openFromMenu(page, OPERATOR, 'Administration', 'ADMIN');
  await admin.locator('input[type="submit"][value="Approve ID applications"]').click();
  const frame = await frameAt(page, 'FRM22', /JOB=IDSINSEIlist2/);
  await frame.check('input[name="USER_ID"][value="carol"]');
  await clickAndLoad(frame, frame.locator('input[type="submit"][name="SUB"]'));
  assert.equal(await frame.locator('input[name="USER_ID"]').count(), 0);

  await logIn(page, board, { id: 'carol', password: 'carol-pw' });
  const carolMenu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  await carolMenu.locator('a', { hasText: 'Lounge' }).waitFor();
  assert.equal(await carolMenu.locator('input[value="Unread messages"]').count(), 1);
});

test('upload a batch file and open one of its messages', async () => {
  const { page } = browser;
  const right = await openFromMenu(page, MEMBER, 'Batch upload', 'BATCH_UPLOAD');
  const file = path.join(scratch, 'batch.txt');
  fs.writeFileSync(file, [
    ';board5', 'res0', 'Batch news', 'pri0', 'First batch line', 'Second batch line', '..',
    'chk:1', 'htm:0',
    ';board5', 'res4', 'Batch reply', 'pri0', 'A reply from the file', '..', 'chk:1', 'htm:0',
    ';board4', 'res0', 'Not for alice', 'pri0', 'x', '..', 'chk:1', 'htm:0', '',
  ].join('\r\n'));
  await right.setInputFiles('input[name="FILE1"]', file);
  await clickAndLoad(right, right.locator('input[type="submit"][value="Upload"]'));
  const report = await right.locator('body').innerText();
  assert.match(report, /write board\[5\],res\[4\] Batch news/);
  assert.match(report, /write board\[5\],res\[5\] Batch reply/);
  assert.match(report, /board\[4\],res\[0\] You are not permitted/);
  // The upload temporary file is gone.
  const cgiDir = path.join(board.dir, 'cgi-bin');
  assert.deepEqual(fs.readdirSync(cgiDir).filter((n) => /^CGI\d+$/.test(n)), []);

  const menu = page.frame({ name: 'FRM21' });
  await menu.locator('a', { hasText: 'Lounge' }).click();
  const room = await frameAt(page, 'FRM22', /JOB=ROOM/);
  await clickAndLoad(room, room.locator('a', { hasText: 'Batch news' }));
  const detail = await room.locator('body').innerText();
  assert.match(detail, /First batch line\s+Second batch line/);
  assert.match(detail, /Re:\^1:Batch reply/);
});
