// The page in Debian's chromium and firefox-esr, headless: it loads
// without a console error; MIDI performances rendered through the worklet
// in an OfflineAudioContext are the command line's samples, to the bit,
// when the command line plays the messages the worklet sent the object; a
// key pressed in a realtime context sounds; the ring is drawn while it
// does; a preset file loaded and saved is the command line's.  Both
// browsers run the same table of checks.
//   node tests/web/browser.mjs ROOT [--screenshot FILE]
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { serve } from './serve.mjs';
import { scoreOf, wavSamples } from './scores.mjs';

const root = process.argv[2];
const shotAt = process.argv.indexOf('--screenshot');
const screenshot = shotAt > 0 ? process.argv[shotAt + 1] : null;
const site = join(root, 'build/web');
const modules = createRequire(join(root, 'web/package.json'));

let failures = 0;
let browserName = '';
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${browserName}: ${what}`);
  if (!ok) failures++;
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Notes, bends, the pedal, the mod wheel, program changes, all notes off,
// all sound off and settings, at times that fall inside vectors and on
// their edges.
const at = (s) => Math.round(s * 44100);
const PERFORMANCE = [
  { time: 0, midi: [0x90, 60, 100] },
  { time: 64, midi: [0x90, 64, 90] },
  { time: 3000, midi: [0x90, 67, 127] },
  { time: 6399, midi: [0xe0, 0, 80] },
  { time: 9000, midi: [0x80, 60, 0] },
  { time: 9001, midi: [0xb0, 64, 127] },
  { time: 12000, midi: [0x90, 64, 0] },
  { time: 15000, midi: [0x90, 72, 60] },
  { time: 18000, midi: [0xb0, 64, 0] },
  { time: 20000, midi: [0xb0, 1, 64] },
  { time: 24000, settings: { volume: 0.8, strike: 0, bendRange: 7, smooth: 12.5, lowCut: 40 } },
  { time: 26000, midi: [0x90, 48, 110] },
  { time: 30000, message: '5 0.0 0.25 0.5 0.75 1.0' },
  { time: 33000, midi: [0xc0, 7, 0] },
  { time: 36000, preset: 3.5 },
  { time: 40000, midi: [0x90, 50, 80] },
  { time: 40000, midi: [0x90, 52, 80] },
  { time: 40000, midi: [0x90, 53, 80] },
  { time: 44100, midi: [0xb0, 123, 0] },
  { time: 48000, midi: [0x90, 55, 100] },
  { time: 52000, midi: [0xb0, 120, 0] },
  { time: 56000, settings: { volume: 0.5, strike: 2, bendRange: 2, smooth: 0, lowCut: 0 } },
  { time: 58000, midi: [0x90, 57, 100] },
  { time: 70000, midi: [0x80, 57, 0] },
];

// Renders a performance through the worklet; the samples' bits and the log.
async function renderOffline(page, { rate, masses, length, events }) {
  return page.evaluate(async ({ rate, masses, length, events }) => {
    const context = new OfflineAudioContext(1, length, rate);
    await context.audioWorklet.addModule('worklet.js');
    const wasm = await (await fetch('loopmass.wasm')).arrayBuffer();
    const node = new AudioWorkletNode(context, 'loopmass', {
      numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1],
      processorOptions: { wasm, masses, events, length, log: true },
    });
    const log = new Promise((resolve) => {
      node.port.onmessage = (e) => e.data.type === 'log' && resolve(e.data.text);
    });
    node.connect(context.destination);
    const rendered = await context.startRendering();
    const bits = new Uint32Array(rendered.getChannelData(0).buffer.slice(0));
    return { bits: Array.from(bits), log: await log };
  }, { rate, masses, length, events });
}

function commandLine(score, work, name) {
  const path = join(work, `${name}.score`), wav = join(work, `${name}.wav`);
  writeFileSync(path, score);
  const native = join(root, 'build/release/loopmass');
  const [program, args] = existsSync(native) ? [native, []] : ['node', [join(root, 'build/web/cli/loopmass.js')]];
  const run = spawnSync(program, [...args, 'run', path, '-o', wav, '--quiet'], { encoding: 'utf8' });
  if (run.status !== 0) throw new Error(`the command line failed on ${path}: ${run.stderr}`);
  return wavSamples(readFileSync(wav));
}

function firstDifference(bits, samples) {
  if (bits.length !== samples.length) return Math.min(bits.length, samples.length);
  const u = new Uint32Array(samples.buffer, samples.byteOffset, samples.length);
  for (let i = 0; i < bits.length; i++) if (bits[i] !== u[i]) return i;
  return -1;
}

// The vectors in which the object was sent messages, from the log.
function messageVectors(log) {
  const vectors = new Set();
  let vector = 0;
  for (const line of log.split('\n')) {
    if (line === 'run 64') vector++;
    else if (line !== '') vectors.add(vector);
  }
  return [...vectors];
}

async function sameAsCommandLine(page, work, c) {
  const { bits, log } = await renderOffline(page, c);
  // Each event acts at the start of the vector its time falls in; a pedal
  // going down and a note let go under it send nothing.
  const quiet = (e) => e.midi && ((e.midi[0] === 0xb0 && e.midi[1] === 64 && e.midi[2] >= 64) ||
    (e.midi[0] === 0x90 && e.midi[2] === 0 && e.midi[1] === 64));
  const expected = [...new Set(c.events.filter((e) => !quiet(e)).map((e) => Math.floor(e.time / 64)))];
  const got = messageVectors(log);
  check(JSON.stringify(got) === JSON.stringify(expected),
    `${c.name}: the events act in the vectors their times fall in (${got.length} vectors)`);
  const samples = commandLine(scoreOf(c.masses, log), work, c.name);
  const loud = samples.reduce((m, v) => Math.max(m, Math.abs(v)), 0);
  const d = firstDifference(bits, samples);
  check(loud > 0.01 && d < 0,
    `${c.name}: ${bits.length} samples through the worklet are the command line's` +
    (d < 0 ? ` (peak ${loud.toFixed(3)})` : `, first difference at ${d}`));
}

async function peakLevel(page) {
  return page.evaluate(() => {
    const a = window.loopmass.analyser;
    const data = new Float32Array(a.fftSize);
    a.getFloatTimeDomainData(data);
    return data.reduce((m, v) => Math.max(m, Math.abs(v)), 0);
  });
}

// The canvas's pixels that are not the page's white.
async function inkOf(page, id) {
  return page.evaluate((id) => {
    const c = document.getElementById(id);
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let ink = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i + 3] > 0 && (d[i] < 240 || d[i + 1] < 240 || d[i + 2] < 240)) ink++;
    return ink;
  }, id);
}

// Playwright drives chromium; firefox-esr is Debian's, unpatched, which
// playwright cannot drive, so puppeteer speaks WebDriver BiDi to it.  Each
// gives the checks a page with the calls both share; chromium also the two
// only its checks need, choosing a file and catching a download.
async function chromium() {
  const browser = await modules('playwright-core').chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required'],
  });
  const page = await browser.newPage({ viewport: { width: 1100, height: 900 } });
  return {
    page,
    close: () => browser.close(),
    choose: (selector, path) => page.setInputFiles(selector, path),
    async download(selector) {
      const [d] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
      return readFileSync(await d.path(), 'utf8');
    },
  };
}

async function firefox() {
  const browser = await modules('puppeteer-core').launch({
    browser: 'firefox',
    protocol: 'webDriverBiDi',
    executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
    headless: true,
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 900 });
  return { page, close: () => browser.close() };
}

const BROWSERS = [
  { name: 'chromium', open: chromium },
  { name: 'firefox', open: firefox },
];

// Each check runs on b: the browser's page and calls, its name, the
// site's address, a work folder and the console's errors so far.  A
// browser a check cannot run in names why in skip.
const CHECKS = [
  {
    name: 'the page loads',
    async run(b) {
      const { page } = b;
      page.on('console', (m) => m.type() === 'error' && b.errors.push(m.text()));
      page.on('pageerror', (e) => b.errors.push(e.message));
      await page.goto(`${b.url}/index.html`, { waitUntil: 'load' });
      await page.waitForFunction(() => document.querySelectorAll('#profiles canvas').length === 6);
      check(b.errors.length === 0, `the page loads without console errors ${b.errors.join(' | ')}`);
    },
  },
  {
    name: 'offline performances',
    async run(b) {
      await sameAsCommandLine(b.page, b.work, { name: 'performance-256', rate: 44100, masses: 256, length: 128 * 600, events: PERFORMANCE });
      const scaled = PERFORMANCE.map((e) => ({ ...e, time: Math.round((e.time * 48000) / 44100) }));
      await sameAsCommandLine(b.page, b.work, { name: 'performance-64-at-48k', rate: 48000, masses: 64, length: 128 * 650, events: scaled });
    },
  },
  {
    name: 'realtime',
    skip: { firefox: 'headless, with no sound device, firefox-esr keeps a realtime AudioContext suspended' },
    async run(b) {
      const { page } = b;
      const ringBefore = await inkOf(page, 'ring');
      await page.click('#start');
      await page.waitForFunction(() => window.loopmass.node !== null);
      await page.keyboard.down('z');
      await page.keyboard.down('v');
      let peak = 0;
      for (let i = 0; i < 50 && peak < 1e-3; i++) {
        await pause(40);
        peak = Math.max(peak, await peakLevel(page));
      }
      check(peak >= 1e-3, `a key pressed in a realtime context sounds (peak ${peak.toFixed(4)})`);
      await page.waitForFunction(() => window.loopmass.fresh === false && window.loopmass.view[0] !== 0);
      await pause(500);
      const ringNow = await inkOf(page, 'ring'), historyNow = await inkOf(page, 'history');
      check(ringBefore === 0 && ringNow > 500 && historyNow > 1000,
        `the ring is drawn while a note sounds (${ringBefore} pixels before, ${ringNow} on the ring, ${historyNow} in its past)`);
      if (screenshot && b.name === 'chromium') await page.screenshot({ path: screenshot, fullPage: false });
      await page.keyboard.up('z');
      await page.keyboard.up('v');
    },
  },
  {
    // A preset file chosen on the page loads, and "save" downloads the
    // bank as the command line writes it.
    name: 'presets',
    skip: { firefox: 'the bank is read and saved by the realtime context, which stays suspended' },
    async run(b) {
      const { page, work } = b;
      const presets = join(root, 'hosts/pd/example-presets.txt');
      await b.choose('#load', presets);
      await page.waitForFunction(() => /Read|Could not/.test(document.getElementById('status').textContent));
      const saved = await b.download('#save');
      const written = join(work, 'written.txt');
      writeFileSync(join(work, 'write.score'), `new 256\n0 read ${presets}\n0 write ${written}\n`);
      commandLine(readFileSync(join(work, 'write.score'), 'utf8'), work, 'write');
      check(saved.length > 0 && saved === readFileSync(written, 'utf8'),
        `a preset file loaded on the page and saved is the command line's (${saved.length} bytes)`);
    },
  },
  {
    name: 'no console error',
    async run(b) {
      check(b.errors.length === 0, `no console error while playing ${b.errors.join(' | ')}`);
    },
  },
];

async function inBrowser({ name, open }, url) {
  const work = mkdtempSync(join(tmpdir(), `loopmass-web-${name}-`));
  browserName = name;
  const b = { ...(await open()), name, url, work, errors: [] };
  try {
    for (const c of CHECKS) {
      const reason = c.skip && c.skip[name];
      if (reason) console.log(`skip ${name}: ${c.name}: ${reason}`);
      else await c.run(b);
    }
  } finally {
    await b.close();
    rmSync(work, { recursive: true, force: true });
  }
}

async function main() {
  const server = await serve(site);
  try {
    for (const browser of BROWSERS) await inBrowser(browser, server.url);
  } finally {
    server.close();
  }
  console.log(failures ? `${failures} failed` : 'all passed');
  process.exit(failures ? 1 : 0);
}

main().catch((e) => {
  console.error(e);
  process.exit(2);
});
