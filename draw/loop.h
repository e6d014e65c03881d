// The ring as a closed loop: each mass displaced from a circle along its
// radius by its position, clockwise from the top, and the oscillators'
// read positions marked on it.  The plugin's window and its inline display
// draw it.
#pragma once

#include "canvas.h"

namespace draw {

const int NMARKS = 5;
// The oscillators' colours, apart from the ring's.  Whole steps of 1/255,
// so that an image shows them exactly.
extern const double MARK_COLOURS[NMARKS][3];

struct Loop {
    double cx, cy; // centre
    double r;      // the circle the masses rest on
    double swing;  // how far a position of 1 moves a mass out
};

// The point at index f along a ring of n masses (between two masses when
// f is not whole) at position pos.
void loop_point(const Loop &l, double f, double pos, int n, double *x, double *y);
// Where an oscillator reading at phase 0 to 1 lies on the loop.
void loop_mark(const Loop &l, const float *ring, int n, float phase, double *x, double *y);

// The resting circle, the loop, the masses in their positions' colours and
// a mark for each oscillator whose gain is above 0.  `line` and `mark` are
// the loop's width and the marks' radius.
void draw_loop(Canvas &cv, const Loop &l, const float *ring, int n, const float *phases, const float *gains,
               double line, double mark);

} // namespace draw
