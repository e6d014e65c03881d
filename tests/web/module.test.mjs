// The page's WebAssembly module under Node, through the class the worklet
// uses: what it sends the object for the settings at each rate, the
// messages it takes and refuses, the bank's text against the command
// line's written file, the colour map, and the page's pure helpers.
//   node tests/web/module.test.mjs ROOT
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const root = process.argv[2];
const site = join(root, 'build/web');
const { Engine, VIEW, utf8Decode, utf8Encode } = await import(pathToFileURL(join(site, 'engine.js')));
const { noteOf } = await import(pathToFileURL(join(site, 'piano.js')));
const { scoreOf } = await import(pathToFileURL(join(root, 'tests/web/scores.mjs')));
const bytes = readFileSync(join(site, 'loopmass.wasm'));

let failures = 0;
function same(got, want, what) {
  const ok = JSON.stringify(got) === JSON.stringify(want);
  if (!ok) {
    failures++;
    console.log(`FAIL ${what}\n  got  ${JSON.stringify(got)}\n  want ${JSON.stringify(want)}`);
  }
}

function commandLine(score) {
  const work = mkdtempSync(join(tmpdir(), 'loopmass-module-'));
  try {
    writeFileSync(join(work, 'in.score'), score);
    const native = join(root, 'build/release/loopmass');
    const [program, args] = existsSync(native) ? [native, []] : ['node', [join(site, 'cli/loopmass.js')]];
    const run = spawnSync(program, [...args, 'run', 'in.score', '--quiet'], { cwd: work, encoding: 'utf8' });
    if (run.status !== 0) throw new Error(run.stderr);
    return readFileSync(join(work, 'out.txt'), 'utf8');
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
}

const engine = new Engine(bytes);

// The smoothing and low cut in the object's terms: a real 5 ms and 20 Hz
// at every rate, within the object's limits, sent only when they change.
for (const [rate, want] of [
  [44100, ['0 ramp 5.0', '0 lowcut 20.0', '0 lowcut 150.0', '0 ramp 50.0', '0 lowcut 200.0']],
  [48000, ['0 ramp 5.442177', '0 lowcut 18.375', '0 lowcut 137.8125', '0 ramp 54.42177', '0 lowcut 183.75']],
  [22050, ['0 ramp 2.5', '0 lowcut 40.0', '0 lowcut 200.0', '0 ramp 25.0']],
]) {
  engine.create(rate, 64, true);
  engine.settings({ volume: 0.5, strike: 1, bendRange: 2, smooth: 5, lowCut: 150 });
  engine.settings({ volume: 0.5, strike: 1, bendRange: 2, smooth: 80, lowCut: 999 });
  same(engine.log().trim().split('\n'), want, `settings at ${rate} Hz`);
}

// A note's pitch scaled to sound right at the context's rate, its gain
// velocity / 127 x volume / 5; a second note does not strike.
for (const [rate, first] of [[44100, '261.62558 0.07874016'], [48000, '240.36848 0.07874016']]) {
  engine.create(rate, 64, true);
  engine.midi(0x90, 60, 100);
  engine.midi(0x90, 67, 50);
  const lines = engine.log().trim().split('\n').slice(2);
  same(lines.map((l) => l.split(' ').slice(0, 4).join(' ')),
    [`7 fg ${first}`, '0 bang', `7 fg ${first}`], `two notes at ${rate} Hz`);
}

// Lines the object takes, as the log writes them, and lines it refuses,
// which leave no trace.
engine.create(44100, 16, true);
const taken = [['0 3', '0 3'], ['2 gain 1.5', '2 gain 1.5'], ['5 0.1 0.2', '5 0.1 0.2'],
  ['7 220.0 330', '7 220.0 330'], ['0 2.5', '0 2.5'], ['4 extra 2', '4 extra 2']];
const refused = ['8 1', '-1 bang', 'x 1', '0', '', '0 1 ; 2', '0 nosuchmessage', '9 ramp 5'];
for (const [line] of taken) same(engine.message(line), true, `takes "${line}"`);
for (const line of refused) same(engine.message(line), false, `refuses "${line}"`);
same(engine.log().trim().split('\n').slice(2), taken.map(([, logged]) => logged), 'the log of the lines taken');

// The bank read from a preset file and saved is the file the command line
// writes after reading it; text that is no preset file leaves it whole.
const presets = join(root, 'hosts/pd/example-presets.txt');
engine.create(44100, 256, false);
same(engine.read(readFileSync(presets, 'utf8')), true, 'reads the example presets');
engine.console();
const saved = engine.save();
same(saved, commandLine(`new 256\n0 read ${presets}\n0 write out.txt\n`), 'the saved bank is the command line\'s file');
same(engine.read('64 -2 2;\n0;\nnot a preset file;\n'), false, 'refuses a broken preset file');
same(engine.console().includes('error'), true, 'says why it refused the file');
same(engine.save(), saved, 'a refused file leaves the bank whole');

// The memory grows under a large text; the views of the sound and the ring
// follow it.
engine.create(44100, 256, false);
engine.midi(0x90, 60, 100);
for (let v = 0; v < 40; v++) engine.perform();
const small = engine.exports.memory.buffer.byteLength;
same(engine.read('x'.repeat(32 << 20)), false, 'refuses 32 MB of text');
const grown = engine.exports.memory.buffer.byteLength;
const out = engine.perform();
same([grown > small, out.length, out.some((v) => v !== 0), engine.look()[VIEW.nmasses]],
  [true, 64, true, 256], 'the views after the memory grew');

// The pictures' colour map, as draw::position_colour gives it.
const colours = engine.colours();
const bits = (values) => Array.from(new Uint32Array(Float32Array.from(values).buffer));
same(colours.length, 65 * 3, 'colours: 65 steps');
for (const [step, rgb] of [[0, [0.02, 0.19, 0.38]], [32, [0.97, 0.97, 0.97]], [64, [0.40, 0.00, 0.12]],
  [16, [0.26, 0.58, 0.76]], [8, [0.14, 0.385, 0.57]]]) {
  same(bits(colours.slice(3 * step, 3 * step + 3)), bits(rgb), `colour of step ${step}`);
}

// The log as a score: the vectors between messages as one run.
same(scoreOf(3, '0 ramp 5.0\nrun 64\nrun 64\n7 fg 1.0 1.0\n0 bang\nrun 64\n'),
  'vs 64\nseed 0\nnew 3\n0 ramp 5.0\nrun 128\n7 fg 1.0 1.0\n0 bang\nrun 64\n', 'a log as a score');

// UTF-8 both ways, as the worklet has no TextEncoder.
for (const text of ['abc', 'é', '€ 1;', '𝄞 x', '']) {
  const buffer = new Uint8Array(utf8Encode(text));
  utf8Encode(text, buffer);
  same([Array.from(buffer), utf8Decode(buffer)], [Array.from(Buffer.from(text)), text], `UTF-8 of "${text}"`);
}

// The two piano rows.
for (const [code, octave, note] of [['KeyZ', 0, 48], ['KeyS', 0, 49], ['Comma', 0, 60], ['KeyQ', 0, 60],
  ['Digit2', 0, 61], ['KeyI', 0, 72], ['KeyZ', 1, 60], ['KeyA', 0, -1], ['Digit1', 0, -1], ['KeyZ', -5, -1]]) {
  same(noteOf(code, octave), note, `${code} at octave ${octave}`);
}

console.log(failures ? `module: ${failures} failed` : 'module: all passed');
process.exit(failures ? 1 : 0);
