#!/usr/bin/env python3
"""Measures the pitch of one oscillator of loopmass~ in Pd at a sample rate.

    pitch.py --external-dir DIR --work DIR --rate R --hostrate H --pitch F --expect E

The ring holds one period of a sine and stands still (no tension, no
centering spring), so the output is a sine at the oscillator's pitch.  Pd
records one second of it; the pitch is measured from its rising zero
crossings.  Exit status 0 when it lies within 0.1% of E.
"""

import argparse
import math
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pdscore  # noqa: E402

MASSES = 64


def patch(rate, hostrate, pitch):
    shape = ' '.join('%.6f' % (0.5 + 0.5 * math.sin(2 * math.pi * i / MASSES)) for i in range(MASSES))
    lines = [
        '#N canvas 0 0 800 600 10;',
        '#X obj 10 10 loopmass~ %d;' % MASSES,                       # 0
        '#X msg 10 40 offset -10;',                                 # 1: no tension, no centering
        '#X msg 10 70 list %s;' % shape,                            # 2: the initial position
        '#X msg 10 100 bang;',                                      # 3
        '#X msg 10 130 hostrate %d;' % hostrate,                    # 4
        '#X msg 10 160 %g;' % pitch,                                # 5
        '#X obj 10 190 table sig %d;' % rate,                       # 6
        '#X obj 10 220 tabwrite~ sig;',                             # 7
        '#X obj 200 10 loadbang;',                                  # 8
        '#X obj 200 40 t b b b b b b b;',                           # 9
        '#X msg 200 70 \\; pd dsp 1;',                              # 10
        '#X obj 200 100 delay 1100;',                               # 11
        '#X msg 200 130 write -wave -bytes 4 sig.wav sig;',          # 12
        '#X obj 200 160 soundfiler;',                               # 13
        '#X obj 200 190 t b b;',                                    # 14
        '#X msg 200 220 \\; pd quit;',                              # 15
    ]
    wires = [(8, 0, 9, 0), (9, 6, 1, 0), (1, 0, 0, 2), (1, 0, 0, 3), (9, 5, 2, 0), (2, 0, 0, 6), (9, 4, 3, 0),
             (3, 0, 0, 0), (9, 3, 4, 0), (4, 0, 0, 0), (9, 2, 5, 0), (5, 0, 0, 7), (9, 1, 10, 0), (9, 0, 7, 0),
             (0, 0, 7, 0), (9, 0, 11, 0), (11, 0, 14, 0), (14, 1, 12, 0), (12, 0, 13, 0), (14, 0, 15, 0)]
    return '\n'.join(lines + ['#X connect %d %d %d %d;' % w for w in wires]) + '\n'


def rising_crossings(samples):
    """Times (in samples) at which the signal rises through 0, interpolated."""
    times = []
    for i in range(1, len(samples)):
        a, b = samples[i - 1], samples[i]
        if a < 0 <= b:
            times.append(i - 1 + a / (a - b))
    return times


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--external-dir', required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('--rate', type=int, required=True)
    ap.add_argument('--hostrate', type=int, required=True)
    ap.add_argument('--pitch', type=float, required=True)
    ap.add_argument('--expect', type=float, required=True)
    args = ap.parse_args()

    os.makedirs(args.work, exist_ok=True)
    with open(os.path.join(args.work, 'pitch.pd'), 'w') as f:
        f.write(patch(args.rate, args.hostrate, args.pitch))
    pd = subprocess.run(['timeout', '60', 'pd', '-nogui', '-nosound', '-nrt', '-batch', '-noprefs', '-nostdpath',
                         '-r', str(args.rate), '-stderr', '-path', os.path.abspath(args.external_dir),
                         '-open', 'pitch.pd'], cwd=args.work, capture_output=True, text=True)
    if pd.returncode != 0 or "couldn't create" in pd.stderr:
        print('pd failed (%d): %s' % (pd.returncode, pd.stderr.strip()), file=sys.stderr)
        return 1
    samples = pdscore.floats(pdscore.read_float_wav(os.path.join(args.work, 'sig.wav')))
    times = rising_crossings(samples)
    if len(times) < 10:
        print('hardly any sound: %d rising zero crossings' % len(times), file=sys.stderr)
        return 1
    hz = (len(times) - 1) * args.rate / (times[-1] - times[0])
    print('rate %d, hostrate %d, pitch %g: %.3f Hz (expected %g)' % (args.rate, args.hostrate, args.pitch, hz,
                                                                    args.expect))
    return 0 if abs(hz - args.expect) <= 0.001 * args.expect else 1


if __name__ == '__main__':
    sys.exit(main())
