// The board under lighttpd on loopback, spoken to with plain HTTP: login with a POST, the
// frameset and the menu through the session key, the static files the pages name, and what
// the server must never serve or execute.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { MEMBER, OPERATOR, PROGRAM_URL, SHARED, login, programLink, request, startBoard }
  from './lib.mjs';

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

describe('what the server serves', () => {
  test('record files, settings and upload temporary files are refused', async () => {
    fs.writeFileSync(path.join(board.dir, 'cgi-bin', 'CGI0'), 'upload-in-progress');
    const secret = fs.readFileSync(path.join(board.dir, 'data', 'user.mst'), 'latin1');
    assert.match(secret, /Secret1/);
    for (const url of ['/cgi-bin/CGI0', '/cgi-bin/boardcgi.ini', '/cgi-bin/english.lng',
      '/cgi-bin/', '/data/user.mst', '/Vorbix/../data/user.mst', '/files/../data/user.mst',
      '/Vorbix/%2e%2e/data/user.mst', '/Vorbix/..%2fdata/user.mst', '/cgi-bin/boardcgi.cgi/x',
      '/lighttpd.conf', '/tmp/', '/board/data/user.mst', '/Vorbix/']) {
      const res = await request(board, url);
      assert.ok(res.status === 403 || res.status === 404, `${url}: ${res.status}`);
      assert.doesNotMatch(res.text, /Secret1|upload-in-progress|DATA_FILE_PATH/, url);
    }
  });

  test('attachments are sent by the program to readers only, never served or run', async () => {
    // An attachment record (260 bytes: message, slot, name) for message 1 of "Questions"
    // (folder 3, open to members) and of "Staff room" (folder 4, level 50 and above).
    const attach = (folder, name, text) => {
      const dir = path.join(board.dir, 'files', String(folder), 'X1', '1');
      fs.mkdirSync(dir, { recursive: true });
      fs.writeFileSync(path.join(dir, name), text, { mode: 0o755 });
      const record = Buffer.alloc(260);
      record.writeInt32LE(1, 0);
      record.writeInt32LE(1, 4);
      record.write(name, 8, 'latin1');
      fs.writeFileSync(path.join(board.dir, 'data', String(folder), 'add_file.dat'), record);
    };
    const marker = path.join(board.dir, 'ran');
    const script = `#!/bin/sh\ntouch ${marker}\necho "Content-type: text/plain"\necho\necho RAN\n`;
    const page = '<script>parent.document.title = "RAN"</script>\n';
    attach(3, 'evil.html', page);
    attach(4, 'evil.cgi', script);

    // The attachment directory is not served at all, so nothing in it can run.
    for (const url of ['/files/3/X1/1/evil.html', '/files/4/X1/1/evil.cgi', '/files/']) {
      const res = await request(board, url);
      assert.ok(res.status === 403 || res.status === 404, `${url}: ${res.status}`);
      assert.doesNotMatch(res.text, /RAN/, url);
    }
    assert.equal(fs.existsSync(marker), false);

    const job = (skey, folder) =>
      `${PROGRAM_URL}?SKEY=${skey}&JOB=ATTACHMENT&FOLDER_NO=${folder}&SEL_NO=1&ADD_NO=1`;
    const member = await login(board, MEMBER);
    const got = await request(board, job(member.skey, 3));
    assert.equal(got.status, 200);
    assert.equal(got.body.toString(), page);
    assert.equal(got.headers['content-type'], 'application/octet-stream');
    assert.equal(got.headers['content-disposition'], 'attachment; filename="evil.html"');
    assert.equal(got.headers['x-content-type-options'], 'nosniff');
    assert.equal(got.headers['cache-control'], 'no-store');
    assert.match(got.headers['content-security-policy'], /sandbox/);
    // Without a session, or without the rights on the folder, the file stays where it is.
    const anonymous = await request(board, job('', 3));
    assert.match(anonymous.text, /NAME="upw"/);
    const staff = await request(board, job(member.skey, 4));
    assert.match(staff.headers['content-type'], /^text\/html/);
    assert.doesNotMatch(staff.text, /RAN/);
    const operator = await login(board, OPERATOR);
    assert.equal((await request(board, job(operator.skey, 4))).body.toString(), script);
    assert.equal(fs.existsSync(marker), false);

    // Pictures that users upload into the web directory (user and folder pictures) are
    // sandboxed; the installation's own pages are not.
    for (const sub of ['userpic/alice', '12']) {
      fs.mkdirSync(path.join(board.dir, 'www', sub), { recursive: true });
      fs.writeFileSync(path.join(board.dir, 'www', sub, 'p.html'), page);
      const res = await request(board, `/Vorbix/${sub}/p.html`);
      assert.equal(res.status, 200, sub);
      assert.equal(res.headers['x-content-type-options'], 'nosniff', sub);
      assert.equal(res.headers['content-security-policy'], 'sandbox', sub);
    }
    const own = await request(board, '/Vorbix/info.html');
    assert.equal(own.headers['content-security-policy'], undefined);
    assert.equal(own.headers['content-type'], 'text/html; charset=Shift_JIS');
  });

  test('only the program URL executes: a script in the web directory is a plain file', async () => {
    const text = '#!/bin/sh\necho "Content-type: text/plain"\necho\necho RAN\n';
    fs.writeFileSync(path.join(board.dir, 'www', 'x.cgi'), text, { mode: 0o755 });
    const res = await request(board, '/Vorbix/x.cgi');
    assert.equal(res.status, 200);
    assert.equal(res.body.toString(), text);
    // A copy of the program under another name in its own directory is not reachable.
    fs.copyFileSync(path.join(board.dir, 'cgi-bin', 'boardcgi.cgi'),
      path.join(board.dir, 'cgi-bin', 'other.cgi'));
    fs.chmodSync(path.join(board.dir, 'cgi-bin', 'other.cgi'), 0o755);
    const other = await request(board, '/cgi-bin/other.cgi');
    assert.equal(other.status, 403);
  });
});
