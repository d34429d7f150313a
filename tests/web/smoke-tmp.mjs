import { startServer, startChromium, openPage } from './harness.mjs';
const chromium = await startChromium();
const server = await startServer({ isolation: true });
const problems = [];
const page = await openPage(chromium.browser, problems);
const pgn = '1. e4 e5 2. Nf3 Nc6 3. Bc4 Nf6 4. Qe2 Bc5 5. Qd3 d6 6. Qxd6 *';
try {
  await page.goto(`${server.url}?pgn=${encodeURIComponent(pgn)}&review=1&depth=6`);
  await page.waitForFunction(() => window.orvaneReview.result && window.orvaneReview.result.complete && !window.orvaneReview.running, null, { timeout: 60000 });
  const info = await page.evaluate(() => ({
    moves: [...document.querySelectorAll('[data-testid^="move-"]')].map((e) => `${e.dataset.testid}:${e.textContent}:${e.dataset.class}:${e.dataset.eval}`),
    acc: document.querySelector('[data-testid="accuracy-white"]').textContent + ' / ' + document.querySelector('[data-testid="accuracy-black"]').textContent,
    mistakes: document.querySelector('#review-mistakes').textContent,
    opening: document.querySelector('#opening').textContent,
    data: window.orvaneReview.graph.plot.data,
  }));
  console.log(JSON.stringify(info, null, 1));
  await page.screenshot({ path: '/tmp/pagesmoke/review.png' });
} finally {
  console.log(problems);
  await page.close(); await server.close(); await chromium.close();
}
