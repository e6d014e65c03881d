// loopmass~: scanned synthesis on a closed ring of masses.  The instance
// record and every routine of the object.
#pragma once

#include "patcher.h"

namespace loopmass {

using namespace patcher;

// Fixed limits.
const int MAXMASSES = 256;
const int MINMASSES = 3;
const int NOSC = 5;
const int MIXSIZE = 2048;
const int INDEXSIZE = 128;
const int NKINDS = 6;

// Profile kinds, in this order everywhere.  Arrays indexed by kind hold kind
// k at index k - 1.
enum { PROF_MASSES = 1, PROF_TENSION = 2, PROF_CENTERING = 3, PROF_DAMPING = 4, PROF_FORCES = 5, PROF_INITPOS = 6 };

// Inlets as numbered in x_in, outlets as numbered by the assist method.
const int INLET_CONTROL = 0;
const int INLET_PITCH = 7;

// The version word of the banks this object makes and writes; a file with
// a greater one comes from a more recent version of the object.
const int32_t BANK_VERSION = -2;

// Samples per haptic step, and the sample rate the object assumes.
const int HAPTIC_PERIOD = 256;
const double SAMPLE_RATE = 44100.0;

// The longest gain ramp, in milliseconds, and the highest corner of the
// output's high-pass, in Hz.
const float RAMP_MAX = 1000.0f;
const float LOWCUT_MAX = 200.0f;

// Six profiles of 256 values, in kind order.
typedef float t_block[NKINDS][MAXMASSES];

// An entry of the bank's index: where the latest group stored under a
// number begins, as the pair of cursors binbuf_getatom takes.
struct t_bankentry {
    int32_t number; // 0 or more; -1 once cleared
    int32_t atoms;  // first cursor: atoms, a message end counting as one
    int32_t bytes;  // second cursor: value bytes, 4 for a long, 8 for a float
};

// The newest and the previous shape of the ring as the scan reads them:
// mass 0 repeated after the last, so that a read of a mass and the next
// needs no wrap.  A copy of the positions, kept while they keep their bits
// (they change at each haptic step, strike or stop, not at every vector);
// floats, so that many objects leave it in the cache.
struct t_table {
    int32_t n; // masses, 0 before the first copy
    float now[MAXMASSES + 1];
    float old[MAXMASSES + 1];
};

// A gain ramp of one oscillator: its gain at the s-th sample after the
// change that started it, s from 1, is from + ((to - from) / len) x s
// rounded to float, and to from sample len on.  len 0: no ramp runs.
struct t_ramp {
    float from, to;
    int32_t len;  // samples
    int32_t done; // samples played since the change
    float ms;     // the time it takes, which len measures at the object's rate
};

// The output's second-order high-pass in double: its coefficients (b0, b1,
// b2, a1, a2 of y = (b0 x + b1 x1 + b2 x2 - a2 y2) - a1 y1) and the last
// two inputs and outputs.
struct t_highpass {
    double b0, b1, b2, a1, a2;
    double x1, x2, y1, y2;
};

struct t_loopmass {
    t_pxobject x_obj;
    t_proxy *x_proxy[8];
    int32_t x_in;
    int32_t x_tick;
    t_clock *x_clock;
    double x_disprate;
    int16_t x_inactive;
    int16_t x_display;
    int32_t x_nmasses;
    float x_osc_phase[NOSC];
    float x_osc_freq[NOSC];
    float x_osc_gain[NOSC];
    float x_autonorm;
    t_block x_raw;
    t_block x_prof;
    float x_gain[NKINDS];
    float x_offset[NKINDS];
    float x_phase[NKINDS];
    float x_extra[NKINDS];
    float x_pos[MAXMASSES];
    float x_pos1[MAXMASSES];
    float x_pos2[MAXMASSES];
    t_atom x_motion[MAXMASSES];
    t_atom x_paramlist[MAXMASSES + 1];
    float x_mix[MIXSIZE];
    t_outlet *x_out_motion;
    t_outlet *x_out_params;
    t_binbuf *x_bank;
    int32_t x_bank_nmasses;
    int32_t x_bank_version;
    int32_t x_bank_nentries;
    int32_t x_bank_ncleared;
    int32_t x_bank_nstored;
    int32_t x_preset;
    t_bankentry x_index[INDEXSIZE];
    int16_t x_filevol;

    // "hostrate": 0, pitches assume 44100 Hz; 1, they take x_sr, the host's
    // sample rate as the last dsp call gave it (44100 until then).
    int16_t x_hostrate;
    double x_sr;

    // The haptic step's coefficients of each mass, kept with the profile
    // values they came from so that the powers of ten are recomputed only
    // when a profile changes (the results are the same to the bit).
    uint32_t x_coef_key[4][MAXMASSES];
    uint8_t x_coef_ok[MAXMASSES];
    double x_coef[5][MAXMASSES];

    // Haptic steps taken since creation (wrapping), so that a host that
    // draws the ring can tell how many steps a vector ran.
    uint32_t x_nsteps;

    // The ring as the oscillators read it, rebuilt only when the positions
    // it was made from change (a haptic step, a strike, stop).
    t_table x_table;

    // "ramp": a change of an oscillator's gain takes x_ramp_ms to arrive
    // (0: at once).  An oscillator silenced while it sounds keeps its pitch
    // until its gain has come down to 0; x_osc_stop marks it, and its pitch
    // becomes 0 once no ramp runs on it or on the oscillators after it.
    float x_ramp_ms;
    t_ramp x_ramp[NOSC];
    uint8_t x_osc_stop[NOSC];
    // The normalisation of the sum ramps with the gains: while x_norm_held
    // it goes from x_norm_from to x_norm_to over x_norm_len samples (in
    // double, not rounded) and stays there until no gain ramps; else it is
    // worked out from the oscillators scanned, as without ramps.
    int32_t x_norm_held;
    int32_t x_norm_len, x_norm_done;
    double x_norm_from, x_norm_to;
    float x_norm_ms;

    // "lowcut": the corner of the high-pass on the output in Hz, 0 off.
    float x_lowcut_hz;
    t_highpass x_highpass;
};

extern t_class *loopmass_class;

// Entry point: registers the class and posts the banner.
int main(void);

// A handler of a message that takes any arguments (A_GIMME): the selector,
// then the atoms.
typedef void t_gimme(t_loopmass *x, t_symbol *s, short argc, t_atom *argv);

// Creation and free.
void *loopmass_new(t_symbol *s, short argc, t_atom *argv);
void loopmass_free(t_loopmass *x);
// Rebuilds the six effective profiles, kinds 1 to 6 in order.
void loopmass_update_all(t_loopmass *x);

// Inlet messages.
void loopmass_int(t_loopmass *x, int32_t n);
void loopmass_float(t_loopmass *x, double f);
void loopmass_bang(t_loopmass *x);
void loopmass_stop(t_loopmass *x);
t_gimme loopmass_list, loopmass_fg, loopmass_reset;

// Status, display and help.
t_gimme loopmass_inactive, loopmass_antialias, loopmass_display, loopmass_disprate, loopmass_info, loopmass_hostrate;
void loopmass_tick(t_loopmass *x);
void loopmass_assist(t_loopmass *x, void *box, long kind, long number, char *text);

// Profiles and metaparameters.
void loopmass_update(t_loopmass *x, int32_t k);
double loopmass_stretch(const float *values, float f, int i, int n);
t_gimme loopmass_gain, loopmass_offset, loopmass_phase, loopmass_extra, loopmass_all;
// Every metaparameter to its neutral value: gain 1, offset, phase, extra 0.
void loopmass_neutral(t_loopmass *x);

// Presets.
short loopmass_recall(t_loopmass *x, t_block block, int32_t n);
int loopmass_find(const t_bankentry *index, int32_t count, int32_t n);
short loopmass_factory(t_block block, int nmasses, int32_t n);
void loopmass_srand(uint32_t seed);
uint32_t loopmass_rand_state(void);
int loopmass_rand(void);
short loopmass_interp_all(t_loopmass *x, t_block dest, float v);
short loopmass_interp_one(t_loopmass *x, short k, float v);

// Sound.
void loopmass_step(t_loopmass *x);
// The ring's constant of a profile value of kind 1 to 4, and the power of
// ten it is rounded from.
float loopmass_constant(int kind, float v);
double loopmass_power(int kind, float v);
// The haptic steps a vector of n samples makes, at its start.
void loopmass_pace(t_loopmass *x, int n);
void loopmass_dsp(t_loopmass *x, t_signal **sp, short *count);
t_int *loopmass_perform(t_int *w);
// Fills x_mix[0 .. n-1] with the oscillators' sum, n from 1 to MIXSIZE;
// gives the oscillators scanned.
short loopmass_scan(t_loopmass *x, int n);
// The sample rate the oscillators' pitches are worked at.
inline double loopmass_rate(const t_loopmass *x)
{
    return x->x_hostrate ? x->x_sr : SAMPLE_RATE;
}
t_gimme loopmass_ramp, loopmass_lowcut;
// The high-pass's coefficients for x_lowcut_hz at the object's rate; its
// state is kept.
void loopmass_lowcut_design(t_loopmass *x);

// A message that sets pitches or gains (fg, a pitch, a pitch list) calls
// loopmass_osc_begin, which keeps what the oscillators were and shows the
// pitches as the messages left them (0 for one on its way to 0), then
// writes its pitches and gains, then calls loopmass_osc_end, which starts
// the ramps that follow.
struct t_oscwas {
    float freq[NOSC]; // the pitches scanned
    float gain[NOSC]; // the gain each oscillator sounds at now
    float to[NOSC];   // where that gain is going
    int scanned;      // the oscillators scanned
    double norm;      // the normalisation now, while some are
};
void loopmass_osc_begin(t_loopmass *x, t_oscwas *was);
void loopmass_osc_end(t_loopmass *x, const t_oscwas *was);
// Ramps that have not played a sample yet measured again at the object's
// rate, which a dsp call or hostrate may just have changed.
void loopmass_ramps_retime(t_loopmass *x);
// The gain oscillator k sounds at after the samples played so far.
float loopmass_gain_now(const t_loopmass *x, int k);

// The bank's layout: a header message (mass count, version word, number
// of groups), then per group a preset-number message and six profiles of n
// floats, forces and initial position in their stored form.
void loopmass_bank_header(t_binbuf *b, int32_t nmasses, int32_t version, int32_t count);
// The entry of group g (from 0) of a bank of n values per profile; false
// when its cursors would not fit the index.
bool loopmass_bank_entry(t_bankentry *e, int32_t number, int64_t g, int n);
void loopmass_bank_append(t_binbuf *b, int32_t number, const t_block stored, int n);
// The group an entry points at, its values as stored.
void loopmass_bank_read(t_binbuf *b, const t_bankentry *e, int n, t_block stored);
// A value of profile kind in its stored form (0 to 1 for forces and initial
// position, which lists and display lists also use), and back.
float loopmass_stored(int kind, float raw);
float loopmass_raw(int kind, float stored);

// The vector units the engine runs on (src/engine/kernel.h), a switch for
// tests and diagnosis: every set gives the same bits.  The sets this
// processor can run, from the plainest to the widest, and the one in use;
// loopmass_simd_use gives 0 when it switched to the set of that name.
int loopmass_simd_count(void);
const char *loopmass_simd_name(int i);
const char *loopmass_simd_in_use(void);
int loopmass_simd_use(const char *name);

// Preset bank and files.
t_gimme loopmass_store, loopmass_clear;
short loopmass_read(t_loopmass *x, t_symbol *s);
short loopmass_readfile(t_loopmass *x, char *name, short path, t_fourcc type);
void loopmass_resample(t_loopmass *x, t_binbuf *src);
void loopmass_write(t_loopmass *x, t_symbol *s);
void loopmass_copylive(t_loopmass *x, t_binbuf *dest);

// The helpers below are static: the engine's kernel files include this
// header while compiled for wider vector units, and a shared inline copy
// made there could be picked for code that runs on any machine.

// A ring position within [-1, 1]: above 1 gives 1, below -1 or not a
// number gives -1, so that an unstable spring or a wild profile drives
// masses to the bounds instead of growing without limit.
static inline float loopmass_bound(float v)
{
    if (v > 1.0f)
        return 1.0f;
    if (!(v >= -1.0f))
        return -1.0f;
    return v;
}

// Reading atoms: the value of a long or float atom as a float.
static inline bool atom_isnum(const t_atom *a)
{
    return a->a_type == A_LONG || a->a_type == A_FLOAT;
}
static inline float atom_getfloat(const t_atom *a)
{
    return a->a_type == A_LONG ? (float)a->a_w.w_long : a->a_type == A_FLOAT ? a->a_w.w_float : 0.0f;
}
static inline void atom_setfloat(t_atom *a, float f)
{
    a->a_type = A_FLOAT;
    a->a_w.w_float = f;
}

} // namespace loopmass
