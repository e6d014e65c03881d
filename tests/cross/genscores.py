#!/usr/bin/env python3
"""Writes scores that wander over what the engine does, for comparing the
bits of one build with another's: mass counts from 3 to 256, presets and
morphs between them, preset banks stored, written and read back (and files of
other mass counts read), strikes, pitches and gains of every size and sign
(wraps, steps past the ring, zero and not-a-number gains), gain ramps and
the low cut, profile edits, and vector sizes from 1 to 2048.  The same seed writes the same scores.

    genscores.py FOLDER [COUNT] [SEED]
"""
import os
import random
import sys


def pitch(r):
    return r.choice([
        '%.3f' % r.uniform(20, 2000),
        '%.6g' % r.uniform(-44100, 88200),
        r.choice(['0', '-0.', '1e-30', '1e30', '-1e30', '44100', '22050', '3e-45', '1e6']),
    ])


def gain(r):
    return r.choice(['%.3f' % r.uniform(-1, 1), '0', '-0.', '1', '2', '1e30', '1e-30'])


def event(r):
    kind = r.randrange(12)
    if kind == 0:
        return '0 %s' % r.choice([str(r.randrange(10)), '%.2f' % r.uniform(0, 9)])
    if kind == 1:
        return '0 bang'
    if kind == 2:
        voices = r.randrange(1, 6)
        if r.randrange(2):
            return '7 ' + ' '.join(pitch(r) for _ in range(voices))
        return '7 fg ' + ' '.join(pitch(r) + ' ' + gain(r) for _ in range(voices))
    if kind == 3:
        return '%d gain %s' % (r.randrange(1, 7), '%.3f' % r.uniform(0, 8))
    if kind == 4:
        return '%d all %s' % (r.randrange(1, 7), ' '.join('%.3f' % r.uniform(-1, 2) for _ in range(4)))
    if kind == 5:
        return '%d %s' % (r.randrange(1, 7), ' '.join('%.3f' % r.uniform(0, 1) for _ in range(r.randrange(1, 9))))
    if kind == 6:
        return 'vs %d' % r.choice([1, 2, 3, 7, 48, 64, 100, 256, 512, 2048])
    if kind == 7:
        return r.choice(['0 stop', 'print pos', 'print freq', 'print raw %d' % r.randrange(1, 7),
                         'print prof %d' % r.randrange(1, 7), '0 inactive 1', '0 inactive 0'])
    if kind == 8:
        return r.choice(['0 ramp %d' % r.choice([0, 1, 5, 40, 1000]), '0 ramp %.3f' % r.uniform(0, 50),
                         '0 lowcut %s' % r.choice(['0', '20', '%.2f' % r.uniform(1, 200)])])
    if kind == 11:
        bank = 'bank%d.txt' % r.randrange(3)
        return r.choice(['0 store %d' % r.randrange(10), '0 write ' + bank, '0 read ' + bank,
                         '0 read presets64.txt', '0 read factory-bank.txt', '0 clear %d' % r.randrange(10)])
    return 'run %d' % r.randrange(1, 9000)


def score(r):
    lines = ['seed %d' % r.randrange(1 << 31), 'new %d' % r.choice([3, 4, 17, 64, 100, 255, 256]),
             '0 disprate 0', '0 %d' % r.randrange(10), '0 bang', '7 ' + pitch(r)]
    for _ in range(r.randrange(20, 40)):
        lines.append(event(r))
    lines += ['0 inactive 0', '7 fg 220 0.5 331 0.25', 'run 4410', 'print pos']
    return '\n'.join(lines) + '\n'


def main():
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 24
    r = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        with open(os.path.join(folder, 'generated%02d.score' % i), 'w') as f:
            f.write(score(r))


if __name__ == '__main__':
    main()
