#!/usr/bin/env python3
"""Writes many.pd: fifty loopmass~ objects of every kind of creation
argument, each with its own preset, sounding together at Pd's block size,
two more in subpatches reblocked to 4096 (more than the object's 2048-sample
mix buffer) and to 8 samples.  After one second the three mixes are written
to mix.wav, big.wav and small.wav, the objects are deleted while DSP runs,
and Pd quits.

    manypatch.py OUT.pd
"""

import sys


class Canvas:
    def __init__(self, header):
        self.lines, self.wires, self.n = [header], [], 0

    def add(self, text, lines=None):
        if lines:
            self.lines += lines
        else:
            self.lines.append('#X %s %d %d %s;' % (text.split(' ', 1)[0], 10 + self.n % 10 * 70,
                                                  10 + self.n // 10 * 25, text.split(' ', 1)[1]))
        self.n += 1
        return self.n - 1

    def wire(self, a, outlet, b, inlet):
        self.wires.append('#X connect %d %d %d %d;' % (a, outlet, b, inlet))

    def text(self):
        return self.lines + self.wires


def sounding(c, args, pitches, out):
    """Objects given a preset, pitches and a bang at load, into out."""
    load, fan, pitch = c.add('obj loadbang'), c.add('obj t b b'), c.add('msg ' + pitches)
    c.wire(load, 0, fan, 0)
    c.wire(fan, 1, pitch, 0)
    for i, a in enumerate(args):
        o = c.add(('obj loopmass~ ' + a).strip())
        start = c.add('msg %d \\, bang' % (i % 10))
        c.wire(fan, 0, start, 0)
        c.wire(start, 0, o, 0)
        c.wire(pitch, 0, o, 7)
        c.wire(o, 0, out, 0)


def subpatch(name, block, args):
    c = Canvas('#N canvas 0 0 800 600 %s 0;' % name)
    c.add('obj block~ %d' % block)
    out = c.add('obj outlet~')
    sounding(c, args, '110.5 220', out)
    return c.text() + ['#X restore 10 10 pd %s;' % name]


def main():
    args = ['', '3', '2', '300', '256', '64.5', 'missing.txt'] + [str(3 + 5 * i) for i in range(43)]
    objects = Canvas('#N canvas 0 0 800 600 objects 0;')
    gain = objects.add('obj *~ 0.02')
    sounding(objects, args, '220.5 331', gain)
    send = objects.add('obj s~ mix')
    objects.wire(gain, 0, send, 0)

    c = Canvas('#N canvas 0 0 800 600 10;')
    c.add(None, objects.text() + ['#X restore 10 10 pd objects;'])
    big = c.add(None, subpatch('big', 4096, ['256', '100']))
    small = c.add(None, subpatch('small', 8, ['32']))
    receive = c.add('obj r~ mix')
    writers = []
    for name, source in (('mix', receive), ('big', big), ('small', small)):
        c.add('obj table %s 44100' % name)
        tab = c.add('obj tabwrite~ ' + name)
        c.wire(source, 0, tab, 0)
        writers.append(tab)
    load, first = c.add('obj loadbang'), c.add('obj t b b b b b')
    dsp, later, then = c.add('msg \\; pd dsp 1'), c.add('obj delay 1000'), c.add('obj t b b b')
    write = c.add('msg ' + ' \\, '.join('write -wave -bytes 4 %s.wav %s' % (n, n) for n in ('mix', 'big', 'small')))
    files, clear = c.add('obj soundfiler'), c.add('msg \\; pd-objects clear \\; pd-big clear \\; pd-small clear')
    wait, quit_ = c.add('obj delay 100'), c.add('msg \\; pd quit')
    c.wire(load, 0, first, 0)
    for i, tab in enumerate(writers):
        c.wire(first, 4 - i, tab, 0)
    c.wire(first, 1, dsp, 0)
    c.wire(first, 0, later, 0)
    c.wire(later, 0, then, 0)
    c.wire(then, 2, write, 0)
    c.wire(write, 0, files, 0)
    c.wire(then, 1, clear, 0)
    c.wire(then, 0, wait, 0)
    c.wire(wait, 0, quit_, 0)
    with open(sys.argv[1], 'w') as f:
        f.write('\n'.join(c.text()) + '\n')


if __name__ == '__main__':
    main()
