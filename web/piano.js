// The computer keyboard as two piano rows, by the keys' places (not their
// letters), so that every layout plays the same notes: the lower row from
// Z starts at the base note, the upper row from Q an octave higher.

const LOWER = ['KeyZ', 'KeyS', 'KeyX', 'KeyD', 'KeyC', 'KeyV', 'KeyG', 'KeyB', 'KeyH', 'KeyN', 'KeyJ', 'KeyM',
  'Comma', 'KeyL', 'Period', 'Semicolon', 'Slash'];
const UPPER = ['KeyQ', 'Digit2', 'KeyW', 'Digit3', 'KeyE', 'KeyR', 'Digit5', 'KeyT', 'Digit6', 'KeyY', 'Digit7',
  'KeyU', 'KeyI', 'Digit9', 'KeyO', 'Digit0', 'KeyP', 'BracketLeft', 'Equal', 'BracketRight'];

export const BASE = 48; // C3

// The MIDI note a key plays with the octave shift, or -1 for none.
export function noteOf(code, octave = 0) {
  let step = LOWER.indexOf(code);
  if (step < 0) {
    step = UPPER.indexOf(code);
    if (step >= 0) step += 12;
  }
  if (step < 0) return -1;
  const note = BASE + 12 * octave + step;
  return note >= 0 && note <= 127 ? note : -1;
}

const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

export function noteName(note) {
  return NAMES[note % 12] + (Math.floor(note / 12) - 1);
}

export function isBlack(note) {
  return NAMES[note % 12].length > 1;
}
