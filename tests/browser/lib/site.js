// A fresh Quaybill site served by lighttpd on a free loopback port, and a
// headless Chromium to visit it. Each test file gets its own site and store.
import { spawn, execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '../../..');
export const artifactsDir = path.resolve(here, '../artifacts');

export const program = path.resolve(process.env.QBCGI_PROGRAM || path.join(repoRoot, 'build/qbcgi'));
export const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

function lighttpdPath() {
  if (process.env.LIGHTTPD) return process.env.LIGHTTPD;
  for (const dir of (process.env.PATH || '').split(':').concat(['/usr/sbin', '/sbin'])) {
    const candidate = path.join(dir, 'lighttpd');
    if (dir && existsSync(candidate)) return candidate;
  }
  return 'lighttpd';
}

// A port nobody listens on right now: the kernel picks it, we let it go.
function freePort() {
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

async function startLighttpd(conf, port) {
  const child = spawn(lighttpdPath(), ['-D', '-f', conf], { stdio: ['ignore', 'pipe', 'pipe'] });
  let log = '';
  child.stdout.on('data', (d) => { log += d; });
  child.stderr.on('data', (d) => { log += d; });
  let exited = false;
  child.once('exit', () => { exited = true; });
  child.once('error', (e) => { exited = true; log += String(e); });
  const deadline = Date.now() + 10_000;
  while (Date.now() < deadline) {
    if (exited) break;
    if (await canConnect(port)) return { child, log: () => log };
    await new Promise((r) => setTimeout(r, 50));
  }
  if (!exited) child.kill('SIGKILL');
  throw new Error(`lighttpd did not come up on port ${port}:\n${log}`);
}

// Lays out a site in a new temporary directory and serves it. Returns the
// site's base address, its directory, and stop().
export async function startSite({ banners = 'y' } = {}) {
  if (!existsSync(program)) throw new Error(`no program at ${program}: build it first`);
  const dir = mkdtempSync(path.join(os.tmpdir(), 'quaybill-site-'));
  let lastError;
  // Another process may take the port between our probe and lighttpd's bind.
  for (let attempt = 0; attempt < 3; attempt++) {
    const port = await freePort();
    const conf = execFileSync(path.join(repoRoot, 'scripts/lighttpd-site'),
      ['--dir', dir, '--port', String(port), '--program', program, '--banners', banners, '--fresh'],
      { encoding: 'utf8' }).trim();
    try {
      const server = await startLighttpd(conf, port);
      const base = `http://127.0.0.1:${port}/`;
      return {
        base,
        dir,
        main: `${base}qbcgi.exe?action=Main`,
        serverLog: server.log,
        async stop() {
          if (server.child.exitCode === null) {
            const gone = new Promise((r) => server.child.once('exit', r));
            server.child.kill('SIGTERM');
            await gone;
          }
          rmSync(dir, { recursive: true, force: true });
        },
      };
    } catch (e) {
      lastError = e;
    }
  }
  rmSync(dir, { recursive: true, force: true });
  throw lastError;
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

// A page that records every dialog (alert, confirm, prompt) it is asked to
// show, and dismisses it, and every script error.
export async function openPage(browser) {
  const context = await browser.newContext({ viewport: { width: 1100, height: 800 } });
  const page = await context.newPage();
  page.dialogs = [];
  page.pageErrors = [];
  page.on('dialog', async (dialog) => {
    page.dialogs.push(`${dialog.type()}: ${dialog.message()}`);
    await dialog.dismiss();
  });
  page.on('pageerror', (error) => page.pageErrors.push(String(error)));
  return page;
}

// Screenshots go to tests/browser/artifacts/<prefix>-NN-<name>.png.
export function screenshotter(prefix) {
  mkdirSync(artifactsDir, { recursive: true });
  let n = 0;
  return async (page, name) => {
    n += 1;
    const file = path.join(artifactsDir, `${prefix}-${String(n).padStart(2, '0')}-${name}.png`);
    await page.screenshot({ path: file, fullPage: true });
    return file;
  };
}

// The page's visible text with runs of white space made single spaces.
export async function visibleText(page) {
  return (await page.locator('body').innerText()).replace(/\s+/g, ' ').trim();
}

// Registers the hooks of a test suite that runs against a fresh site in a
// fresh browser: `ready(site, page)` receives them before the first test, and
// both are stopped after the last.
export function servedSiteInBrowser(ready) {
  let site;
  let browser;
  before(async () => {
    site = await startSite();
    browser = await launchBrowser();
    const page = await openPage(browser);
    page.setDefaultTimeout(10_000);
    ready(site, page);
  });
  after(async () => {
    await browser?.close();
    await site?.stop();
  });
}
