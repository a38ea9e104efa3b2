// Measures a packed page in headless chromium: its size, the time from
// opening it to the first frame, and the CPU time its renderer process
// spends while the movie plays (from /proc, so Linux only).
//
//   node measure_web.cjs --page PAGE.html --modules DIR [--seconds N]
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');

const options = { seconds: '5' };
for (let i = 2; i + 1 < process.argv.length; i += 2) options[process.argv[i].slice(2)] = process.argv[i + 1];
if (!options.page || !options.modules) {
  console.error('usage: node measure_web.cjs --page PAGE.html --modules DIR [--seconds N]');
  process.exit(2);
}
const puppeteer = require(path.join(path.resolve(options.modules), 'puppeteer-core'));
const page = path.resolve(options.page);

// CPU seconds (user + system) of a process so far.
function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100; // clock ticks at 100 Hz
}

// The renderer processes under the browser's process.
function renderers(browserPid) {
  const found = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const cmdline = fs.readFileSync(`/proc/${entry}/cmdline`, 'utf8');
      if (cmdline.includes('--type=renderer') && !cmdline.includes('--extension-process')) found.push(Number(entry));
    } catch (e) { /* gone */ }
  }
  return found.filter(pid => pid !== browserPid);
}

(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), 'kmov-chromium-')),
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run',
           '--autoplay-policy=no-user-gesture-required'],
  });
  const tab = await browser.newPage();
  await tab.goto('about:blank');
  const before = new Set(renderers(browser.process().pid));
  await tab.goto('file://' + page);
  await tab.waitForFunction(() => performance.getEntriesByName('kmov-first-frame').length > 0,
                            { timeout: 30000 });
  const firstFrame = await tab.evaluate(() => performance.getEntriesByName('kmov-first-frame')[0].startTime);
  const pids = renderers(browser.process().pid);
  const pid = pids.find(p => !before.has(p)) || pids[0];
  const start = cpuSeconds(pid);
  const seconds = Number(options.seconds);
  await new Promise(resolve => setTimeout(resolve, seconds * 1000));
  const used = cpuSeconds(pid) - start;
  console.log(`page ${fs.statSync(page).size} bytes`);
  console.log(`first frame ${firstFrame.toFixed(0)} ms after navigation start`);
  console.log(`renderer CPU ${(100 * used / seconds).toFixed(1)}% over ${seconds} s of playing (pid ${pid})`);
  await browser.close();
})();
