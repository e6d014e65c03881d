// The object's WebAssembly module (module.cpp), instantiated synchronously
// from its bytes: inside an audio worklet there is no fetch, no
// TextDecoder and no importScripts, so the page hands the bytes over and
// this file does its own UTF-8.  The same class serves the worklet, Node
// (the speed measure) and the tests.

export const VECTOR = 64;
export const NOSC = 5;
export const NMASSES = 256;
export const NKINDS = 6;

// module.cpp's View, in floats.
const PROFILES = NMASSES;
const RAWS = PROFILES + NKINDS * NMASSES;
const OSCS = RAWS + NKINDS * NMASSES;
export const VIEW = {
  ring: 0,
  profile: PROFILES,
  raw: RAWS,
  pitch: OSCS,
  gain: OSCS + NOSC,
  phase: OSCS + 2 * NOSC,
  nmasses: OSCS + 3 * NOSC,
  steps: OSCS + 3 * NOSC + 1,
  preset: OSCS + 3 * NOSC + 2,
  length: OSCS + 3 * NOSC + 3,
};

const ENOSYS = 52;

// The system calls the C library imports: there are no files, no
// environment and nothing to print, and each says so.
function systemCalls(module) {
  const imports = {};
  for (const { module: space, name } of WebAssembly.Module.imports(module)) {
    imports[space] ??= {};
    let call = () => ENOSYS;
    if (name.startsWith('__syscall_')) call = () => -ENOSYS;
    else if (name === 'emscripten_notify_memory_growth') call = () => {};
    else if (name === 'proc_exit') call = (status) => { throw new Error(`loopmass: exit ${status}`); };
    imports[space][name] = call;
  }
  return imports;
}

export function utf8Encode(text, into) {
  let n = 0;
  for (const ch of text) {
    let c = ch.codePointAt(0);
    if (c < 0x80) {
      if (into) into[n] = c;
      n += 1;
      continue;
    }
    const bytes = c < 0x800 ? [0xc0 | (c >> 6), 0x80 | (c & 63)]
      : c < 0x10000 ? [0xe0 | (c >> 12), 0x80 | ((c >> 6) & 63), 0x80 | (c & 63)]
      : [0xf0 | (c >> 18), 0x80 | ((c >> 12) & 63), 0x80 | ((c >> 6) & 63), 0x80 | (c & 63)];
    if (into) into.set(bytes, n);
    n += bytes.length;
  }
  return n;
}

export function utf8Decode(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length;) {
    const b = bytes[i];
    let c, len;
    if (b < 0x80) { c = b; len = 1; }
    else if (b >= 0xf0) { c = b & 7; len = 4; }
    else if (b >= 0xe0) { c = b & 15; len = 3; }
    else { c = b & 31; len = 2; }
    for (let k = 1; k < len; k++) c = (c << 6) | (bytes[i + k] & 63);
    s += String.fromCodePoint(c);
    i += len;
  }
  return s;
}

export class Engine {
  constructor(bytes) {
    const module = new WebAssembly.Module(bytes);
    this.exports = new WebAssembly.Instance(module, systemCalls(module)).exports;
    this.exports._initialize();
    this.memory = null;
  }

  // Views of the memory, made again only when it has grown.
  follow() {
    const buffer = this.exports.memory.buffer;
    if (buffer === this.memory) return;
    this.memory = buffer;
    this.out = new Float32Array(buffer, this.exports.lm_perform_address(), VECTOR);
    this.view = new Float32Array(buffer, this.exports.lm_view_address(), VIEW.length);
  }

  // A new object at the context's rate; false when it cannot play.
  create(rate, masses, logging = false) {
    const failed = this.exports.lm_create(rate, masses, logging ? 1 : 0);
    this.memory = null;
    this.follow();
    return failed === 0;
  }

  // One vector of VECTOR samples, in a view valid until the next.
  perform() {
    this.exports.lm_perform();
    this.follow();
    return this.out;
  }

  midi(status, a = 0, b = 0) { this.exports.lm_midi(status, a, b); }
  preset(value) { this.exports.lm_preset(value); }
  settings({ volume, strike, bendRange, smooth, lowCut }) {
    this.exports.lm_settings(volume, strike, bendRange, smooth, lowCut);
  }

  // A message as a score line ("2 gain 1.5"); true when the object took it.
  message(line) { return this.withText(line, () => this.exports.lm_message() === 0); }
  // A preset file's text into the bank; true when it was read.
  read(text) { return this.withText(text, () => this.exports.lm_read() === 0); }
  // The bank as a preset file's text.
  save() {
    const length = this.exports.lm_save();
    return this.string(this.exports.lm_result(), length);
  }
  // The console lines since the last call.
  console() {
    const at = this.exports.lm_console();
    return this.string(at, this.exports.lm_result_length());
  }
  // The messages the object was sent, as a score's lines.
  log() { return this.string(this.exports.lm_log(), this.exports.lm_log_length()); }

  // The ring, profiles and oscillators now (see VIEW).
  look() {
    this.exports.lm_view();
    this.follow();
    return this.view;
  }

  // The pictures' colour map: 65 rgb triples, 0 to 1, for -1 to 1.
  colours() {
    const at = this.exports.lm_colours();
    this.follow();
    return new Float32Array(this.exports.memory.buffer, at, 65 * 3).slice();
  }

  withText(text, use) {
    const length = utf8Encode(text);
    const at = this.exports.lm_text(length);
    this.follow();
    utf8Encode(text, new Uint8Array(this.exports.memory.buffer, at, length));
    return use();
  }

  string(at, length) {
    this.follow();
    return utf8Decode(new Uint8Array(this.exports.memory.buffer, at, Math.max(length, 0)));
  }
}
