#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "view.h"

namespace score {

using loopmass::HAPTIC_PERIOD;
using loopmass::t_loopmass;

int64_t output_samples(const std::vector<Event> &events, int vs)
{
    int64_t total = 0;
    for (const Event &e : events) {
        if (e.kind == EV_VS)
            vs = e.number;
        else if (e.kind == EV_RUN)
            total += (e.count + vs - 1) / vs * vs;
    }
    return total;
}

Picture::Picture(int64_t total_samples, int max_columns, int rate)
    : total_(total_samples), rate_(rate), replay_(new t_loopmass()) // zeroed: no coefficient known yet
{
    columns_.resize((size_t)std::clamp<int64_t>(total_samples, 0, max_columns));
    std::memset(profiles_, 0, sizeof profiles_);
}

Picture::~Picture() = default;

// Columns cut the output time evenly; a sample past the end (a run longer
// than announced) stays in the last column.
int Picture::column_of(int64_t sample) const
{
    const int64_t c = sample * (int64_t)columns_.size() / total_;
    return (int)std::clamp<int64_t>(c, 0, (int64_t)columns_.size() - 1);
}

void Picture::before_vector(const t_loopmass *x, int n)
{
    if (!x)
        return;
    nsteps_before_ = loopmass::loopmass_view_steps(x);
    // The object keeps its last three shapes; a vector that can run more
    // steps than that is run again from here.
    if (n > 3 * HAPTIC_PERIOD)
        loopmass::loopmass_view_copy_ring(x, replay_.get());
}

void Picture::after_vector(const t_loopmass *x, const float *out, int n)
{
    if (columns_.empty())
        return;
    const int64_t start = done_;
    if (x) {
        const loopmass::t_floats ring = loopmass::loopmass_view_ring(x);
        const int masses = ring.n;
        const uint32_t k = loopmass::loopmass_view_steps(x) - nsteps_before_;
        const float *last[3] = {loopmass::loopmass_view_ring(x, 2).v, loopmass::loopmass_view_ring(x, 1).v, ring.v};
        if (k == 0)
            hold(ring.v, masses, start, start + n, false);
        for (uint32_t j = 0; j < k; j++) {
            const int64_t from = start + (int64_t)j * HAPTIC_PERIOD;
            const int64_t to = j + 1 == k ? start + n : from + HAPTIC_PERIOD;
            const uint32_t back = k - j; // 1 for the vector's last step
            const float *shape;
            if (back > 3)
                shape = loopmass::loopmass_view_step_copy(replay_.get()).v;
            else
                shape = last[3 - back];
            hold(shape, masses, from, to, true);
        }
    }
    listen(out, n);
    done_ += n;
}

// Merges a shape of the ring, held over samples [from, to), into the
// columns it spans.
void Picture::hold(const float *pos, int n, int64_t from, int64_t to, bool stepped)
{
    const int first = column_of(from), last = column_of(to - 1);
    for (int c = first; c <= last; c++) {
        Column &col = columns_[(size_t)c];
        const int held = std::min(col.masses, n);
        for (int i = 0; i < held; i++)
            col.pos[i] = std::fabs(pos[i]) > std::fabs(col.pos[i]) ? pos[i] : col.pos[i];
        for (int i = held; i < n; i++)
            col.pos[i] = pos[i];
        col.masses = std::max(col.masses, n);
    }
    if (stepped) {
        columns_[(size_t)first].steps++;
        steps_++;
    }
    rows_ = std::max(rows_, n);
}

// Widens [low, high] to take in n samples.  Four lanes keep four
// comparisons in flight instead of one chain through every sample.
static void extremes(const float *v, int n, float &low, float &high)
{
    float lo[4] = {low, low, low, low}, hi[4] = {high, high, high, high};
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int l = 0; l < 4; l++) {
            lo[l] = std::min(lo[l], v[i + l]);
            hi[l] = std::max(hi[l], v[i + l]);
        }
    for (; i < n; i++) {
        lo[0] = std::min(lo[0], v[i]);
        hi[0] = std::max(hi[0], v[i]);
    }
    low = std::min({lo[0], lo[1], lo[2], lo[3]});
    high = std::max({hi[0], hi[1], hi[2], hi[3]});
}

// The output's envelope: the smallest and largest sample of each column.
// A sample that is not a number widens no envelope.
void Picture::listen(const float *out, int n)
{
    const int64_t ncols = (int64_t)columns_.size();
    int i = 0;
    while (i < n) {
        const int64_t s = done_ + i;
        const int c = column_of(s);
        // The first sample of the next column, or the vector's end.
        const int64_t next = c + 1 < ncols ? ((c + 1) * total_ + ncols - 1) / ncols : INT64_MAX;
        const int end = (int)std::min<int64_t>(n, i + std::max<int64_t>(next - s, 1));
        Column &col = columns_[(size_t)c];
        if (!col.heard) {
            col.heard = true;
            col.low = INFINITY;
            col.high = -INFINITY;
        }
        if (out) {
            extremes(out + i, end - i, col.low, col.high);
        } else {
            col.low = std::min(col.low, 0.0f);
            col.high = std::max(col.high, 0.0f);
        }
        i = end;
    }
}

bool Picture::envelope(int c, float &low, float &high) const
{
    const int64_t ncols = (int64_t)columns_.size();
    if (c < 0 || c >= ncols)
        return false;
    // Whole columns in 5 ms: 5 ms is rate / 200 samples, a column total /
    // ncols.
    const int64_t reach = rate_ * ncols / (200 * total_);
    low = INFINITY;
    high = -INFINITY;
    bool heard = false;
    for (int64_t k = std::max<int64_t>(0, c - reach); k <= std::min(ncols - 1, c + reach); k++) {
        const Column &col = columns_[(size_t)k];
        if (col.heard) {
            heard = true;
            low = std::min(low, col.low);
            high = std::max(high, col.high);
        }
    }
    return heard && low <= high;
}

void Picture::keep_profiles(const t_loopmass *x)
{
    for (int k = loopmass::PROF_MASSES; k <= loopmass::PROF_INITPOS; k++) {
        const loopmass::t_floats p = loopmass::loopmass_view_profile(x, k);
        std::memcpy(profiles_[k - 1], p.v, (size_t)p.n * sizeof(float));
        profile_masses_ = p.n;
    }
}

} // namespace score
