// The audio worklet: the object in 64-sample vectors at the context's
// rate, whatever the render quantum, and the ring sent to the page at the
// screen's rate in buffers that go back and forth (none is made while
// audio runs).
import { Engine, VECTOR, VIEW } from './engine.js';

const FRAMES = 3;      // buffers of the ring on their way to the page
const FRAME_RATE = 60; // frames a second, at most

class LoopmassProcessor extends AudioWorkletProcessor {
  // processorOptions: wasm (the module's bytes), masses, and for a render
  // that a test compares: events [{time, midi | preset | settings |
  // message}] acting at the start of the vector their sample time falls
  // in, log (keep the messages sent to the object) and length (samples,
  // after which the log is posted).
  constructor(options) {
    super();
    const o = options.processorOptions;
    this.engine = new Engine(o.wasm);
    this.events = o.events || [];
    this.length = o.length || 0;
    this.logging = !!o.log;
    this.used = VECTOR;
    this.samples = 0;
    this.next = 0;
    this.pool = [];
    for (let i = 0; i < FRAMES; i++) this.pool.push(new Float32Array(VIEW.length));
    this.transfer = [null];
    this.frameEvery = Math.round(sampleRate / FRAME_RATE);
    this.sinceFrame = 0;
    this.port.onmessage = (e) => this.receive(e.data);
    this.create(o.masses || 256);
  }

  create(masses) {
    const ok = this.engine.create(sampleRate, masses, this.logging);
    this.samples = 0;
    this.used = VECTOR;
    this.port.postMessage({ type: 'ready', ok, masses, colours: this.engine.colours(), console: this.engine.console() });
  }

  act(d) {
    const e = this.engine;
    if (d.midi) e.midi(d.midi[0], d.midi[1] || 0, d.midi[2] || 0);
    else if (d.preset !== undefined) e.preset(d.preset);
    else if (d.settings) e.settings(d.settings);
    else if (d.message !== undefined) {
      if (!e.message(d.message)) this.port.postMessage({ type: 'console', text: `not taken: ${d.message}\n` });
    }
  }

  receive(d) {
    const e = this.engine;
    switch (d.type) {
      case 'frame': this.pool.push(new Float32Array(d.buffer)); break;
      case 'create': this.create(d.masses); break;
      case 'read': {
        const ok = e.read(d.text);
        this.port.postMessage({ type: 'read', ok, name: d.name, console: e.console() });
        break;
      }
      case 'save': this.port.postMessage({ type: 'save', text: e.save() }); break;
      case 'log': this.port.postMessage({ type: 'log', text: e.log() }); break;
      default: this.act(d);
    }
  }

  // Events scheduled at sample times, before the vector they fall in.
  due() {
    const end = this.samples + VECTOR;
    while (this.next < this.events.length && this.events[this.next].time < end) this.act(this.events[this.next++]);
  }

  frame(n) {
    this.sinceFrame += n;
    if (this.sinceFrame < this.frameEvery || this.pool.length === 0) return;
    this.sinceFrame = 0;
    const frame = this.pool.pop();
    frame.set(this.engine.look());
    this.transfer[0] = frame.buffer;
    this.port.postMessage(frame.buffer, this.transfer);
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    // A message between two calls may have grown the memory.
    this.engine.follow();
    for (let i = 0; i < out.length; i++) {
      if (this.used === VECTOR) {
        this.due();
        this.engine.perform();
        this.samples += VECTOR;
        this.used = 0;
      }
      out[i] = this.engine.out[this.used++];
    }
    this.frame(out.length);
    if (this.length && this.samples >= this.length) {
      this.port.postMessage({ type: 'log', text: this.engine.log() });
      this.length = 0;
    }
    return true;
  }
}

registerProcessor('loopmass', LoopmassProcessor);
