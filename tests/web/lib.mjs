// Shared helpers of the web tests: a temporary installation (boardinstall) served by lighttpd
// on a free loopback port, plain HTTP requests against it, and headless Chromium from Debian
// driven by playwright-core.
//
// The programs under test come from the environment (CTest sets them to its build directory):
//   BOARD_CGI      the boardcgi program
//   BOARD_INSTALL  the boardinstall command
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before } from 'node:test';

export const PROGRAM_URL = '/cgi-bin/boardcgi.cgi';
export const USER_AGENT = 'Mozilla/5.0 (X11; Linux x86_64) board-web-test';
export const OPERATOR = { id: 'admin', password: 'Secret1' };
// The demo's accounts (passwords equal the ids).
export const MEMBER = { id: 'alice', password: 'alice' };
export const SHARED = { id: 'guest', password: 'guest' };

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (run the web tests through CTest)`);
  if (!fs.existsSync(value)) throw new Error(`${name}=${value} does not exist (build first)`);
  return value;
}

export function which(program) {
  const dirs = (process.env.PATH || '/usr/bin:/bin').split(':').concat(['/usr/sbin', '/sbin']);
  for (const dir of dirs) {
    const candidate = path.join(dir, program);
    try {
      fs.accessSync(candidate, fs.constants.X_OK);
      return candidate;
    } catch { /* next */ }
  }
  return null;
}

// A port on 127.0.0.1 that nobody listens on right now.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.unref();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

const running = new Set();
// Servers still running when the process ends (a test that threw before its after hook) are
// killed here, so a test run never leaves one behind.
process.on('exit', () => {
  for (const child of running) {
    try { child.kill('SIGKILL'); } catch { /* gone */ }
  }
});

// The two web servers an installation has a configuration for: how to start each in the
// foreground and where its configuration names the port.
const SERVERS = {
  lighttpd: { conf: 'lighttpd.conf', args: (conf) => ['-D', '-f', conf],
    port: [/^server\.port = \d+$/m, (p) => `server.port = ${p}`] },
  apache2: { conf: 'apache2.conf', args: (conf) => ['-DFOREGROUND', '-f', conf],
    port: [/^Listen 127\.0\.0\.1:\d+$/m, (p) => `Listen 127.0.0.1:${p}`] },
};

async function startServer(server, conf) {
  const program = which(server);
  if (!program) throw new Error(`${server} is not installed (scripts/test.sh installs it)`);
  // A process group of its own: Apache ends its whole group when it stops.
  const child = spawn(program, SERVERS[server].args(conf),
    { stdio: ['ignore', 'pipe', 'pipe'], detached: true });
  running.add(child);
  let log = '';
  child.stdout.on('data', (d) => { log += d; });
  child.stderr.on('data', (d) => { log += d; });
  let exited = false;
  const exitPromise = new Promise((resolve) => child.once('exit', () => {
    exited = true;
    running.delete(child);
    resolve();
  }));
  return { child, log: () => log, exited: () => exited, exitPromise };
}

// Creates a temporary installation (with the demo content unless demo is false) and serves it
// with lighttpd, or with Apache httpd (server 'apache2'). The result's stop() ends the server
// and removes the installation; call it from an after hook.
export async function startBoard({ demo = true, language, server: kind = 'lighttpd' } = {}) {
  const cgi = required('BOARD_CGI');
  const installer = required('BOARD_INSTALL');
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'board-web-'));
  const dir = path.join(tmp, 'board');
  const conf = path.join(dir, SERVERS[kind].conf);
  let port = await freePort();
  const args = [dir, OPERATOR.id, OPERATOR.password, '--port', String(port), '--program', cgi];
  if (demo) args.push('--demo');
  if (language) args.push('--language', language);
  try {
    execFileSync(installer, args, { stdio: 'pipe' });
  } catch (e) {
    fs.rmSync(tmp, { recursive: true, force: true });
    throw new Error(`boardinstall failed: ${e.stderr || e.message}`);
  }
  if (kind === 'apache2' && process.getuid() === 0) {
    // Started as root, Apache serves as www-data (see apache2.conf), which must own the
    // installation and reach it.
    fs.chmodSync(tmp, 0o755);
    execFileSync('chown', ['-R', 'www-data:www-data', dir]);
  }

  let server = null;
  for (let attempt = 0; attempt < 3 && !server; ++attempt) {
    if (attempt > 0) {
      // Somebody took the port in the meantime: move to another one.
      port = await freePort();
      const [pattern, line] = SERVERS[kind].port;
      const text = fs.readFileSync(conf, 'utf8').replace(pattern, line(port));
      fs.writeFileSync(conf, text);
    }
    const s = await startServer(kind, conf);
    const deadline = Date.now() + 10000;
    while (Date.now() < deadline && !s.exited()) {
      if (await canConnect(port)) break;
      await new Promise((r) => setTimeout(r, 50));
    }
    if (!s.exited() && await canConnect(port)) {
      server = s;
    } else {
      s.child.kill('SIGKILL');
      await s.exitPromise;
      if (attempt === 2) {
        fs.rmSync(tmp, { recursive: true, force: true });
        throw new Error(`${kind} did not start:\n${s.log()}`);
      }
    }
  }

  const base = `http://127.0.0.1:${port}`;
  return {
    dir,
    port,
    base,
    programUrl: base + PROGRAM_URL,
    serverLog: () => server.log(),
    async stop() {
      if (!server.exited()) {
        server.child.kill('SIGTERM');
        const timer = setTimeout(() => server.child.kill('SIGKILL'), 5000);
        await server.exitPromise;
        clearTimeout(timer);
      }
      fs.rmSync(tmp, { recursive: true, force: true });
    },
  };
}

// One HTTP request with the path sent exactly as given (no normalisation of "..", unlike
// fetch). Resolves to { status, headers, body (Buffer), text (latin1) }.
export function request(board, rawPath, { method = 'GET', form, headers = {} } = {}) {
  return new Promise((resolve, reject) => {
    const body = form ? new URLSearchParams(form).toString() : null;
    const req = http.request({
      host: '127.0.0.1',
      port: board.port,
      method: body ? 'POST' : method,
      path: rawPath,
      headers: {
        'User-Agent': USER_AGENT,
        ...(body ? { 'Content-Type': 'application/x-www-form-urlencoded',
          'Content-Length': Buffer.byteLength(body) } : {}),
        ...headers,
      },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const data = Buffer.concat(chunks);
        resolve({ status: res.statusCode, headers: res.headers, body: data,
          text: data.toString('latin1') });
      });
    });
    req.on('error', reject);
    req.setTimeout(15000, () => req.destroy(new Error(`timeout: ${rawPath}`)));
    if (body) req.write(body);
    req.end();
  });
}

// Logs in with a URL-encoded POST as the login page sends it. Resolves to the response and the
// session key of the frameset (null when the login page came back).
export async function login(board, user) {
  const res = await request(board, PROGRAM_URL,
    { form: { uid: user.id, upw: user.password, JOB: 'TOP', sub: 'Login' } });
  const m = /SKEY=(\d+)&JOB=FRM21/.exec(res.text);
  return { ...res, skey: m ? m[1] : null };
}

// Resolves a link of a page of the program (links are relative to the program's URL) to a
// path for request().
export function programLink(href) {
  const url = new URL(href.replace(/&amp;/g, '&'), `http://x${PROGRAM_URL}`);
  return url.pathname + url.search;
}

// ---- Browser -----------------------------------------------------------------------------------

export const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
  '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync'];

// Debian's Chromium through playwright-core (never a downloaded browser), with a fresh profile.
// Resolves to { context, page, close() }.
export async function launchBrowser() {
  if (!fs.existsSync(CHROMIUM)) {
    throw new Error(`${CHROMIUM} is missing (scripts/test.sh installs Debian's chromium)`);
  }
  let playwright;
  try {
    playwright = await import('playwright-core');
  } catch {
    throw new Error('playwright-core is missing: run npm ci at the repository root');
  }
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'board-chromium-'));
  let context;
  try {
    context = await playwright.chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: true,
      args: CHROMIUM_ARGS,
      userAgent: USER_AGENT,
      viewport: { width: 1100, height: 700 },
    });
  } catch (e) {
    fs.rmSync(profile, { recursive: true, force: true });
    throw e;
  }
  const page = context.pages()[0] || await context.newPage();
  return {
    context,
    page,
    async close() {
      try { await context.close(); } finally {
        fs.rmSync(profile, { recursive: true, force: true });
      }
    },
  };
}

// Where a test may leave screenshots for a person to look at (BOARD_SCREENSHOTS), or null.
// Waits until the frame of that name shows a document whose URL matches.
export async function frameAt(page, name, urlPattern) {
  const deadline = Date.now() + 10000;
  for (;;) {
    const frame = page.frame({ name });
    if (frame && urlPattern.test(frame.url())) {
      await frame.waitForLoadState('load');
      return frame;
    }
    if (Date.now() > deadline) throw new Error(`frame ${name} never showed ${urlPattern}`);
    await page.waitForTimeout(50);
  }
}

// Logs in through the login page and waits for the frameset.
export async function logIn(page, board, user) {
  await page.goto(board.programUrl);
  await page.fill('input[name="uid"]', user.id);
  await page.fill('input[name="upw"]', user.password);
  await Promise.all([page.waitForURL(`**${PROGRAM_URL}`), page.click('input[type="submit"]')]);
}

export function screenshotPath(name) {
  const dir = process.env.BOARD_SCREENSHOTS;
  if (!dir) return null;
  fs.mkdirSync(dir, { recursive: true });
  return path.join(dir, name);
}

// Clicks something in a page or frame and waits for its next document.
export async function clickAndLoad(frame, locator) {
  await Promise.all([frame.waitForNavigation(), locator.click()]);
  await frame.waitForLoadState('load');
}

// The usual frame of a browser test file: one board (startBoard's options), `browsers` headless
// browsers and, when `scratch` names a prefix, a scratch directory, made before the first test
// and removed after the last. `take` receives { board, browser, browsers, scratch } once ready.
export function useBoardAndBrowsers({ board: options, browsers: count = 1, scratch: prefix } = {},
  take) {
  const env = { board: null, browser: null, browsers: [], scratch: null };
  before(async () => {
    env.board = await startBoard(options);
    for (let i = 0; i < count; i++) env.browsers.push(await launchBrowser());
    env.browser = env.browsers[0] || null;
    if (prefix) env.scratch = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
    take(env);
  });
  after(async () => {
    try {
      for (const b of env.browsers) await b.close();
    } finally {
      if (env.board) await env.board.stop();
      if (env.scratch) fs.rmSync(env.scratch, { recursive: true, force: true });
    }
  });
}
