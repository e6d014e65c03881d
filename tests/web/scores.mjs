// What the tests make of the worklet's log and the command line's files.

// The log of the messages the object was sent (each vector as "run 64")
// as a score for the command line, the vectors between messages as one
// run.
export function scoreOf(masses, log) {
  let score = `vs 64\nseed 0\nnew ${masses}\n`;
  let run = 0;
  for (const line of log.split('\n')) {
    if (line === '') continue;
    if (line === 'run 64') {
      run += 64;
      continue;
    }
    if (run) score += `run ${run}\n`;
    run = 0;
    score += `${line}\n`;
  }
  if (run) score += `run ${run}\n`;
  return score;
}

// The samples of a mono float WAV file.
export function wavSamples(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = String.fromCharCode(...bytes.subarray(at, at + 4));
    const size = view.getUint32(at + 4, true);
    if (id === 'data') {
      const samples = new Float32Array(size / 4);
      for (let i = 0; i < samples.length; i++) samples[i] = view.getFloat32(at + 8 + 4 * i, true);
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  throw new Error('no data chunk in the WAV file');
}
