// The installation under Debian's Apache httpd 2.4 with the apache2.conf that boardinstall
// writes: the program answers through it, and the server keeps the same rules as lighttpd.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { MEMBER, PROGRAM_URL, login, request, startBoard } from './lib.mjs';
import { describeServerRules } from './server-rules.mjs';

let board;
before(async () => { board = await startBoard({ server: 'apache2' }); });
after(async () => { if (board) await board.stop(); });

test('the program runs under Apache: login, headers and the menu', async () => {
  const page = await request(board, PROGRAM_URL);
  assert.equal(page.status, 200);
  assert.match(page.text, /NAME="upw"/);
  assert.equal(page.headers['cache-control'], 'no-store');
  assert.ok((await request(board, '/')).headers.location.endsWith(PROGRAM_URL));
  const res = await login(board, MEMBER);
  assert.ok(res.skey, res.text);
  const menu = await request(board, `${PROGRAM_URL}?SKEY=${res.skey}&JOB=FRM21`);
  assert.match(menu.text, /ALT="General"/);
  // An unknown job: the program's empty answer passes through as it is.
  assert.equal((await request(board, `${PROGRAM_URL}?SKEY=${res.skey}&JOB=room`)).status, 204);
});

describeServerRules('Apache', () => board);
