// The page: controls to messages for the worklet, frames of the ring from
// it to the canvases.
import { NKINDS, VIEW } from './engine.js';
import { Colours, History, PROFILE_NAMES, drawProfile, drawRing, profileRange } from './pictures.js';
import { BASE, isBlack, noteName, noteOf } from './piano.js';

const $ = (id) => document.getElementById(id);
const VELOCITY = 100;

// window.loopmass lets the browser tests reach the graph.
const state = window.loopmass = {
  context: null, node: null, analyser: null, starting: null,
  colours: null, view: new Float32Array(VIEW.length), fresh: false,
  masses: 256, octave: 0, keys: new Map(), editing: null, cursor: new Array(NKINDS).fill(0),
};
let history = null;

function status(text) {
  $('status').textContent = text;
}

function post(d) {
  if (state.node) state.node.port.postMessage(d);
  else if (state.starting) state.starting.then(() => state.node && state.node.port.postMessage(d));
}

async function open() {
  const context = new AudioContext();
  await context.audioWorklet.addModule('worklet.js');
  const wasm = await (await fetch('loopmass.wasm')).arrayBuffer();
  const node = new AudioWorkletNode(context, 'loopmass', {
    numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1],
    processorOptions: { wasm, masses: state.masses },
  });
  const analyser = context.createAnalyser();
  analyser.fftSize = 2048;
  node.connect(analyser);
  analyser.connect(context.destination);
  node.port.onmessage = (e) => receive(e.data);
  Object.assign(state, { context, node, analyser });
  await context.resume();
  $('start').textContent = 'Sound on';
  $('start').setAttribute('aria-pressed', 'true');
  listenToMidi();
}

function start() {
  if (!state.starting) {
    state.starting = open().catch((e) => {
      status(`The sound could not start: ${e.message}`);
      state.starting = null;
    });
  } else if (state.context) {
    state.context.resume();
  }
  return state.starting;
}

function receive(d) {
  if (d instanceof ArrayBuffer) {
    state.view.set(new Float32Array(d));
    state.node.port.postMessage({ type: 'frame', buffer: d }, [d]);
    if (state.colours) history.push(state.view, state.colours);
    state.fresh = true;
    return;
  }
  switch (d.type) {
    case 'ready':
      // A new object starts on preset 0, with the page's settings.
      state.colours = new Colours(d.colours);
      showChoice(0);
      status(d.ok ? `Playing a ring of ${d.masses} masses.` : `The object could not be made: ${d.console}`);
      sendSettings();
      break;
    case 'read':
      status(d.ok ? `Read ${d.name}.` : `Could not read ${d.name}: ${d.console.trim()}`);
      break;
    case 'save':
      download(d.text);
      break;
    case 'console':
      status(d.text.trim());
      break;
  }
}

function sendSettings() {
  post({
    settings: {
      volume: Number($('volume').value), strike: Number($('strike-mode').value), bendRange: 2,
      smooth: Number($('smooth').value), lowCut: Number($('lowcut').value),
    },
  });
}

function noteOn(note) {
  start();
  post({ midi: [0x90, note, VELOCITY] });
  pianoKey(note, true);
}

function noteOff(note) {
  post({ midi: [0x80, note, 0] });
  pianoKey(note, false);
}

// ---------------------------------------------------------------- keys

function typing(target) {
  return target instanceof HTMLInputElement && target.type !== 'range' && target.type !== 'button' ||
    target instanceof HTMLSelectElement || target instanceof HTMLTextAreaElement;
}

document.addEventListener('keydown', (e) => {
  if (e.repeat || e.ctrlKey || e.metaKey || e.altKey || typing(e.target)) return;
  const note = noteOf(e.code, state.octave);
  if (note < 0) return;
  e.preventDefault();
  if (state.keys.has(e.code)) return;
  state.keys.set(e.code, note);
  noteOn(note);
});

document.addEventListener('keyup', (e) => {
  const note = state.keys.get(e.code);
  if (note === undefined) return;
  state.keys.delete(e.code);
  noteOff(note);
});

function buildPiano() {
  const piano = $('piano');
  piano.replaceChildren();
  const low = BASE + 12 * state.octave;
  for (let note = low; note <= low + 24; note++) {
    const b = document.createElement('button');
    b.type = 'button';
    b.className = isBlack(note) ? 'black' : 'white';
    b.dataset.note = note;
    b.setAttribute('aria-label', noteName(note));
    b.textContent = note % 12 === 0 ? noteName(note) : '';
    let down = false;
    const press = (e) => { e.preventDefault(); if (!down) { down = true; noteOn(note); } };
    const release = () => { if (down) { down = false; noteOff(note); } };
    b.addEventListener('pointerdown', press);
    b.addEventListener('pointerup', release);
    b.addEventListener('pointerleave', release);
    b.addEventListener('keydown', (e) => { if (e.key === ' ' || e.key === 'Enter') { e.stopPropagation(); press(e); } });
    b.addEventListener('keyup', (e) => { if (e.key === ' ' || e.key === 'Enter') release(); });
    piano.append(b);
  }
  $('octave').textContent = noteName(low);
}

function pianoKey(note, down) {
  const b = document.querySelector(`#piano button[data-note="${note}"]`);
  if (b) b.classList.toggle('down', down);
}

function shiftOctave(by) {
  state.octave = Math.min(Math.max(state.octave + by, -3), 4);
  buildPiano();
}

function listenToMidi() {
  if (!navigator.requestMIDIAccess) {
    $('midi-status').textContent = 'This browser has no Web MIDI.';
    return;
  }
  navigator.requestMIDIAccess().then((access) => {
    const attach = () => {
      let names = [];
      for (const input of access.inputs.values()) {
        input.onmidimessage = (e) => {
          const [s, a, b] = e.data;
          if (s >= 0x80 && s < 0xf0) post({ midi: [s, a || 0, b || 0] });
        };
        names.push(input.name);
      }
      $('midi-status').textContent = names.length ? `MIDI: ${names.join(', ')}` : 'No MIDI keyboard connected.';
    };
    access.onstatechange = attach;
    attach();
  }, () => { $('midi-status').textContent = 'MIDI was not allowed.'; });
}

// ------------------------------------------------------------- presets

function buildPresets() {
  for (let i = 0; i < 10; i++) {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = i;
    b.setAttribute('aria-label', `Preset ${i}`);
    b.setAttribute('aria-pressed', i === 0 ? 'true' : 'false');
    b.addEventListener('click', () => choose(i));
    $('presets').append(b);
  }
}

function choose(value) {
  post({ preset: value });
  showChoice(value);
}

function showChoice(value) {
  $('morph').value = value;
  $('morph-value').textContent = value.toFixed(2);
  [...$('presets').children].forEach((b, i) => b.setAttribute('aria-pressed', String(i === Math.floor(value))));
}

// ------------------------------------------------------------ profiles

// A profile as its inlet takes it: forces and initial position from 0 to 1.
function profileMessage(kind, values) {
  const words = Array.from(values, (v) => (kind >= 5 ? (v + 1) / 2 : v).toFixed(5));
  return `${kind} ${words.join(' ')}`;
}

function rawOf(kind) {
  const n = state.view[VIEW.nmasses] || 0;
  return state.view.subarray(VIEW.raw + (kind - 1) * 256, VIEW.raw + (kind - 1) * 256 + n);
}

function buildProfiles() {
  for (let kind = 1; kind <= NKINDS; kind++) {
    const figure = document.createElement('figure');
    const canvas = document.createElement('canvas');
    canvas.width = 256;
    canvas.height = 80;
    canvas.tabIndex = 0;
    canvas.id = `profile-${kind}`;
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', `Profile ${PROFILE_NAMES[kind - 1]}: draw it, or use the arrow keys`);
    const caption = document.createElement('figcaption');
    caption.textContent = `${kind} ${PROFILE_NAMES[kind - 1]}`;
    figure.append(caption, canvas);
    $('profiles').append(figure);
    canvas.addEventListener('pointerdown', (e) => {
      const values = Float32Array.from(rawOf(kind));
      if (!values.length) return;
      canvas.setPointerCapture(e.pointerId);
      state.editing = { kind, canvas, values, range: profileRange(kind, values), last: -1, sent: 0 };
      paint(e);
    });
    canvas.addEventListener('pointermove', paint);
    canvas.addEventListener('pointerup', () => finish(true));
    canvas.addEventListener('pointercancel', () => finish(true));
    canvas.addEventListener('keydown', (e) => nudge(kind, e));
  }
}

function paint(e) {
  const ed = state.editing;
  if (!ed || e.currentTarget !== ed.canvas) return;
  const r = ed.canvas.getBoundingClientRect(), n = ed.values.length;
  const i = Math.min(n - 1, Math.max(0, Math.floor(((e.clientX - r.left) / r.width) * n)));
  const [lo, hi] = ed.range;
  const v = lo + (1 - Math.min(1, Math.max(0, (e.clientY - r.top) / r.height))) * (hi - lo);
  const from = ed.last < 0 ? i : ed.last;
  for (let j = Math.min(from, i); j <= Math.max(from, i); j++) ed.values[j] = v;
  ed.last = i;
  finish(false);
}

// The profile drawn so far goes to its inlet, at most 20 times a second
// while the mouse moves.
function finish(done) {
  const ed = state.editing;
  if (!ed) return;
  const now = performance.now();
  if (done || now - ed.sent > 50) {
    post({ message: profileMessage(ed.kind, ed.values) });
    ed.sent = now;
  }
  if (done) state.editing = null;
}

function nudge(kind, e) {
  const values = Float32Array.from(rawOf(kind));
  const n = values.length;
  if (!n) return;
  const c = Math.min(state.cursor[kind - 1], n - 1);
  const [lo, hi] = profileRange(kind, values);
  const step = (hi - lo) / 20;
  if (e.key === 'ArrowLeft') state.cursor[kind - 1] = (c + n - 1) % n;
  else if (e.key === 'ArrowRight') state.cursor[kind - 1] = (c + 1) % n;
  else if (e.key === 'ArrowUp' || e.key === 'ArrowDown') {
    values[c] = Math.min(hi, Math.max(lo, values[c] + (e.key === 'ArrowUp' ? step : -step)));
    post({ message: profileMessage(kind, values) });
  } else return;
  e.preventDefault();
  status(`Profile ${PROFILE_NAMES[kind - 1]}, mass ${state.cursor[kind - 1]}: ${values[state.cursor[kind - 1]].toFixed(3)}`);
}

// --------------------------------------------------------------- files

function download(text) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  a.download = 'loopmass-presets.txt';
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  status(text ? 'Saved the bank.' : 'The bank is empty: store a preset first (0 store N).');
}

async function load(file) {
  if (!file) return;
  await start();
  post({ type: 'read', text: await file.text(), name: file.name });
}

document.addEventListener('dragover', (e) => { e.preventDefault(); document.body.classList.add('dropping'); });
document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
document.addEventListener('drop', (e) => {
  e.preventDefault();
  document.body.classList.remove('dropping');
  load(e.dataTransfer.files[0]);
});

// ------------------------------------------------------------- drawing

function draw() {
  if (state.fresh && state.colours) {
    state.fresh = false;
    drawRing($('ring'), state.view, state.colours);
    const n = state.view[VIEW.nmasses];
    for (let kind = 1; kind <= NKINDS; kind++) {
      const at = (kind - 1) * 256;
      const editing = state.editing && state.editing.kind === kind ? state.editing : null;
      const raw = editing ? editing.values : state.view.subarray(VIEW.raw + at, VIEW.raw + at + n);
      const effective = state.view.subarray(VIEW.profile + at, VIEW.profile + at + n);
      drawProfile($(`profile-${kind}`), effective, raw, editing ? editing.range : profileRange(kind, raw));
    }
  }
  requestAnimationFrame(draw);
}

function wire() {
  $('start').addEventListener('click', start);
  $('strike').addEventListener('click', () => { start(); post({ message: '0 bang' }); });
  for (const id of ['volume', 'smooth', 'lowcut', 'strike-mode']) {
    $(id).addEventListener('input', () => {
      const out = document.querySelector(`output[for="${id}"]`);
      if (out) out.textContent = $(id).value;
      sendSettings();
    });
  }
  $('morph').addEventListener('input', () => choose(Number($('morph').value)));
  $('masses').addEventListener('change', () => {
    const m = Math.min(256, Math.max(3, Math.round(Number($('masses').value)) || 256));
    $('masses').value = m;
    state.masses = m;
    if (state.node) post({ type: 'create', masses: m });
  });
  $('octave-down').addEventListener('click', () => shiftOctave(-1));
  $('octave-up').addEventListener('click', () => shiftOctave(1));
  $('load').addEventListener('change', () => load($('load').files[0]));
  $('save').addEventListener('click', () => { start(); post({ type: 'save' }); });
}

history = new History($('history'));
history.clear();
buildPresets();
buildProfiles();
buildPiano();
wire();
requestAnimationFrame(draw);
