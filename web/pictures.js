// The ring as the pictures show it: a closed loop, and its recent past
// scrolling as the colour map (time across, mass index up, position as
// colour), with the command line's colours, which the module gives.
import { NOSC, NKINDS, VIEW } from './engine.js';

export class Colours {
  // table: 65 rgb triples from 0 to 1, for positions -1 to 1 by 1/32.
  constructor(table) {
    this.bytes = new Uint8ClampedArray(table.length);
    for (let i = 0; i < table.length; i++) this.bytes[i] = Math.round(table[i] * 255);
    this.css = [];
    for (let i = 0; i < table.length; i += 3)
      this.css.push(`rgb(${this.bytes[i]}, ${this.bytes[i + 1]}, ${this.bytes[i + 2]})`);
  }
  // The step of a position, as draw::position_colour rounds it.
  index(v) {
    return Math.round((Math.min(Math.max(v, -1), 1) + 1) * 32);
  }
}

const OSC_COLOURS = ['#e07b00', '#2a9d3f', '#7b3fbf', '#c2185b', '#00838f'];

export function drawRing(canvas, frame, colours) {
  const g = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height, r = Math.min(w, h) * 0.3;
  const n = frame[VIEW.nmasses];
  // The loop at mass index i, between masses where i is not whole.
  const at = (i) => {
    const a = (2 * Math.PI * i) / n - Math.PI / 2;
    const j = Math.floor(i), f = i - j;
    const y = (1 - f) * frame[VIEW.ring + (j % n)] + (f ? f * frame[VIEW.ring + ((j + 1) % n)] : 0);
    const v = Math.min(Math.max(y, -1.5), 1.5);
    const d = r * (1 + 0.45 * v);
    return [w / 2 + d * Math.cos(a), h / 2 + d * Math.sin(a)];
  };
  g.clearRect(0, 0, w, h);
  g.strokeStyle = '#ddd';
  g.beginPath();
  g.arc(w / 2, h / 2, r, 0, 2 * Math.PI);
  g.stroke();
  // A band in the colour of each mass's position, the loop drawn over it.
  g.lineWidth = Math.max(4, Math.min(10, 1200 / n));
  g.lineCap = 'round';
  for (let i = 0; i < n; i++) {
    const [x0, y0] = at(i), [x1, y1] = at(i + 1);
    g.strokeStyle = colours.css[colours.index(frame[VIEW.ring + i])];
    g.beginPath();
    g.moveTo(x0, y0);
    g.lineTo(x1, y1);
    g.stroke();
  }
  g.lineWidth = 1;
  g.strokeStyle = '#333';
  g.beginPath();
  for (let i = 0; i <= n; i++) {
    const [x, y] = at(i);
    if (i === 0) g.moveTo(x, y);
    else g.lineTo(x, y);
  }
  g.stroke();
  // The oscillators where they read the ring, as large as their gains.
  for (let k = 0; k < NOSC; k++) {
    const gain = frame[VIEW.gain + k];
    if (!(gain > 0) || !(frame[VIEW.pitch + k] > 0)) continue;
    const [x, y] = at(frame[VIEW.phase + k]); // a phase counts masses
    g.fillStyle = OSC_COLOURS[k];
    g.beginPath();
    g.arc(x, y, 3 + 30 * Math.min(gain, 0.3), 0, 2 * Math.PI);
    g.fill();
  }
}

export class History {
  constructor(canvas) {
    this.canvas = canvas;
    this.g = canvas.getContext('2d');
    this.column = this.g.createImageData(1, canvas.height);
  }
  clear() {
    this.g.fillStyle = '#fff';
    this.g.fillRect(0, 0, this.canvas.width, this.canvas.height);
  }
  // One column more on the right: mass 0 at the bottom.
  push(frame, colours) {
    const { canvas, g, column } = this;
    const h = canvas.height, n = frame[VIEW.nmasses];
    g.drawImage(canvas, -1, 0);
    for (let y = 0; y < h; y++) {
      const i = Math.floor(((h - 1 - y) * n) / h);
      const c = 3 * colours.index(frame[VIEW.ring + i]);
      column.data[4 * y] = colours.bytes[c];
      column.data[4 * y + 1] = colours.bytes[c + 1];
      column.data[4 * y + 2] = colours.bytes[c + 2];
      column.data[4 * y + 3] = 255;
    }
    g.putImageData(column, canvas.width - 1, 0);
  }
}

export const PROFILE_NAMES = ['masses', 'string tension', 'centering spring', 'damping', 'forces', 'initial position'];

// The range a profile is drawn in: forces and initial position -1 to 1,
// the others from 0 (or their least) to a quarter above their most.
export function profileRange(kind, values) {
  if (kind >= 5) return [-1, 1];
  let lo = 0, hi = 0;
  for (const v of values) {
    lo = Math.min(lo, v);
    hi = Math.max(hi, v);
  }
  return [lo, hi > lo ? lo + 1.25 * (hi - lo) : lo + 1];
}

export function drawProfile(canvas, effective, raw, range) {
  const g = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height, n = raw.length;
  const [lo, hi] = range;
  const y = (v) => h - 2 - ((v - lo) / (hi - lo || 1)) * (h - 4);
  g.clearRect(0, 0, w, h);
  g.strokeStyle = '#ddd';
  g.beginPath();
  g.moveTo(0, y(0));
  g.lineTo(w, y(0));
  g.stroke();
  for (const [values, style] of [[effective, '#9bb7d0'], [raw, '#20486b']]) {
    g.strokeStyle = style;
    g.lineWidth = 2;
    g.beginPath();
    for (let i = 0; i < n; i++) {
      const x = ((i + 0.5) * w) / n;
      if (i === 0) g.moveTo(x, y(values[i]));
      else g.lineTo(x, y(values[i]));
    }
    g.stroke();
  }
}

export { NKINDS };
