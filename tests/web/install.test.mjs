// boardinstall: the layout and settings of a new installation, the first operator, the web
// server configuration, and the refusals (an existing installation is never overwritten).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';

import { which } from './lib.mjs';

const installer = process.env.BOARD_INSTALL;
const cgi = process.env.BOARD_CGI;
let tmp;
before(() => {
  assert.ok(installer && cgi, 'BOARD_INSTALL and BOARD_CGI are set by CTest');
  tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'board-install-'));
});
after(() => fs.rmSync(tmp, { recursive: true, force: true }));

const install = (...args) => spawnSync(installer, [...args, '--program', cgi],
  { encoding: 'latin1' });

// Runs the installed program as the web server would: from its own directory, with the CGI
// environment, the request body on standard input.
function runCgi(dir, body) {
  return execFileSync(path.join(dir, 'cgi-bin', 'boardcgi.cgi'), [], {
    cwd: path.join(dir, 'cgi-bin'),
    input: body,
    encoding: 'latin1',
    env: {
      REQUEST_METHOD: body ? 'POST' : 'GET',
      QUERY_STRING: '',
      CONTENT_TYPE: 'application/x-www-form-urlencoded',
      CONTENT_LENGTH: String(body ? Buffer.byteLength(body) : 0),
      REMOTE_ADDR: '127.0.0.1',
      HTTP_USER_AGENT: 'install-test',
    },
  });
}

test('a new installation: layout, settings, program, files and the operator', () => {
  const dir = path.join(tmp, 'plain');
  const r = install(dir, 'Sysop', 'pa$$word', '--port', '18080');
  assert.equal(r.status, 0, r.stderr);
  for (const d of ['cgi-bin', 'data', 'www', 'files', 'tmp']) {
    assert.ok(fs.statSync(path.join(dir, d)).isDirectory(), d);
  }
  // The data directory is for the program only.
  assert.equal(fs.statSync(path.join(dir, 'data')).mode & 0o077, 0);
  const program = path.join(dir, 'cgi-bin', 'boardcgi.cgi');
  assert.deepEqual(fs.readFileSync(program), fs.readFileSync(cgi));
  assert.ok(fs.statSync(program).mode & 0o100);
  for (const f of ['japan.lng', 'english.lng']) {
    assert.ok(fs.existsSync(path.join(dir, 'cgi-bin', f)), f);
  }
  for (const f of ['info.html', 'ginfo.html', 'link.html', 'title.jpg', 'back.gif',
    'folderclose.gif', 'folderbook.gif', 'folderchat.gif', 'NEW.GIF', 'bot0001.gif',
    'bot0002.gif', 'bot0003.gif']) {
    assert.ok(fs.statSync(path.join(dir, 'www', f)).size > 0, f);
  }
  assert.equal(fs.readFileSync(path.join(dir, 'cgi-bin', 'boardcgi.ini'), 'latin1'), [
    'LANGUAGE,japan.lng,', `CG_FILE_PATH,${dir}/www/,`, 'CG_FILE_WEB_PATH,/Vorbix/,',
    `DATA_FILE_PATH,${dir}/data/,`, `ADD_FILE_PATH,${dir}/files/,`, 'ADD_FILE_WEB_PATH,/files/,',
    'LOGIN_GIF,title.jpg,', 'BACK_GIF,back.gif,', 'LOG_DATE,365,', 'DATETIME,1,', 'IECOLS,80,',
    'NSCOLS,60,', 'ROWS,8,', 'MYDATA,0,', 'MAX_CONTENTS,4000,', 'FRAME_DIVIDE,20,', ''].join('\n'));
  // Only the operator, and no folders.
  assert.equal(fs.readFileSync(path.join(dir, 'data', 'user.mst'), 'latin1'),
    'Sysop,System operator,100,,pa$$word,0,1,1,1,,,0,\r\n');
  assert.equal(fs.existsSync(path.join(dir, 'data', 'b_title.mst')), false);

  // The program finds its settings and the Japanese messages, and the operator logs in.
  const loginPage = runCgi(dir, '');
  assert.match(loginPage, /<IMG SRC="\/Vorbix\/title\.jpg" >/);
  const button = /^101,([^,\r\n]+),/m.exec(
    fs.readFileSync(path.join(dir, 'cgi-bin', 'japan.lng'), 'latin1'));
  assert.ok(button && loginPage.includes(`NAME="sub" VALUE="${button[1]}">`),
    'the login button is labelled from japan.lng');
  const frames = runCgi(dir, 'uid=sysop&upw=pa%24%24word&JOB=TOP');
  assert.match(frames, /<FRAME SRC = "boardcgi\.cgi\?SKEY=\d+&JOB=FRM21" NAME="FRM21">/);
});

test('the web server configuration is valid for lighttpd and names only this installation',
  { skip: !which('lighttpd') && 'lighttpd is not installed' }, () => {
    const dir = path.join(tmp, 'plain');
    const conf = fs.readFileSync(path.join(dir, 'lighttpd.conf'), 'utf8');
    assert.match(conf, /^server\.bind = "127\.0\.0\.1"$/m);
    assert.match(conf, /^server\.port = 18080$/m);
    // The body limit matches the program's default MAX_REQUEST_SIZE (100 MB) and its header.
    assert.match(conf, /^server\.max-request-size = 102464$/m);
    const roots = [...conf.matchAll(/"(\/[^"]*)"/g)].map((m) => m[1])
      .filter((p) => !p.startsWith('/cgi-bin/') && !p.startsWith('/Vorbix/'));
    // The attachments are no static files of the server.
    assert.doesNotMatch(conf, /\/files/);
    for (const p of roots) assert.ok(p.startsWith(dir + '/'), p);
    // Exactly one place hands requests to mod_cgi.
    assert.equal(conf.match(/cgi\.assign/g).length, 1);
    const check = spawnSync(which('lighttpd'), ['-tt', '-f', path.join(dir, 'lighttpd.conf')],
      { encoding: 'utf8' });
    assert.equal(check.status, 0, check.stderr);
    assert.doesNotMatch(check.stderr, /WARNING/);
  });

test('an existing installation is never overwritten', () => {
  const dir = path.join(tmp, 'plain');
  const before = fs.readFileSync(path.join(dir, 'data', 'user.mst'));
  const r = install(dir, 'other', 'secret', '--demo');
  assert.equal(r.status, 1);
  assert.match(r.stderr, /already exists.*refusing to overwrite/);
  assert.deepEqual(fs.readFileSync(path.join(dir, 'data', 'user.mst')), before);
  assert.equal(fs.existsSync(path.join(dir, 'data', 'b_title.mst')), false);

  // Any other file in the way counts as well; an empty directory is fine.
  const busy = path.join(tmp, 'busy');
  fs.mkdirSync(busy);
  fs.writeFileSync(path.join(busy, 'notes.txt'), 'mine');
  assert.equal(install(busy, 'op', 'pw').status, 1);
  assert.deepEqual(fs.readdirSync(busy), ['notes.txt']);
  const empty = path.join(tmp, 'empty');
  fs.mkdirSync(empty);
  assert.equal(install(empty, 'op', 'pw').status, 0);
});

test('unusable operator logins and options are refused before anything is written', () => {
  for (const args of [['op,1', 'pw'], ['', 'pw'], ['op', ''], ['a'.repeat(21), 'pw'],
    ['op', 'p w'], ['op', 'pw', '--port', '0'], ['op', 'pw', '--language', 'x.lng']]) {
    const dir = path.join(tmp, 'refused');
    const r = install(dir, ...args);
    assert.notEqual(r.status, 0, args.join(' '));
    assert.equal(fs.existsSync(dir), false, args.join(' '));
  }
  const quoted = path.join(tmp, 'a"b');
  assert.equal(install(quoted, 'op', 'pw').status, 1);
  assert.equal(fs.existsSync(quoted), false);
  assert.equal(spawnSync(installer, ['only-a-dir']).status, 2);
});

test('the demo: folders, both account kinds and threads, through the store', () => {
  const dir = path.join(tmp, 'demo');
  const r = install(dir, 'admin', 'admin', '--demo');
  assert.equal(r.status, 0, r.stderr);
  const data = path.join(dir, 'data');
  assert.match(fs.readFileSync(path.join(dir, 'cgi-bin', 'boardcgi.ini'), 'latin1'),
    /^LANGUAGE,english\.lng,$/m);
  assert.equal(fs.readFileSync(path.join(data, 'b_title.mst'), 'latin1'), [
    'General,1,Dir,', ' Announcements,2,Board,', ' Questions,3,Board,', ' Staff room,4,Board,',
    'Lounge,5,Board,', 'Chat room,6,Chat,', ''].join('\r\n'));
  // One 8800-byte settings record per folder.
  assert.equal(fs.statSync(path.join(data, 'b_title2.mst')).size, 6 * 8800);
  const users = fs.readFileSync(path.join(data, 'user.mst'), 'latin1').trim().split('\r\n')
    .map((l) => l.split(','));
  assert.deepEqual(users.map((u) => [u[0], u[2], u[7]]),
    [['admin', '100', '1'], ['alice', '10', '1'], ['bob', '50', '1'], ['guest', '1', '2']]);
  // Questions holds a thread of three (160-byte index records) with their bodies; the reply
  // chain is threaded under the first message.
  const index = fs.readFileSync(path.join(data, '3', 'index.dat'));
  assert.equal(index.length, 3 * 160);
  const records = [0, 1, 2].map((i) => ({
    number: index.readInt32LE(i * 160 + 4),
    thread: index.readInt32LE(i * 160 + 12),
    depth: index.readInt32LE(i * 160 + 16),
  }));
  assert.deepEqual(records, [{ number: 1, thread: 1, depth: 0 },
    { number: 2, thread: 1, depth: 1 }, { number: 3, thread: 1, depth: 2 }]);
  for (const m of [1, 2, 3]) {
    const body = fs.readFileSync(path.join(data, '3', `X${m}.DAT`), 'latin1');
    assert.ok(body.length > 0 && !body.includes('\n'), `X${m}.DAT`);
  }
  assert.equal(fs.statSync(path.join(data, '6', 'chat.dat')).size, 884);
});
