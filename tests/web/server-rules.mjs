// What a web server configuration written by boardinstall must do, checked over HTTP against
// a running installation (lighttpd.conf and apache2.conf alike): only the program runs, the
// data and working directories and the attachments are never served, uploaded pictures are
// sandboxed, and attachments reach readers through the program alone.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';

import { MEMBER, OPERATOR, PROGRAM_URL, login, request } from './lib.mjs';

// Registers the checks; board() gives the running installation (from startBoard).
export function describeServerRules(server, board) {
  describe(`what ${server} serves`, () => {
    test('record files, settings and upload temporary files are refused', async () => {
      fs.writeFileSync(path.join(board().dir, 'cgi-bin', 'CGI0'), 'upload-in-progress');
      const secret = fs.readFileSync(path.join(board().dir, 'data', 'user.mst'), 'latin1');
      assert.match(secret, /Secret1/);
      for (const url of ['/cgi-bin/CGI0', '/cgi-bin/boardcgi.ini', '/cgi-bin/english.lng',
        '/cgi-bin/', '/data/user.mst', '/Vorbix/../data/user.mst', '/files/../data/user.mst',
        '/Vorbix/%2e%2e/data/user.mst', '/Vorbix/..%2fdata/user.mst', '/cgi-bin/boardcgi.cgi/x',
        '/lighttpd.conf', '/tmp/', '/board/data/user.mst', '/Vorbix/']) {
        const res = await request(board(), url);
        assert.ok(res.status === 403 || res.status === 404, `${url}: ${res.status}`);
        assert.doesNotMatch(res.text, /Secret1|upload-in-progress|DATA_FILE_PATH/, url);
      }
    });

    test('attachments are sent by the program to readers only, never served or run', async () => {
      // An attachment record (260 bytes: message, slot, name) for message 1 of "Questions"
      // (folder 3, open to members) and of "Staff room" (folder 4, level 50 and above).
      const attach = (folder, name, text) => {
        const dir = path.join(board().dir, 'files', String(folder), 'X1', '1');
        fs.mkdirSync(dir, { recursive: true });
        fs.writeFileSync(path.join(dir, name), text, { mode: 0o755 });
        const record = Buffer.alloc(260);
        record.writeInt32LE(1, 0);
        record.writeInt32LE(1, 4);
        record.write(name, 8, 'latin1');
        fs.writeFileSync(path.join(board().dir, 'data', String(folder), 'add_file.dat'), record);
      };
      const marker = path.join(board().dir, 'ran');
      const script = `#!/bin/sh\ntouch ${marker}\necho "Content-type: text/plain"\necho\necho RAN\n`;
      const page = '<script>parent.document.title = "RAN"</script>\n';
      attach(3, 'evil.html', page);
      attach(4, 'evil.cgi', script);

      // The attachment directory is not served at all, so nothing in it can run.
      for (const url of ['/files/3/X1/1/evil.html', '/files/4/X1/1/evil.cgi', '/files/']) {
        const res = await request(board(), url);
        assert.ok(res.status === 403 || res.status === 404, `${url}: ${res.status}`);
        assert.doesNotMatch(res.text, /RAN/, url);
      }
      assert.equal(fs.existsSync(marker), false);

      const job = (skey, folder) =>
        `${PROGRAM_URL}?SKEY=${skey}&JOB=ATTACHMENT&FOLDER_NO=${folder}&SEL_NO=1&ADD_NO=1`;
      const member = await login(board(), MEMBER);
      const got = await request(board(), job(member.skey, 3));
      assert.equal(got.status, 200);
      assert.equal(got.body.toString(), page);
      assert.equal(got.headers['content-type'], 'application/octet-stream');
      assert.equal(got.headers['content-disposition'], 'attachment; filename="evil.html"');
      assert.equal(got.headers['x-content-type-options'], 'nosniff');
      assert.equal(got.headers['cache-control'], 'no-store');
      assert.match(got.headers['content-security-policy'], /sandbox/);
      // Without a session, or without the rights on the folder, the file stays where it is.
      const anonymous = await request(board(), job('', 3));
      assert.match(anonymous.text, /NAME="upw"/);
      const staff = await request(board(), job(member.skey, 4));
      assert.match(staff.headers['content-type'], /^text\/html/);
      assert.doesNotMatch(staff.text, /RAN/);
      const operator = await login(board(), OPERATOR);
      assert.equal((await request(board(), job(operator.skey, 4))).body.toString(), script);
      assert.equal(fs.existsSync(marker), false);

      // Pictures that users upload into the web directory (user and folder pictures) are
      // sandboxed; the installation's own pages are not.
      for (const sub of ['userpic/alice', '12']) {
        fs.mkdirSync(path.join(board().dir, 'www', sub), { recursive: true });
        fs.writeFileSync(path.join(board().dir, 'www', sub, 'p.html'), page);
        const res = await request(board(), `/Vorbix/${sub}/p.html`);
        assert.equal(res.status, 200, sub);
        assert.equal(res.headers['x-content-type-options'], 'nosniff', sub);
        assert.equal(res.headers['content-security-policy'], 'sandbox', sub);
      }
      const own = await request(board(), '/Vorbix/info.html');
      assert.equal(own.headers['content-security-policy'], undefined);
      assert.match(own.headers['content-type'], /^text\/html; ?charset=shift_jis$/i);
    });

    test('only the program URL executes: a script in the web directory is a plain file', async () => {
      const text = '#!/bin/sh\necho "Content-type: text/plain"\necho\necho RAN\n';
      fs.writeFileSync(path.join(board().dir, 'www', 'x.cgi'), text, { mode: 0o755 });
      const res = await request(board(), '/Vorbix/x.cgi');
      assert.equal(res.status, 200);
      assert.equal(res.body.toString(), text);
      // A copy of the program under another name in its own directory is not reachable.
      fs.copyFileSync(path.join(board().dir, 'cgi-bin', 'boardcgi.cgi'),
        path.join(board().dir, 'cgi-bin', 'other.cgi'));
      fs.chmodSync(path.join(board().dir, 'cgi-bin', 'other.cgi'), 0o755);
      const other = await request(board(), '/cgi-bin/other.cgi');
      assert.equal(other.status, 403);
    });
  });
}
