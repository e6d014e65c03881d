// Carries out a parsed score in the in-process host, on its logical clock,
// writing the transcript and the sound.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "picture.h"
#include "score.h"
#include "wav.h"

namespace score {

struct Options {
    std::string name;      // the score's name in warnings ("-" for stdin)
    int vs = 64;           // initial signal vector size
    bool quiet = false;    // no transcript
    bool fix_seed = false; // fix the calendar to `seed` before anything runs
    long seed = 0;
    int rate = 44100;      // the sample rate the object is given, in Hz
    bool hostrate = false; // every object created is sent "hostrate 1"
};

// Loads the object's module, runs every event and frees the object at the
// end.  wav and picture may be null; the picture watches every vector and
// changes nothing the object or the other outputs see.  Returns 0, or 1
// when the sound could not be written (the message is on stderr).
int run(const std::vector<Event> &events, const Options &options, Wav *wav, Picture *picture, FILE *out);

} // namespace score
