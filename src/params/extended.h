// Arithmetic with a 64-bit significand, as in the x87's 80-bit format: every
// operation rounded to nearest-even at 64 bits, the result rounded once to a
// float.  Morphs between presets and resampling are worked this way, so that
// a value falling almost halfway between two floats rounds the same way on
// every platform.
//
// Where long double is the x87 format the hardware does the work; elsewhere
// (MSVC, Apple arm64, 128-bit long doubles) an exact software equivalent
// does, which uses no long double anywhere.
#pragma once

#include <cstdint>

namespace loopmass {

// (to - from) * w + from.
float ext_blend(double from, double to, double w);

// True where the x87 does the work.
extern const bool EXT_HARDWARE;

// The software equivalent, built on every platform so that it can be held
// against the hardware where there is one.  A number is
// (-1)^neg * m * 2^e; a finite nonzero one has the top bit of m set.  The
// exponent's range is far wider than any value of these computations
// needs, so no result overflows or becomes subnormal before the final
// rounding to a float, as none does in the x87's 15-bit exponent.
enum { EXT_ZERO, EXT_FINITE, EXT_INF, EXT_NAN };

struct t_ext {
    uint64_t m; // a NaN keeps here the significand the x87 would hold
    int32_t e;
    uint8_t neg;
    uint8_t kind;
};

t_ext ext_of(double v); // exact
t_ext ext_add(t_ext a, t_ext b);
t_ext ext_sub(t_ext a, t_ext b);
t_ext ext_mul(t_ext a, t_ext b);
float ext_float(t_ext a);

float ext_blend_soft(double from, double to, double w);

} // namespace loopmass
