// The web player in a real browser: Debian's chromium, headless, driven over
// the DevTools protocol by puppeteer-core. The demo movie is packed into the
// web template with kmov pack and opened from disk (file://).
//
//   node player_web.test.cjs --kmov KMOV --template kmovsp.html --modules DIR --work DIR
//
// --modules is the node_modules folder holding puppeteer-core. Prints one line
// per check and ends with "web: N passed, N failed"; exits 1 on a failure.
'use strict';

const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const options = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) options[process.argv[i].slice(2)] = process.argv[i + 1];
for (const name of ['kmov', 'template', 'modules', 'work']) {
  if (!options[name]) {
    console.error('usage: node player_web.test.cjs --kmov KMOV --template HTML --modules DIR --work DIR');
    process.exit(2);
  }
}
const puppeteer = require(path.join(path.resolve(options.modules), 'puppeteer-core'));
const work = path.resolve(options.work);
fs.mkdirSync(work, { recursive: true });

function kmov(...args) {
  return execFileSync(options.kmov, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

// ---- Fixtures: the demo, packed, and what the player shows and plays -----------

const demo = path.join(work, 'demo.kmov');
const page = path.join(work, 'demo.html');
kmov('demo', '-o', demo);
kmov('pack', options.template, demo, '-o', page, '--title', 'デモ映像');
kmov('frames', demo, '--raw', path.join(work, 'frames.raw'));
kmov('audio', demo, '--raw', path.join(work, 'audio.raw'));
const info = JSON.parse(kmov('info', demo, '--json'));
const frameBytes = info.width * info.height;
const frames = fs.readFileSync(path.join(work, 'frames.raw'));
const frameCount = frames.length / frameBytes;
const rawAudio = fs.readFileSync(path.join(work, 'audio.raw'));
const samples = new Int16Array(rawAudio.buffer, rawAudio.byteOffset, rawAudio.length / 2);

// A copy of the page whose movie has one whole word changed.
const damaged = path.join(work, 'damaged.html');
{
  const text = fs.readFileSync(page, 'utf8');
  const open = '<script id="kmov-movie" type="application/octet-stream">';
  const begin = text.indexOf(open) + open.length;
  const end = text.indexOf('</script>', begin);
  const movie = Buffer.from(text.slice(begin, end), 'base64');
  const word = Math.floor(movie.length / 8) * 4; // in the middle of the records
  // ^ gives a signed 32-bit number; >>> 0 makes it the unsigned word again.
  movie.writeUInt32LE((movie.readUInt32LE(word) ^ 0x01000100) >>> 0, word);
  fs.writeFileSync(damaged, text.slice(0, begin) + movie.toString('base64') + text.slice(end));
}

// ---- Checks --------------------------------------------------------------------

let passed = 0, failed = 0;
async function check(name, body) {
  try {
    await body();
    passed++;
    console.log('ok   ' + name);
  } catch (error) {
    failed++;
    console.log('FAIL ' + name + ': ' + (error && error.stack || error));
  }
}
function expect(condition, message) {
  if (!condition) throw new Error(message);
}
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

async function launch(extraArgs) {
  return puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), 'kmov-chromium-')),
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run',
           '--disable-background-timer-throttling', ...extraArgs],
  });
}

// Opens a page; every request that is not the page itself or the player's
// own inline data is remembered.
async function open(browser, file, viewport) {
  const tab = await browser.newPage();
  tab.foreign = [];
  tab.on('request', request => {
    const url = request.url();
    if (url !== 'file://' + file && !url.startsWith('data:')) tab.foreign.push(url);
  });
  tab.on('pageerror', error => console.log('  page error: ' + error.message));
  await tab.setViewport(viewport);
  await tab.goto('file://' + file);
  return tab;
}

// The frames of `kmov frames` that the canvas shows, colour by colour (the
// canvas's own pixels, before scaling).
async function framesOnCanvas(tab) {
  const data = await tab.evaluate(() => {
    const canvas = document.getElementById('kmov-screen');
    const rgba = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let binary = '';
    for (let i = 0; i < rgba.length; i += 0x8000)
      binary += String.fromCharCode.apply(null, rgba.subarray(i, i + 0x8000));
    return { width: canvas.width, height: canvas.height, rgba: btoa(binary) };
  });
  expect(data.width === info.width && data.height === info.height,
         `canvas ${data.width}x${data.height}, movie ${info.width}x${info.height}`);
  return matchingFrames(Buffer.from(data.rgba, 'base64'), 1, info.width);
}

// The frames whose every pixel, through the palette, equals the RGBA image
// scaled by `scale` (sampled at each pixel's top-left copy).
function matchingFrames(rgba, scale, stride) {
  const found = [];
  for (let f = 0; f < frameCount; f++) {
    let same = true;
    for (let y = 0; y < info.height && same; y++) {
      for (let x = 0; x < info.width; x++) {
        const colour = info.palette[frames[f * frameBytes + y * info.width + x]];
        const at = ((y * scale) * stride + x * scale) * 4;
        if (rgba[at] !== colour[0] || rgba[at + 1] !== colour[1] || rgba[at + 2] !== colour[2] ||
            rgba[at + 3] !== 255) {
          same = false;
          break;
        }
      }
    }
    if (same) found.push(f);
  }
  return found;
}

async function clickCanvas(tab) {
  const box = await (await tab.$('#kmov-screen')).boundingBox();
  await tab.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
}

async function frameNow(tab) {
  const found = await framesOnCanvas(tab);
  expect(found.length > 0, 'the canvas shows no frame of the movie');
  return found[0];
}

// Records every buffer the page hands to Web Audio: its samples and start time.
function hookWebAudio() {
  window.kmovHeard = [];
  const copy = AudioBuffer.prototype.copyToChannel;
  AudioBuffer.prototype.copyToChannel = function (source, channel, offset) {
    this.kmovSamples = Array.from(source, v => Math.round(v * 32768));
    return copy.call(this, source, channel, offset);
  };
  const start = AudioBufferSourceNode.prototype.start;
  AudioBufferSourceNode.prototype.start = function (when) {
    window.kmovHeard.push({ when, rate: this.buffer.sampleRate, samples: this.buffer.kmovSamples });
    return start.apply(this, arguments);
  };
}

(async () => {
  // Sound allowed from the start, as after a gesture on a page the user trusts.
  let browser = await launch(['--autoplay-policy=no-user-gesture-required']);
  try {
    let tab;
    await check('the page opens from disk, loads nothing else and shows the first frame', async () => {
      tab = await open(browser, page, { width: 1400, height: 1000 });
      await tab.waitForFunction(() => performance.getEntriesByName('kmov-first-frame').length > 0,
                                { timeout: 20000 });
      expect(tab.foreign.length === 0, 'requests: ' + tab.foreign.join(' '));
      expect((await tab.title()) === 'デモ映像', 'title ' + (await tab.title()));
      const icon = await tab.evaluate(() => (document.querySelector('link[rel="icon"]') || {}).href);
      expect(/^data:image\/png;base64,/.test(icon || ''), 'no icon for the tab');
    });
    await check('a click pauses on the frame kmov frames has there; the next resumes', async () => {
      await sleep(1000);
      await clickCanvas(tab);
      await sleep(300);
      const paused = await frameNow(tab);
      expect(paused > 3 && paused < frameCount - 1, 'paused on frame ' + paused);
      await sleep(700);
      expect((await frameNow(tab)) === paused, 'the picture moved while paused');
      await clickCanvas(tab);
      await sleep(1000);
      await clickCanvas(tab);
      await sleep(300);
      const later = await frameNow(tab);
      // About a second at 15 frames a second, whatever the machine's load.
      expect(later > paused + 5 && later < paused + 25, `resumed from ${paused}, paused again on ${later}`);
      await clickCanvas(tab);
    });
    await check('the canvas is scaled by a whole multiple with every pixel kept', async () => {
      await clickCanvas(tab);
      await sleep(300);
      const box = await (await tab.$('#kmov-screen')).boundingBox();
      expect(box.width === info.width * 2 && box.height === info.height * 2,
             `canvas shown ${box.width}x${box.height} in a 1400x1000 page`);
      expect(Math.abs(box.x + box.width / 2 - 700) <= 1 && Math.abs(box.y + box.height / 2 - 500) <= 1,
             'not centred');
      const shot = await tab.screenshot({ clip: box, encoding: 'base64' });
      fs.writeFileSync(path.join(work, 'paused-2x.png'), Buffer.from(shot, 'base64'));
      // Decoded in a blank page: the player's page allows no images.
      const decoder = await browser.newPage();
      const rgba = await decoder.evaluate(async png => {
        const image = new Image();
        image.src = 'data:image/png;base64,' + png;
        await image.decode();
        const canvas = new OffscreenCanvas(image.width, image.height);
        const context = canvas.getContext('2d');
        context.drawImage(image, 0, 0);
        const data = context.getImageData(0, 0, image.width, image.height).data;
        let binary = '';
        for (let i = 0; i < data.length; i += 0x8000)
          binary += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
        return btoa(binary);
      }, shot);
      await decoder.close();
      await tab.bringToFront();
      const shown = Buffer.from(rgba, 'base64');
      // Pixelated: each pixel of the frame is a 2x2 block of one colour.
      let blurred = 0;
      for (let y = 0; y < info.height * 2; y += 2) {
        for (let x = 0; x < info.width * 2; x += 2) {
          const at = (y * info.width * 2 + x) * 4;
          for (const other of [at + 4, at + info.width * 8, at + info.width * 8 + 4])
            if (shown.readUInt32LE(other) !== shown.readUInt32LE(at)) blurred++;
        }
      }
      expect(blurred === 0, blurred + ' pixels blended with their neighbours');
      const onScreen = matchingFrames(shown, 2, info.width * 2);
      expect(onScreen.includes(await frameNow(tab)), 'the screenshot does not show the paused frame');
      // Other pages: the largest whole multiple that fits; a page smaller
      // than the frame shrinks it so that the whole picture shows.
      for (const [width, height, shown] of [[700, 500, 640], [1300, 1000, 1280], [2000, 980, 1280],
                                            [320, 480, 320]]) {
        await tab.setViewport({ width, height });
        await tab.waitForFunction(shown => document.getElementById('kmov-screen').clientWidth === shown,
                                  { timeout: 2000 }, shown).catch(() => {});
        const size = await (await tab.$('#kmov-screen')).boundingBox();
        expect(size.width === shown && size.height === shown * 3 / 4,
               `a ${width}x${height} page shows ${size.width}x${size.height}`);
      }
      await tab.setViewport({ width: 1400, height: 1000 });
      await clickCanvas(tab);
    });
    await check('the movie plays to its last frame, and a click then replays from the start', async () => {
      const deadline = Date.now() + 15000;
      while ((await frameNow(tab)) !== frameCount - 1) {
        expect(Date.now() < deadline, 'the last frame never came');
        await sleep(250);
      }
      await sleep(500);
      expect((await frameNow(tab)) === frameCount - 1, 'the picture moved after the end');
      await clickCanvas(tab);
      await sleep(400);
      const replayed = await frameNow(tab);
      expect(replayed < 15, 'after the replay click the canvas shows frame ' + replayed);
    });
    await check('leaving the page closes the player with exit code 0', async () => {
      await tab.evaluate(() => window.dispatchEvent(new Event('pagehide')));
      await tab.waitForFunction(() => kmovWeb.exitCode !== null, { timeout: 5000 });
      expect((await tab.evaluate(() => kmovWeb.exitCode)) === 0, 'exit code');
      expect(await tab.evaluate(() => document.getElementById('kmov-screen').hidden), 'canvas still shown');
    });
    await tab.close();

    await check("the sound's samples reach Web Audio complete, in order and back to back, " +
                'across a pause', async () => {
      const listener = await browser.newPage();
      await listener.evaluateOnNewDocument(hookWebAudio);
      await listener.goto('file://' + page);
      await listener.waitForFunction(() => window.kmovHeard.length > 0, { timeout: 20000 });
      await sleep(2000);
      await clickCanvas(listener);
      await sleep(500);
      expect((await listener.evaluate(() => kmovWeb.audio.context.state)) === 'suspended',
             'the sound plays on while paused');
      await clickCanvas(listener);
      await sleep(info.duration_ms - 2000 + 1500);
      const heard = await listener.evaluate(() => window.kmovHeard);
      const all = [].concat(...heard.map(buffer => buffer.samples));
      expect(all.length === samples.length, `${all.length} samples heard, ${samples.length} played`);
      const first = all.findIndex((value, i) => value !== samples[i]);
      expect(first < 0, 'samples differ from sample ' + first);
      for (let i = 1; i < heard.length; i++) {
        const end = heard[i - 1].when + heard[i - 1].samples.length / info.sample_rate;
        expect(Math.abs(heard[i].when - end) < 1e-6, `buffer ${i} starts at ${heard[i].when}, not ${end}`);
      }
      expect(heard.every(buffer => buffer.rate === info.sample_rate), 'a buffer at another rate');
      await listener.close();
    });
  } finally {
    await browser.close();
  }

  // The browser's own policy: no sound before the user touches the page.
  // Named, since headless Chromium does not always hold to it by default: in
  // one run in several, the context ran before any click.
  browser = await launch(['--autoplay-policy=document-user-activation-required']);
  try {
    await check('the first click lets the sound out and the movie plays on; the next pauses', async () => {
      const tab = await open(browser, page, { width: 800, height: 600 });
      await tab.waitForFunction(() => performance.getEntriesByName('kmov-first-frame').length > 0,
                                { timeout: 20000 });
      await sleep(300);
      const before = await tab.evaluate(() => kmovWeb.audio.context.state);
      expect(before === 'suspended', `sound before a gesture (the context is ${before})`);
      await clickCanvas(tab);
      await sleep(500);
      const a = await frameNow(tab);
      await sleep(500);
      const b = await frameNow(tab);
      expect(b > a, `the first click paused the movie (frame ${a}, then ${b})`);
      expect(await tab.evaluate(() => kmovWeb.audio.live && kmovWeb.audio.context.state === 'running'),
             'the first click did not start the sound');
      await clickCanvas(tab);
      await sleep(300);
      const c = await frameNow(tab);
      await sleep(500);
      expect((await frameNow(tab)) === c, 'the second click did not pause');
      await tab.close();
    });

    await check('a changed word shows the error dialog, whose button ends the player', async () => {
      const tab = await open(browser, damaged, { width: 800, height: 600 });
      await tab.waitForSelector('#kmov-dialog:not([hidden])', { timeout: 20000 });
      const shown = await tab.evaluate(() => ({
        title: document.getElementById('kmov-dialog-title').textContent,
        text: document.getElementById('kmov-dialog-text').textContent,
        canvas: !document.getElementById('kmov-screen').hidden,
      }));
      expect(shown.title === 'Error', 'title ' + shown.title);
      expect(shown.text === 'ﾃﾞｰﾀが正しくありません', 'text ' + shown.text);
      expect(!shown.canvas, 'the movie is shown');
      await tab.screenshot({ path: path.join(work, 'damaged-dialog.png') });
      expect((await tab.evaluate(() => kmovWeb.exitCode)) === null, 'ended before the button');
      await tab.click('#kmov-dialog-button');
      await tab.waitForFunction(() => kmovWeb.exitCode !== null, { timeout: 5000 });
      expect((await tab.evaluate(() => kmovWeb.exitCode)) === 1, 'exit code');
      expect(await tab.evaluate(() => document.getElementById('kmov-dialog').hidden), 'dialog stays');
      await tab.close();
    });
  } finally {
    await browser.close();
  }
  console.log(`web: ${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
})().catch(error => {
  console.log('FAIL ' + (error && error.stack || error));
  console.log(`web: ${passed} passed, ${failed + 1} failed`);
  process.exit(1);
});
