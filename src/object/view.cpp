// The object's state as others may see it: nothing here changes a running
// object.
#include "view.h"

#include <cstring>

namespace loopmass {

// Counts held in the record are kept within the arrays they count.
static int loopmass_view_clamp(int32_t n, int max)
{
    return n < 0 ? 0 : n > max ? max : n;
}

static t_floats loopmass_view_masses(const t_loopmass *x, const float *v)
{
    return {v, loopmass_view_clamp(x->x_nmasses, MAXMASSES)};
}

int32_t loopmass_view_nmasses(const t_loopmass *x)
{
    return x->x_nmasses;
}

t_floats loopmass_view_ring(const t_loopmass *x, int back)
{
    return loopmass_view_masses(x, back == 0 ? x->x_pos : back == 1 ? x->x_pos1 : x->x_pos2);
}

uint32_t loopmass_view_steps(const t_loopmass *x)
{
    return x->x_nsteps;
}

t_floats loopmass_view_raw(const t_loopmass *x, int k)
{
    return loopmass_view_masses(x, x->x_raw[k - 1]);
}
t_floats loopmass_view_profile(const t_loopmass *x, int k)
{
    return loopmass_view_masses(x, x->x_prof[k - 1]);
}

t_meta loopmass_view_meta(const t_loopmass *x, int k)
{
    return {x->x_gain[k - 1], x->x_offset[k - 1], x->x_phase[k - 1], x->x_extra[k - 1]};
}

t_floats loopmass_view_pitches(const t_loopmass *x)
{
    return {x->x_osc_freq, NOSC};
}
t_floats loopmass_view_gains(const t_loopmass *x)
{
    return {x->x_osc_gain, NOSC};
}
t_floats loopmass_view_phases(const t_loopmass *x)
{
    return {x->x_osc_phase, NOSC};
}
float loopmass_view_gain_now(const t_loopmass *x, int k)
{
    return loopmass_gain_now(x, k);
}
float loopmass_view_autonorm(const t_loopmass *x)
{
    return x->x_autonorm;
}

int32_t loopmass_view_preset(const t_loopmass *x)
{
    return x->x_preset;
}

t_display loopmass_view_display(const t_loopmass *x)
{
    return {x->x_tick, x->x_inactive, x->x_display, x->x_disprate};
}

t_shaping loopmass_view_shaping(const t_loopmass *x)
{
    return {x->x_ramp_ms, x->x_lowcut_hz, x->x_hostrate, loopmass_rate(x)};
}

t_bankview loopmass_view_bank(const t_loopmass *x)
{
    return {x->x_bank_nmasses,
            x->x_bank_version,
            x->x_bank_nentries,
            x->x_bank_ncleared,
            x->x_bank_nstored,
            x->x_index,
            loopmass_view_clamp(x->x_bank_nentries, INDEXSIZE),
            x->x_bank};
}

// A number stored again takes its old entry, so the index holds each once.
int loopmass_view_presets(const t_loopmass *x, int32_t *numbers, int max)
{
    int count = 0;
    const int entries = loopmass_view_clamp(x->x_bank_nentries, INDEXSIZE);
    for (int e = 0; e < entries && count < max; e++)
        if (x->x_index[e].number != -1)
            numbers[count++] = x->x_index[e].number;
    return count;
}

// The bank is a message store of the host's: reading it is the one host
// routine used here, and it changes nothing.
bool loopmass_view_stored(const t_loopmass *x, int32_t n, t_block stored)
{
    const int e = loopmass_find(x->x_index, x->x_bank_nentries, n);
    if (e < 0)
        return false;
    loopmass_bank_read(x->x_bank, &x->x_index[e], loopmass_view_clamp(x->x_nmasses, MAXMASSES), stored);
    return true;
}

void loopmass_view_copy_ring(const t_loopmass *x, t_loopmass *copy)
{
    const size_t bytes = (size_t)loopmass_view_clamp(x->x_nmasses, MAXMASSES) * sizeof(float);
    copy->x_nmasses = x->x_nmasses;
    for (int k = PROF_MASSES; k <= PROF_FORCES; k++)
        std::memcpy(copy->x_prof[k - 1], x->x_prof[k - 1], bytes);
    std::memcpy(copy->x_pos, x->x_pos, bytes);
    std::memcpy(copy->x_pos1, x->x_pos1, bytes);
}

t_floats loopmass_view_step_copy(t_loopmass *copy)
{
    loopmass_step(copy);
    return loopmass_view_ring(copy);
}

} // namespace loopmass
