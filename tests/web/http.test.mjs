// The board under lighttpd on loopback, spoken to with plain HTTP: login with a POST, the
// frameset and the menu through the session key, the static files the pages name, and what
// the server must never serve or execute.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';

import { MEMBER, OPERATOR, PROGRAM_URL, SHARED, login, programLink, request, startBoard }
  from './lib.mjs';
import { describeServerRules } from './server-rules.mjs';

let board;
before(async () => { board = await startBoard(); });
after(async () => { if (board) await board.stop(); });

const srcOf = (html, tag) => [...html.matchAll(new RegExp(`<${tag}[^>]*SRC\\s*=\\s*"([^"]+)"`,
  'gi'))].map((m) => m[1]);

describe('login and session', () => {
  test('a request without fields shows the login page', async () => {
    const res = await request(board, PROGRAM_URL);
    assert.equal(res.status, 200);
    assert.match(res.headers['content-type'], /^text\/html/);
    // Pages carry the session key in their URLs: never stored, never framed by other sites.
    assert.equal(res.headers['cache-control'], 'no-store');
    assert.equal(res.headers['content-security-policy'], "frame-ancestors 'self'");
    assert.match(res.text, /<INPUT TYPE="text" NAME="uid"/);
    assert.match(res.text, /<FORM ACTION="boardcgi.cgi" METHOD=POST >/);
    // The bare address leads there too.
    const root = await request(board, '/');
    assert.equal(root.status, 301);
    assert.equal(root.headers.location, PROGRAM_URL);
  });

  test('a wrong password gives the login page again, without a session', async () => {
    const res = await login(board, { id: OPERATOR.id, password: 'secret1' });
    assert.equal(res.status, 200);
    assert.equal(res.skey, null);
    assert.match(res.text, /NAME="upw"/);
  });

  test('POST login, frameset, and the menu followed with its SKEY', async () => {
    const res = await login(board, { id: OPERATOR.id.toUpperCase(), password: OPERATOR.password });
    assert.equal(res.status, 200);
    assert.ok(res.skey, res.text);
    assert.match(res.text, /<FRAMESET COLS="20%,\*" >/);
    const frames = srcOf(res.text, 'FRAME');
    assert.deepEqual(frames, [`boardcgi.cgi?SKEY=${res.skey}&JOB=FRM21`, '/Vorbix/info.html']);

    const menu = await request(board, programLink(frames[0]));
    assert.equal(menu.status, 200);
    // The operator sees every top-level folder, the closed directory's link opens it, and the
    // member-account buttons include log-off.
    assert.match(menu.text, /ALT="General" BORDER=0>/);
    assert.match(menu.text, /ALT="Lounge" BORDER=0>/);
    assert.match(menu.text, /ALT="Chat room" BORDER=0>/);
    assert.doesNotMatch(menu.text, /Announcements/);
    assert.match(menu.text, /name="JOB" value="ADMIN"/);
    assert.match(menu.text, /name="JOB" value="LOGOFF"/);
    const open = /<A HREF="([^"]*JOB=FRM21&DISP_NO=1)">/.exec(menu.text);
    assert.ok(open, menu.text);

    const opened = await request(board, programLink(open[1]));
    assert.match(opened.text, /ALT="Announcements" BORDER=0>/);
    assert.match(opened.text, /ALT="Staff room" BORDER=0>/);
    assert.match(opened.text, new RegExp(`boardcgi.cgi\\?SKEY=${res.skey}&JOB=ROOM&FOLDER_NO=2&`));

    // Every picture and page the frameset and the menu name is there.
    const named = [...frames.slice(1), ...srcOf(opened.text, 'IMG'), ...srcOf(opened.text, 'BODY')];
    const body = /BACKGROUND="([^"]+)"/.exec(opened.text);
    if (body) named.push(body[1]);
    for (const url of new Set(named)) {
      const file = await request(board, url);
      assert.equal(file.status, 200, url);
      assert.equal(file.headers['x-content-type-options'], 'nosniff', url);
      assert.match(file.headers['content-type'], /^(image\/gif|text\/html; charset=Shift_JIS)$/,
        url);
    }
  });

  test('a member with a new key: the old key shows the expired page', async () => {
    const first = await login(board, MEMBER);
    const second = await login(board, MEMBER);
    assert.ok(first.skey && second.skey);
    assert.notEqual(first.skey, second.skey);
    const stale = await request(board, `${PROGRAM_URL}?SKEY=${first.skey}&JOB=FRM21`);
    assert.match(stale.text, /METHOD=POST TARGET="_parent">/);
    assert.doesNotMatch(stale.text, /JOB=FRM21/);
    const fresh = await request(board, `${PROGRAM_URL}?SKEY=${second.skey}&JOB=FRM21`);
    assert.match(fresh.text, /ALT="General"/);
    // The member does not see the staff board even with its directory open.
    const open = await request(board,
      `${PROGRAM_URL}?SKEY=${second.skey}&JOB=FRM21&DISP_NO=1`);
    assert.match(open.text, /ALT="Questions"/);
    assert.doesNotMatch(open.text, /Staff room/);
  });

  test('a shared account shares its key and has no log-off', async () => {
    const a = await login(board, SHARED);
    const b = await login(board, SHARED);
    assert.ok(a.skey);
    assert.equal(a.skey, b.skey);
    assert.match(a.text, /NAME="FRM22"/);
    assert.match(a.text, /\/Vorbix\/ginfo\.html/);
    const menu = await request(board, `${PROGRAM_URL}?SKEY=${a.skey}&JOB=FRM21`);
    assert.doesNotMatch(menu.text, /value="LOGOFF"/);
  });

  test('an unknown job leaves the browser where it is (204)', async () => {
    const { skey } = await login(board, OPERATOR);
    const res = await request(board, `${PROGRAM_URL}?SKEY=${skey}&JOB=room`);
    assert.equal(res.status, 204);
    assert.equal(res.body.length, 0);
  });
});

describeServerRules('lighttpd', () => board);
