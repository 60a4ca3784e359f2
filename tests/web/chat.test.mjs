// A chat room in two real browsers at once: a member and a shared account enter the demo's
// chat room, talk, see each other's lines when the log frame reloads, and leave.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  MEMBER, SHARED, clickAndLoad, frameAt, logIn, screenshotPath, useBoardAndBrowsers,
} from './lib.mjs';

let board, browsers;
useBoardAndBrowsers({ browsers: 2 }, (e) => ({ board, browsers } = e));

// The text of a frame's body once it matches pattern; the frame may reload meanwhile.
async function waitForText(page, name, pattern, timeout = 20000) {
  const deadline = Date.now() + timeout;
  let text = '';
  for (;;) {
    try {
      const frame = page.frame({ name });
      if (frame) text = await frame.locator('body').innerText({ timeout: 1000 });
    } catch { /* between two documents */ }
    if (pattern.test(text)) return text;
    if (Date.now() > deadline) throw new Error(`frame ${name} never showed ${pattern}:\n${text}`);
    await page.waitForTimeout(200);
  }
}

// Logs in, opens the chat room from the menu; resolves to the input frame.
async function openRoom(page, user) {
  await logIn(page, board, user);
  const menu = await frameAt(page, 'FRM21', /JOB=FRM21/);
  await menu.locator('a', { hasText: 'Chat room' }).click();
  await frameAt(page, 'CHAT2', /JOB=CHAT_DOWN/);
  return frameAt(page, 'CHAT1', /JOB=CHAT_UP/);
}

async function say(page, input, line) {
  await input.fill('input[name="MTALK"]', line);
  await input.locator('input[type="submit"][value="Send"]').click();
  // The input is cleared for the next line, and the own log shows the line at once.
  await waitForText(page, 'CHAT2', new RegExp(line), 5000);
  assert.equal(await input.inputValue('input[name="MTALK"]'), '');
}

test('two users enter, talk, see the other after a reload, and leave', async () => {
  const [alice, guest] = browsers.map((b) => b.page);
  const failed = [];
  for (const p of [alice, guest]) {
    p.on('response', (r) => { if (r.status() >= 400) failed.push(`${r.status()} ${r.url()}`); });
  }

  // The member's name is fixed; the colour and the shortest reload are chosen.
  const aliceInput = await openRoom(alice, MEMBER);
  assert.match(await aliceInput.locator('body').innerText(), /NameAlice Martin/);
  await aliceInput.selectOption('select[name="COLOR_LIST"]', 'RED');
  assert.equal(await aliceInput.inputValue('input[name="COLOR"]'), 'RED');
  await aliceInput.selectOption('select[name="RELOAD_TIME"]', '10');
  await clickAndLoad(aliceInput, aliceInput.locator('input[type="submit"][value="Enter"]'));
  assert.match(await aliceInput.locator('body').innerText(), /Reload \(seconds\)\[10\]/);

  // The shared account must type a name first.
  const guestInput = await openRoom(guest, SHARED);
  let alert = null;
  guest.once('dialog', async (d) => { alert = d.message(); await d.dismiss(); });
  await guestInput.locator('input[type="submit"][value="Enter"]').click();
  await guest.waitForTimeout(300);
  assert.equal(alert, 'Please enter a name.');
  await guestInput.fill('input[name="USER_NAME"]', 'Visitor <b>');
  await guestInput.selectOption('select[name="RELOAD_TIME"]', '10');
  await clickAndLoad(guestInput, guestInput.locator('input[type="submit"][value="Enter"]'));

  // The guest's log frame takes the short reload with its first line.
  await say(guest, guestInput, 'hello from the guest');
  await say(alice, aliceInput, 'hello from alice');
  const seen = await waitForText(guest, 'CHAT2', /hello from alice/);
  // Newest first; the member's line has the dot; the typed name stays text.
  assert.match(seen, /\.Alice Martin > hello from alice[^\n]*\n+Visitor <b> > hello from the guest/);
  assert.match(seen, /Visitor <b> has entered the room\.\(\d{4}\/\d\d\/\d\d \d\d:\d\d\.\d\d\)\(127\.0\.0\.1\)/);
  assert.match(seen, /\.Alice Martin has entered the room\./);
  const shot = screenshotPath('chat.png');
  if (shot) await guest.screenshot({ path: shot });

  // Both leave: the input frames show the entry form again, and the log tells it.
  await clickAndLoad(aliceInput, aliceInput.locator('input[type="submit"][value="Leave"]'));
  await clickAndLoad(guestInput, guestInput.locator('input[type="submit"][value="Leave"]'));
  assert.equal(await guestInput.inputValue('input[name="USER_NAME"]'), 'Visitor <b>');
  await aliceInput.locator('input[type="submit"][value="Enter"]').waitFor();
  const log = await waitForText(alice, 'CHAT2', /Visitor <b> has left the room/);
  assert.match(log, /System > Visitor <b> has left the room\.[^\n]*\n+System > \.Alice Martin has left the room\./);
  assert.deepEqual(failed, []);
});
