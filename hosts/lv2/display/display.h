// The ring drawn small for a host's mixer strip (the inline display).  The
// audio thread copies the ring into one of three preallocated snapshots
// and hands it over with one atomic exchange, at most FRAMES_MAX times a
// second, then asks the host to draw; the host's drawing thread takes the
// newest snapshot the same way and draws it with the window's loop.
#pragma once

#include <atomic>
#include <cstdint>

#include "../../../src/object/loopmass.h"
#include "inline_display.h"

namespace lv2display {

struct Snapshot {
    int n; // masses; 0 before the first
    float ring[loopmass::MAXMASSES];
    float phases[loopmass::NOSC], gains[loopmass::NOSC];
};

struct Display {
    const LV2_Inline_Display *host; // null: the host shows no inline display
    Snapshot shots[3];
    // The newest snapshot's index, with FRESH added until the drawing side
    // takes it; the audio thread writes `back`, the drawing reads `front`.
    std::atomic<int> newest;
    int back, front;
    uint64_t samples, due; // samples run, and when the next snapshot is
    double every;          // samples between snapshots
    void *surface;         // the host's image, a Cairo surface
    LV2_Inline_Display_Image_Surface image;
};

void display_init(Display *d, const LV2_Feature *const *features, double rate);
// After each run of n samples: a snapshot of the object when one is due.
void display_run(Display *d, const loopmass::t_loopmass *x, uint32_t n);
void display_free(Display *d);
LV2_Inline_Display_Image_Surface *display_render(Display *d, uint32_t w, uint32_t h);

} // namespace lv2display
