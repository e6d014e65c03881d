#!/usr/bin/env python3
"""Plays a score in Pure Data and with the loopmass program, and compares.

    pdscore.py SCORE --loopmass PROGRAM --external-dir DIR --work DIR

The score (the program's own format, restricted to what a patch can say:
`new`, `I MESSAGE`, `run N` with N a multiple of 64, `print`/`assist` lines
ignored) becomes a patch: messages at time 0 come from a [loadbang] before
DSP starts, later ones from [delay N 1 samp] at block boundaries.  The patch
records the signal with [tabwrite~] and every list of outlets 1 and 2 into an
array (length, outlet, atoms), and writes both with [soundfiler] as 32-bit
floats, so nothing is rounded on the way.  The program runs the same score at
vector size 64.  Compared: the signal sample for sample, the lists atom for
atom (bits), the console lines after creation, and preset files written.

Pd seeds the object's generator with the calendar time at creation; the
program is run with every seed between the times before and after Pd ran.
Exit status 0 when they match, 1 when not (the reason on stderr).
"""

import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import time

BLOCK = 64
SCALE_BITS = 100
PD_TIMEOUT = 60


class Mismatch(Exception):
    pass


# ------------------------------------------------------------------ score

def parse_score(path):
    """Returns (creation words, [(sample time, inlet, words)], total samples)."""
    new_args, events, now = None, [], 0
    with open(path) as f:
        for lineno, line in enumerate(f, 1):
            words = line.split('#', 1)[0].split()
            if not words:
                continue
            head = words[0]
            where = '%s:%d' % (path, lineno)
            if head == 'new':
                if new_args is not None:
                    raise SystemExit('%s: one object per score' % where)
                new_args = words[1:]
            elif head == 'run':
                n = int(words[1])
                if n <= 0 or n % BLOCK:
                    raise SystemExit('%s: runs must be whole blocks of %d' % (where, BLOCK))
                now += n
            elif head in ('print', 'assist'):
                pass
            elif head.isdigit() and 0 <= int(head) <= 7 and new_args is not None:
                for w in words[1:]:
                    if is_whole_float(w):
                        raise SystemExit('%s: %s is an int in Pd; write it without a point' % (where, w))
                events.append((now, int(head), words[1:]))
            else:
                raise SystemExit('%s: not playable in a patch: %s' % (where, line.strip()))
    if new_args is None or now == 0:
        raise SystemExit('%s: needs a new line and a run' % path)
    return new_args, events, now


def is_whole_float(word):
    if not any(c in word for c in '.eE') or word.lower() in ('inf', '-inf', 'nan'):
        return False
    try:
        v = float(word)
    except ValueError:
        return False
    return math.isfinite(v) and v == math.floor(v)


def pd_escape(word):
    return ''.join('\\' + c if c in ';,$' else c for c in word)


# ------------------------------------------------------------------ patch

class Patch:
    def __init__(self):
        self.lines, self.count = [], 0

    def box(self, kind, text):
        self.lines.append('#X %s %d %d %s;' % (kind, 10 + (self.count % 8) * 90, 10 + (self.count // 8) * 30, text))
        self.count += 1
        return self.count - 1

    def obj(self, text):
        return self.box('obj', text)

    def msg(self, text):
        return self.box('msg', text)

    def connect(self, a, outlet, b, inlet):
        self.lines.append('#X connect %d %d %d %d;' % (a, outlet, b, inlet))

    def text(self):
        return '#N canvas 0 0 800 600 10;\n' + '\n'.join(self.lines) + '\n'


def fan_out(p, source, outlet, targets):
    """Bangs each target in order, through one [t b b ...]."""
    t = p.obj('t' + ' b' * len(targets))
    p.connect(source, outlet, t, 0)
    for i, target in enumerate(targets):
        p.connect(t, len(targets) - 1 - i, target, 0)


def make_patch(new_args, events, total, recsize):
    p = Patch()
    lm = p.obj(' '.join(['loopmass~'] + [pd_escape(w) for w in new_args]))
    # [tabwrite~] writes 0 for any value below 2^-63 (and for -0), so the
    # signal goes in three tracks that together give back every bit: as it
    # is, times 2^100, and the sign of a zero as atan2(x, -1) = +-pi.
    tabs = []
    for name, scale in (('sig', None), ('sigb', '*~ %d' % 2**SCALE_BITS), ('sigc', r'expr~ atan2(\$v1 \, -1)')):
        p.obj('table %s %d' % (name, total))
        tab = p.obj('tabwrite~ ' + name)
        if scale:
            op = p.obj(scale)
            p.connect(lm, 0, op, 0)
            p.connect(op, 0, tab, 0)
        else:
            p.connect(lm, 0, tab, 0)
        tabs.append(tab)
    p.obj('table rec %d' % recsize)

    # Recorder: each list L of outlet k is stored as (len(L) + 1, k, L...)
    # at the next free place of the array.
    into = p.obj('t a a')
    for outlet in (1, 2):
        tag = p.obj('list prepend %d' % outlet)
        p.connect(lm, outlet, tag, 0)
        p.connect(tag, 0, into, 0)
    length, lengths, step = p.obj('list length'), p.obj('t f f'), p.obj('+ 1')
    order, acc, accout, add = p.obj('t b f'), p.obj('f'), p.obj('t f f'), p.obj('+')
    prefix, store = p.obj('list prepend'), p.obj('array set rec')
    p.connect(into, 1, length, 0)
    p.connect(length, 0, lengths, 0)
    p.connect(lengths, 1, prefix, 1)
    p.connect(lengths, 0, step, 0)
    p.connect(step, 0, order, 0)
    p.connect(order, 1, add, 1)
    p.connect(order, 0, acc, 0)
    p.connect(acc, 0, accout, 0)
    p.connect(accout, 1, store, 1)
    p.connect(accout, 0, add, 0)
    p.connect(add, 0, acc, 1)
    p.connect(into, 0, prefix, 0)
    p.connect(prefix, 0, store, 0)

    # Messages, grouped by time.
    times = sorted(set(t for t, _, _ in events))
    groups = {}
    for t in times:
        boxes = []
        for when, inlet, words in events:
            if when == t:
                m = p.msg(' '.join(pd_escape(w) for w in words))
                p.connect(m, 0, lm, inlet)
                boxes.append(m)
        groups[t] = boxes

    # The end: write both arrays, then quit.
    write = p.msg(' \\, '.join('write -wave -bytes 4 %s.wav %s' % (n, n) for n in ('sig', 'sigb', 'sigc', 'rec')))
    soundfiler = p.obj('soundfiler')
    p.connect(write, 0, soundfiler, 0)
    quit_ = p.msg('\\; pd quit')
    finish = p.obj('t b b')
    p.connect(finish, 1, write, 0)
    p.connect(finish, 0, quit_, 0)

    starters = []
    for t in times:
        if t > 0:
            d = p.obj('delay %d 1 samp' % t)
            fan_out(p, d, 0, groups[t])
            starters.append(d)
    end = p.obj('delay %d 1 samp' % total)
    p.connect(end, 0, finish, 0)
    starters.append(end)

    # At load: the messages of time 0, then recording and DSP, then the clocks.
    load = p.obj('loadbang')
    first = []
    if 0 in groups:
        t0 = p.obj('t' + ' b' * len(groups[0]))
        for i, m in enumerate(groups[0]):
            p.connect(t0, len(groups[0]) - 1 - i, m, 0)
        first.append(t0)
    dsp = p.msg('\\; pd dsp 1')
    fan_out(p, load, 0, first + tabs + [dsp] + starters)
    return p.text()


# ------------------------------------------------------------------ files

def read_float_wav(path):
    """Samples of a 32-bit float WAV as raw little-endian bytes."""
    with open(path, 'rb') as f:
        data = f.read()
    if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        raise Mismatch('%s: not a WAV file' % path)
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack('<I', data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b'fmt ':
            fmt = struct.unpack('<HHIIHH', body[:16])
        elif cid == b'data':
            samples = body
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None:
        raise Mismatch('%s: no fmt or data chunk' % path)
    tag, channels, _, _, _, bits = fmt
    if tag not in (3, 0xFFFE) or channels != 1 or bits != 32:
        raise Mismatch('%s: not mono 32-bit float (format %d, %d channels, %d bits)' % (path, tag, channels, bits))
    return samples


def join_tracks(plain, scaled, zerosign):
    """The signal as raw float bytes, from the three recorded tracks."""
    out = []
    for i, (a, b, c) in enumerate(zip(floats(plain), floats(scaled), floats(zerosign))):
        if a != 0:
            out.append(a)
        elif b != 0:
            out.append(math.ldexp(b, -SCALE_BITS))
        elif abs(c) == float(struct.unpack('<f', struct.pack('<f', math.pi))[0]):
            out.append(math.copysign(0.0, c))
        else:
            raise Mismatch('sample %d cannot be recorded (NaN or beyond 2^65)' % i)
    return struct.pack('<%df' % len(out), *out)


def floats(raw):
    return struct.unpack('<%df' % (len(raw) // 4), raw)


def f32_bits(v):
    if math.isnan(v):
        return 'nan'
    return struct.pack('<f', v)


# -------------------------------------------------------------- transcripts

def run_program(program, score, seed, workdir):
    out = subprocess.run([program, 'run', os.path.abspath(score), '--vs', str(BLOCK), '--seed', str(seed),
                          '-o', 'out.wav'], cwd=workdir, capture_output=True, text=True, timeout=300)
    if out.returncode != 0:
        raise SystemExit('%s failed (%d): %s' % (program, out.returncode, out.stderr.strip()))
    return [line.split('\t', 2) for line in out.stdout.splitlines()]


def creation_lines(program, new_args, workdir):
    """How many transcript lines the banner and creation make."""
    score = os.path.join(workdir, 'creation.score')
    with open(score, 'w') as f:
        f.write('new %s\n' % ' '.join(new_args))
    return len(run_program(program, score, 0, workdir))


def program_records(lines):
    recs = []
    for _, channel, payload in lines:
        if channel in ('out1', 'out2'):
            atoms = [float(w) for w in payload.split()]
            recs.append((int(channel[3]), [f32_bits(v) for v in atoms]))
    return recs


def pd_records(raw):
    values, recs, i = floats(raw), [], 0
    while i < len(values) and values[i] != 0:
        n = int(values[i])
        if n < 1 or i + 1 + n > len(values):
            raise Mismatch('recorded lists are cut at atom %d' % i)
        recs.append((int(values[i + 1]), [f32_bits(v) for v in values[i + 2:i + 1 + n]]))
        i += 1 + n
    return recs


def compare_records(ours, theirs):
    for k, (a, b) in enumerate(zip(ours, theirs)):
        if a != b:
            raise Mismatch('list %d differs: Pd sent outlet %d with %d atoms, the program outlet %d with %d atoms%s'
                           % (k, a[0], len(a[1]), b[0], len(b[1]),
                              '' if len(a[1]) != len(b[1]) else
                              ' (first different atom %d)' % next(i for i in range(len(a[1])) if a[1][i] != b[1][i])))
    if len(ours) != len(theirs):
        raise Mismatch('Pd sent %d lists, the program %d' % (len(ours), len(theirs)))


def compare_signal(ours, theirs):
    if len(ours) != len(theirs):
        raise Mismatch('Pd recorded %d samples, the program %d' % (len(ours) // 4, len(theirs) // 4))
    if ours != theirs:
        a, b = floats(ours), floats(theirs)
        i = next(i for i in range(len(a)) if struct.pack('<f', a[i]) != struct.pack('<f', b[i]))
        raise Mismatch('sample %d differs: Pd %r, the program %r' % (i, a[i], b[i]))


def compare_console(lines, log):
    """The program's console lines, in order, among Pd's."""
    pd_lines = [l[len('error: '):] if l.startswith('error: ') else l for l in log.splitlines()]
    at = 0
    for _, channel, payload in lines:
        if channel not in ('post', 'error'):
            continue
        while at < len(pd_lines) and pd_lines[at] != payload:
            at += 1
        if at == len(pd_lines):
            raise Mismatch('console line missing in Pd: %s' % payload)
        at += 1


def compare_files(pd_dir, prog_dir, names):
    for name in names:
        a, b = os.path.join(pd_dir, name), os.path.join(prog_dir, name)
        if os.path.exists(a) != os.path.exists(b):
            raise Mismatch('%s written by only one of them' % name)
        if os.path.exists(a) and open(a, 'rb').read() != open(b, 'rb').read():
            raise Mismatch('%s differs' % name)


# ------------------------------------------------------------------ main

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('score')
    ap.add_argument('--loopmass', required=True)
    ap.add_argument('--external-dir', required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('--fixtures', default=None, help='folder whose files both sides start with')
    args = ap.parse_args()

    new_args, events, total = parse_score(args.score)
    pd_dir, prog_dir = os.path.join(args.work, 'pd'), os.path.join(args.work, 'program')
    for d in (pd_dir, prog_dir):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        if args.fixtures:
            for name in os.listdir(args.fixtures):
                shutil.copy(os.path.join(args.fixtures, name), d)
    before = set(os.listdir(pd_dir))

    program = os.path.abspath(args.loopmass)
    skip = creation_lines(program, new_args, prog_dir)
    probe = program_records(run_program(program, args.score, 0, prog_dir)[skip:])
    recsize = sum(len(atoms) + 2 for _, atoms in probe) + 1024

    with open(os.path.join(pd_dir, 'score.pd'), 'w') as f:
        f.write(make_patch(new_args, events, total, recsize))
    for d in (pd_dir, prog_dir):  # the probe run may have written files
        for name in set(os.listdir(d)) - before - {'score.pd'}:
            os.remove(os.path.join(d, name))

    t0 = int(time.time())
    pd = subprocess.run(['timeout', str(PD_TIMEOUT), 'pd', '-nogui', '-nosound', '-nrt', '-batch', '-noprefs',
                         '-r', '44100', '-stderr', '-path', os.path.abspath(args.external_dir), '-open', 'score.pd'],
                        cwd=pd_dir, capture_output=True, text=True)
    t1 = int(time.time())
    log = pd.stdout + pd.stderr
    with open(os.path.join(args.work, 'pd.log'), 'w') as f:
        f.write(log)
    try:
        if pd.returncode != 0:
            raise Mismatch('pd exited with %d' % pd.returncode)
        if "couldn't create" in log:
            raise Mismatch("pd couldn't create an object (see %s/pd.log)" % args.work)
        signal = join_tracks(*[read_float_wav(os.path.join(pd_dir, n + '.wav')) for n in ('sig', 'sigb', 'sigc')])
        if not any(floats(signal)):
            raise Mismatch('the recorded signal is silent')
        ours = pd_records(read_float_wav(os.path.join(pd_dir, 'rec.wav')))
        written = sorted(set(os.listdir(pd_dir)) - before - {'score.pd', 'sig.wav', 'sigb.wav', 'sigc.wav', 'rec.wav'})

        # The seed that Pd used lies between t0 and t1.
        failures = []
        for seed in range(t0, t1 + 1):
            for name in written:
                p = os.path.join(prog_dir, name)
                if os.path.exists(p):
                    os.remove(p)
            lines = run_program(program, args.score, seed, prog_dir)[skip:]
            try:
                compare_signal(signal, read_float_wav(os.path.join(prog_dir, 'out.wav')))
                compare_records(ours, program_records(lines))
                compare_console(lines, log)
                compare_files(pd_dir, prog_dir, written)
                print('%s: %d samples, %d lists, %d console lines, files %s: identical'
                      % (os.path.basename(args.score), len(signal) // 4, len(ours),
                         sum(1 for l in lines if l[1] in ('post', 'error')), ' '.join(written) or 'none'))
                return 0
            except Mismatch as e:
                failures.append('seed %d: %s' % (seed, e))
        raise Mismatch('; '.join(failures))
    except Mismatch as e:
        print('%s: %s' % (args.score, e), file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main())
