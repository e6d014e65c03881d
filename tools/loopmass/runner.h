// Carries out a parsed score in the in-process host, on its logical clock,
// writing the transcript and the sound.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "score.h"
#include "wav.h"

namespace score {

struct Options {
    std::string name;       // the score's name in warnings ("-" for stdin)
    int vs = 64;            // initial signal vector size
    bool quiet = false;     // no transcript
    bool fix_seed = false;  // fix the calendar to `seed` before anything runs
    long seed = 0;
};

// Loads the object's module, runs every event and frees the object at the
// end.  wav may be null.  Returns 0, or 1 when the sound could not be
// written (the message is on stderr).
int run(const std::vector<Event> &events, const Options &options, Wav *wav, FILE *out);

} // namespace score
