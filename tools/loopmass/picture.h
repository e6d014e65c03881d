// A picture of a run: the ring's motion over time (time across, mass index
// up, position as colour), the output's envelope under it on the same time
// axis, and the six effective profiles at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "loopmass.h"
#include "score.h"
#include "writer.h"

namespace score {

// The picture's size in pixels, and the most columns its time is cut into
// (one pixel of the plot each).
const int PICTURE_WIDTH = 1000;
const int PICTURE_HEIGHT = 720;
const int PICTURE_COLUMNS = 800;

// Samples of output the events produce: every run rounded up to whole
// vectors of the vector size in force (starting at vs).
int64_t output_samples(const std::vector<Event> &events, int vs);

// What the picture shows, gathered while the run goes.  Its time is output
// time, the samples that run events produce one after the other (a wait
// adds none), cut into at most `max_columns` columns of equal length.
//
// Each haptic step leaves a shape on the ring that holds until the next
// step; a column shows every shape that held during its time, merged mass
// by mass into the position farthest from 0 (the first one on a tie), so a
// long run shows how far each mass swings and a short one spreads each step
// over several columns.  A vector that ran several steps (512 samples or
// more) gives each step 256 samples of its time, in order.  A column with
// no object in it holds no ring.
class Picture {
public:
    struct Column {
        float pos[loopmass::MAXMASSES]; // merged positions of masses 0 to masses - 1
        int masses = 0;                 // 0 when no ring held during the column
        int steps = 0;                  // haptic steps that began in it
        bool heard = false;             // some output sample fell in it
        float low = 0.0f, high = 0.0f;  // smallest and largest output sample
    };

    // total_samples of output at `rate` Hz.
    Picture(int64_t total_samples, int max_columns, int rate = 44100);
    ~Picture();

    // Around each signal vector of n samples; x is the object (null when
    // there is none) and out its n output samples (null for silence).
    void before_vector(const loopmass::t_loopmass *x, int n);
    void after_vector(const loopmass::t_loopmass *x, const float *out, int n);
    // Keeps the effective profiles of an object about to be freed: the
    // picture shows those of the last object of the run.
    void keep_profiles(const loopmass::t_loopmass *x);

    // The output's smallest and largest sample around column c, taken
    // over the columns within 5 ms on either side as well, so that a low
    // tone's period never falls between columns.  False when no sample
    // was heard there.
    bool envelope(int c, float &low, float &high) const;

    const std::vector<Column> &columns() const { return columns_; }
    int64_t total_samples() const { return total_; }
    int rate() const { return rate_; }
    int64_t steps() const { return steps_; }
    int rows() const { return rows_; }                     // largest mass count held
    int profile_masses() const { return profile_masses_; } // 0 before any object was freed
    const float *profile(int k) const { return profiles_[k - 1]; }

private:
    int column_of(int64_t sample) const;
    void hold(const float *pos, int n, int64_t from, int64_t to, bool stepped);
    void listen(const float *out, int n);

    int64_t total_;
    int rate_;
    int64_t done_ = 0;
    int64_t steps_ = 0;
    int rows_ = 0;
    std::vector<Column> columns_;
    uint32_t nsteps_before_ = 0;
    // The ring as a vector found it, when the vector may run more steps
    // than the record keeps shapes of: the early ones are run again on it.
    std::unique_ptr<loopmass::t_loopmass> replay_;
    int profile_masses_ = 0;
    float profiles_[loopmass::NKINDS][loopmass::MAXMASSES];
};

// Draws the picture as a PNG into png.  caption names the run in the title.
// Returns false with a message when Cairo fails.
bool draw_picture(const Picture &p, const std::string &caption, std::string &png, std::string &error);

// A PNG file written under a temporary name next to its target and renamed
// over it once drawn, so that a failed run never leaves half a picture,
// and opened before the run so that a folder it cannot be written to stops
// the run before it starts.
class PictureFile {
public:
    bool open(const std::string &path, std::string &error);
    bool finish(const Picture &p, const std::string &caption, std::string &error);

private:
    writer::Replacement out_;
};

} // namespace score
