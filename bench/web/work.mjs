// The work the benchmarks measure, in WebAssembly: N = 256, factory preset
// 3 struck, five oscillators at 113, 223, 333, 443 and 553 Hz, struck again
// every six seconds of audio, run in 64-sample vectors.  Returns the
// seconds of audio computed per second of wall time, the median of
// `repeat` runs of `seconds` of audio each, after one run that lets the
// engine's compiler reach its optimised code.
export function speed(Engine, bytes, now, seconds = 20, repeat = 5) {
  const engine = new Engine(bytes);
  engine.create(44100, 256);
  engine.message('0 3');
  engine.message('7 113 223 333 443 553');
  const vectors = Math.round((seconds * 44100) / 64), restrike = Math.round((6 * 44100) / 64);
  const rtf = [];
  let sum = 0;
  for (let r = -1; r < repeat; r++) {
    const start = now();
    for (let v = 0; v < vectors; v++) {
      if (v % restrike === 0) engine.message('0 bang');
      sum += engine.perform()[0];
    }
    if (r >= 0) rtf.push(seconds / ((now() - start) / 1000));
  }
  rtf.sort((a, b) => a - b);
  return { rtf: rtf[Math.floor(repeat / 2)], sum };
}
