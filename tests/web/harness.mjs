// Starts the page's server and Debian's headless Chromium for the page tests,
// and ends both by their process ids.

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const repoDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const engineDir = path.resolve(repoDir, process.env.ORVANE_WASM_DIR || 'build-wasm');
export const chromiumPath = process.env.ORVANE_CHROMIUM || '/usr/bin/chromium';

// Waits until `pattern` matches the text a child process writes on `stream`;
// rejects when the process ends first or after `ms`.
function waitForOutput(child, stream, pattern, ms, what) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => finish(new Error(`${what}: nothing matching ${pattern} within ${ms} ms:\n${text}`)), ms);
    const onData = (chunk) => {
      text += chunk.toString();
      const match = text.match(pattern);
      if (match) finish(null, match);
    };
    const onExit = (code) => finish(new Error(`${what} ended (status ${code}) before ${pattern}:\n${text}`));
    function finish(error, match) {
      clearTimeout(timer);
      stream.off('data', onData);
      child.off('exit', onExit);
      if (error) reject(error);
      else resolve(match);
    }
    stream.on('data', onData);
    child.on('exit', onExit);
  });
}

// Ends a child we started, by its id, and waits for it: a grace period of
// `graceMs` for it to leave by itself, then SIGTERM, then SIGKILL.
async function endChild(child, graceMs = 0) {
  if (child.exitCode !== null || child.signalCode !== null) return;
  const exited = new Promise((resolve) => child.once('exit', resolve));
  const term = setTimeout(() => child.kill('SIGTERM'), graceMs);
  const kill = setTimeout(() => child.kill('SIGKILL'), graceMs + 5000);
  await exited;
  clearTimeout(term);
  clearTimeout(kill);
}

// Runs web/serve.mjs (or the same file reached through another path) on a
// free port; {url, close}.
export async function startServer({ isolation, engine = engineDir, script = path.join(repoDir, 'web', 'serve.mjs') }) {
  const args = [script, '--port', '0', '--engine-dir', engine];
  if (!isolation) args.push('--no-isolation');
  const child = spawn(process.execPath, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  child.stderr.on('data', (chunk) => process.stderr.write(`[serve] ${chunk}`));
  const match = await waitForOutput(child, child.stdout, /Serving (http:\/\/\S+\/)/, 10000, 'web/serve.mjs');
  return { url: match[1], close: () => endChild(child) };
}

// Starts Chromium headless with a fresh profile and connects to it over the
// DevTools protocol; {browser, close}.
export async function startChromium() {
  if (!fs.existsSync(chromiumPath)) throw new Error(`${chromiumPath} is missing (apt-get install chromium)`);
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-chromium-'));
  const child = spawn(chromiumPath, [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    `--user-data-dir=${profile}`, '--remote-debugging-port=0', '--window-size=1280,900', 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe'] });
  let browser;
  try {
    const match = await waitForOutput(child, child.stderr, /DevTools listening on (ws:\/\/\S+)/, 30000, 'chromium');
    browser = await chromium.connectOverCDP(match[1]);
  } catch (error) {
    await endChild(child);
    fs.rmSync(profile, { recursive: true, force: true });
    throw error;
  }
  return {
    browser,
    close: async () => {
      // Asks the browser to quit as a user would, then makes sure it has.
      const session = await browser.newBrowserCDPSession().catch(() => null);
      if (session) await session.send('Browser.close').catch(() => {});
      await browser.close().catch(() => {});
      await endChild(child, 10000);
      fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 200 });
    },
  };
}

// Opens a page that records every console error, page error and failed
// request in `problems`.
export async function openPage(browser, problems) {
  const context = browser.contexts()[0] || (await browser.newContext());
  const page = await context.newPage();
  await page.setViewportSize({ width: 1280, height: 900 });
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
  });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('requestfailed', (request) => problems.push(`request failed: ${request.url()} ${request.failure()?.errorText}`));
  page.on('response', (response) => {
    if (response.status() >= 400) problems.push(`HTTP ${response.status()} for ${response.url()}`);
  });
  return page;
}
