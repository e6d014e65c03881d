#!/usr/bin/env python3
"""A soak of loopmass~ in a running Pd: many objects, random messages.

    soak.py --external-dir DIR --work DIR --loopmass PROGRAM [--seed S] [--seconds T]

Writes a patch of objects of different sizes (and a few made from preset
files), each fed by a [qlist] of seeded random messages: every message the
object takes, on every inlet, with extreme arguments (0, -0, 0.5, 1e-30,
2^31, huge floats, symbols, empty lists) and file messages on files in the
work folder.  Pd runs it for T seconds of its time with DSP on and must end
by itself.  Every output sample must be finite (each object's signal times
0 is summed, and a sample that is not 0 there is counted), and every bank
file written must read back in the loopmass program without an error.
Exit status 0 when all holds.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys

# Creation arguments: sizes from 3 to 256, clamped ones, and files.
CREATIONS = ['3', '4', '5', '6', '7', '8', '9', '11', '13', '16', '17', '23', '31', '32', '33', '47', '64', '65',
             '80', '99', '100', '127', '128', '129', '160', '199', '200', '240', '255', '256', '2', '300', '-5',
             'presets64.txt', 'nosuch.txt', '']

NUMBERS = ['0', '-0', '0.5', '-0.5', '1e-30', '-1e-30', '2147483648', '-2147483648', '2147483647', '1e+38',
           '-1e+38', '3.4e+38', '-3.4e+38', '1', '2', '3', '5', '9', '-1', '-7', '0.25', '0.75', '1.5', '12.5',
           '440', '-220', '11025', '1e+09', '100', '0.001', '0.9']
SYMBOLS = ['all', 'x', 'foo', 'inf', 'nan']
FILES = ['b0.txt', 'b1.txt', 'b2.txt', 'nosuch.txt']
SELECTORS = ['reset', 'inactive', 'antialias', 'display', 'disprate', 'stop', 'info', 'all', 'gain', 'offset',
             'phase', 'extra', 'fg', 'hostrate', 'ramp', 'lowcut', 'store', 'clear', 'foo']


def atoms(rng, most):
    out = []
    for _ in range(rng.randrange(most + 1)):
        out.append(rng.choice(SYMBOLS) if rng.random() < 0.15 else rng.choice(NUMBERS))
    return out


def message(rng, absdir):
    """One message as the words that follow the inlet number."""
    kind = rng.randrange(12)
    if kind == 0:
        return [rng.choice(NUMBERS)]
    if kind == 1:
        return ['list'] + atoms(rng, 12)
    if kind == 2:
        return [rng.choice(NUMBERS)] + atoms(rng, 300 if rng.random() < 0.1 else 8)
    if kind == 3:
        return ['bang']
    if kind == 4:
        return ['fg'] + atoms(rng, 12)
    if kind == 5:
        return ['disprate', rng.choice(['0.5', '0', '1', '2.7', '0.9', '50', '-20', '1e-30', '1e+38', 'x'])]
    if kind == 6:
        name = rng.choice(FILES)
        if rng.random() < 0.3:
            name = os.path.join(absdir, name)
        return [rng.choice(['read', 'write']), name]
    if kind == 7:
        return [rng.choice(['read', 'write'])]
    if kind == 8:
        return ['clear', rng.choice(['all', '3', '-3', '0', '1.5', 'x'])]
    if kind == 9:
        return ['store'] + atoms(rng, 1)
    return [rng.choice(SELECTORS)] + atoms(rng, 5)


def write_patch(path, n):
    lines = ['#N canvas 0 0 1200 800 10;']
    wires = []

    def box(kind, text):
        lines.append('#X %s %d %d %s;' % (kind, 10 + (len(lines) % 12) * 95, 10 + (len(lines) // 12) * 25, text))
        return len(lines) - 2

    def counter(test, name):
        """Counts the samples of its input for which test is true."""
        test_, count, snap, show = (box('obj', 'expr~ ' + test), box('obj', 'rpole~ 1'), box('obj', 'snapshot~'),
                                    box('obj', 'print ' + name))
        wires.extend([(test_, 0, count, 0), (count, 0, snap, 0), (snap, 0, show, 0)])
        return test_, snap

    # A sample that is not finite makes its product with 0 not a number.
    total, bad_snap = counter('$v1 != 0', 'soak-bad')
    mix, sound_snap = counter('$v1 != 0', 'soak-sounding')
    for k in range(n):
        obj = box('obj', ('loopmass~ ' + CREATIONS[k % len(CREATIONS)]).strip())
        route = box('obj', 'route 0 1 2 3 4 5 6 7')
        recv = box('obj', 'r soak%d' % k)
        zero = box('obj', '*~ 0')
        wires += [(recv, 0, route, 0), (obj, 0, zero, 0), (zero, 0, total, 0), (obj, 0, mix, 0)]
        wires += [(route, i, obj, i) for i in range(8)]
    load = box('obj', 'loadbang')
    fan = box('obj', 't b b b')
    dsp = box('msg', '\\; pd dsp 1')
    player = box('obj', 'qlist')
    play = box('msg', 'read messages.q \\, bang')
    end = box('obj', 'delay %d' % (SECONDS * 1000))
    finish = box('obj', 't b b b')
    quit_ = box('msg', '\\; pd quit')
    wires += [(load, 0, fan, 0), (fan, 2, dsp, 0), (fan, 1, play, 0), (play, 0, player, 0), (fan, 0, end, 0),
              (end, 0, finish, 0), (finish, 2, bad_snap, 0), (finish, 1, sound_snap, 0), (finish, 0, quit_, 0)]
    with open(path, 'w') as f:
        f.write('\n'.join(lines + ['#X connect %d %d %d %d;' % w for w in wires]) + '\n')


def write_messages(path, rng, n, absdir):
    """[qlist] lines: a wait in ms, a receiver, an inlet and the message."""
    with open(path, 'w') as f:
        t = 0
        while t < SECONDS * 1000 - 200:
            wait = rng.choice([0, 0, 1, 2, 3, 5, 10, 20])
            t += wait
            words = [str(wait), 'soak%d' % rng.randrange(n), str(rng.randrange(8))] + message(rng, absdir)
            f.write(' '.join(words) + ';\n')


def reads_back(program, path, workdir):
    score = os.path.join(workdir, 'readback.score')
    with open(score, 'w') as f:
        f.write('new 8\n0 read %s\n' % path)
    out = subprocess.run([program, 'run', score], cwd=workdir, capture_output=True, text=True, timeout=60)
    return out.returncode == 0 and '\terror\t' not in out.stdout


def main():
    global SECONDS
    ap = argparse.ArgumentParser()
    ap.add_argument('--external-dir', required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('--loopmass', required=True)
    ap.add_argument('--fixtures', default=None)
    ap.add_argument('--seed', type=int, default=9)
    ap.add_argument('--seconds', type=int, default=60)
    ap.add_argument('--objects', type=int, default=len(CREATIONS))
    args = ap.parse_args()
    SECONDS = args.seconds

    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if args.fixtures:
        for name in os.listdir(args.fixtures):
            shutil.copy(os.path.join(args.fixtures, name), work)
    rng = random.Random(args.seed)
    write_patch(os.path.join(work, 'soak.pd'), args.objects)
    write_messages(os.path.join(work, 'messages.q'), rng, args.objects, work)
    before = set(os.listdir(work))

    pd = subprocess.run(['timeout', str(5 * SECONDS), 'pd', '-nogui', '-nosound', '-nrt', '-batch', '-noprefs',
                         '-nostdpath', '-r', '44100', '-stderr', '-path', os.path.abspath(args.external_dir),
                         '-open', 'soak.pd'], cwd=work, capture_output=True, text=True)
    log = pd.stdout + pd.stderr
    with open(os.path.join(work, 'pd.log'), 'w') as f:
        f.write(log)
    failures = []
    if pd.returncode != 0:
        failures.append('pd exited with %d (log in %s/pd.log)' % (pd.returncode, work))
    if log.count('loopmass~: scanned synthesis') != 1 or "couldn't create" in log:
        failures.append('the external was not loaded once, or an object not created')
    bad = [line for line in log.splitlines() if line.startswith('soak-bad:')]
    if bad != ['soak-bad: 0']:
        failures.append('samples that are not finite: %s' % (bad or 'no count'))
    sounding = [float(line.split()[1]) for line in log.splitlines() if line.startswith('soak-sounding:')]
    if not sounding or sounding[0] < 0.1 * 44100 * SECONDS:
        failures.append('the objects hardly sounded: %s samples' % sounding)
    written = sorted(set(os.listdir(work)) - before - {'pd.log'})
    for name in written:
        if not reads_back(os.path.abspath(args.loopmass), os.path.join(work, name), work):
            failures.append('%s does not read back' % name)
    if failures:
        print('soak: ' + '; '.join(failures), file=sys.stderr)
        return 1
    print('soak: %d objects, %d messages, %d s of Pd time, files written: %s'
          % (args.objects, sum(1 for _ in open(os.path.join(work, 'messages.q'))), SECONDS, ' '.join(written)))
    return 0


SECONDS = 60

if __name__ == '__main__':
    sys.exit(main())
