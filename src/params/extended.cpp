// Arithmetic with a 64-bit significand: the x87 where long double is its
// 80-bit format, an exact software equivalent elsewhere.
#include "extended.h"

#include <cfloat>
#include <cstring>
#include <limits>

namespace loopmass {

// The formats of long double met in practice: binary64 (MSVC, Apple arm64,
// -mlong-double-64), x87's 80 bits, IBM double-double and binary128.  Only
// the x87's is used, and only when it really is the x87's; any other format
// must be looked at before the object is trusted on it.
static_assert(LDBL_MANT_DIG == 53 || LDBL_MANT_DIG == 64 || LDBL_MANT_DIG == 106 || LDBL_MANT_DIG == 113,
              "long double of an unknown format");
static_assert(LDBL_MANT_DIG != 64 || (LDBL_MAX_EXP == 16384 && LDBL_MIN_EXP == -16381),
              "a 64-bit significand that is not the x87's");
// The software path reads and writes the bits of floats and doubles.
static_assert(std::numeric_limits<float>::is_iec559 && FLT_MANT_DIG == 24 && sizeof(float) == 4,
              "float must be IEEE binary32");
static_assert(std::numeric_limits<double>::is_iec559 && DBL_MANT_DIG == 53 && sizeof(double) == 8,
              "double must be IEEE binary64");

#if LDBL_MANT_DIG == 64
// The x87 rounds to 64 bits as long as its precision control says so, which
// is its setting at start-up wherever long double is this format.
const bool EXT_HARDWARE = true;

float ext_blend(double from, double to, double w)
{
    return (float)(((long double)to - from) * w + from);
}
#else
const bool EXT_HARDWARE = false;

float ext_blend(double from, double to, double w)
{
    return ext_blend_soft(from, to, w);
}
#endif

// ------------------------------------------------------------- software
//
// Why it is exact.  A product of two 64-bit significands is formed whole in
// 128 bits.  A sum aligns the smaller operand to the larger in a 128-bit
// window, 64 bits below the larger one's last bit, and folds whatever falls
// out of the window into the window's last bit (a sticky bit).  Bits fall
// out only when the exponents differ by more than 64; the sum then loses at
// most one leading bit to cancellation, so at least 62 bits stay between the
// rounding position and the sticky bit, and the exact sum and the windowed
// one lie strictly between the same two neighbours of the rounding grid.
// Each result is therefore the exact one rounded once, to nearest-even at 64
// bits, which is what the x87 computes.  Special values follow the x87:
// inf - inf and 0 * inf give its default NaN (negative, quiet); a NaN
// operand gives the result, of two the one with the larger significand, of
// two equal ones the positive; loading a signalling NaN makes it quiet.

static const uint64_t TOP = 1ull << 63;
static const uint64_t QUIET = 1ull << 62;

static t_ext ext_special(int kind, bool neg)
{
    return t_ext{kind == EXT_NAN ? TOP | QUIET : 0, 0, (uint8_t)neg, (uint8_t)kind};
}

static t_ext ext_nan(t_ext a, t_ext b)
{
    if (a.kind != EXT_NAN)
        return b;
    if (b.kind != EXT_NAN || a.m > b.m)
        return a;
    if (b.m > a.m)
        return b;
    a.neg = a.neg && b.neg;
    return a;
}

// Leading zero bits of v, which is not 0.
static int ext_clz(uint64_t v)
{
    int n = 0;
    for (int s = 32; s > 0; s /= 2)
        if ((v >> (64 - s)) == 0) {
            v <<= s;
            n += s;
        }
    return n;
}

// The 128-bit magnitude hi:lo times 2^e, hi's top bit set, rounded to 64
// bits.
static t_ext ext_round(bool neg, uint64_t hi, uint64_t lo, int32_t e)
{
    if (lo > TOP || (lo == TOP && (hi & 1))) {
        if (++hi == 0) {
            hi = TOP;
            e++;
        }
    }
    return t_ext{hi, e + 64, (uint8_t)neg, EXT_FINITE};
}

// The same for any nonzero hi:lo.
static t_ext ext_normal(bool neg, uint64_t hi, uint64_t lo, int32_t e)
{
    if (hi == 0) {
        hi = lo;
        lo = 0;
        e -= 64;
    }
    const int s = ext_clz(hi);
    if (s > 0) {
        hi = hi << s | lo >> (64 - s);
        lo <<= s;
        e -= s;
    }
    return ext_round(neg, hi, lo, e);
}

t_ext ext_of(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const bool neg = bits >> 63;
    const int exp = (int)(bits >> 52) & 0x7ff;
    const uint64_t frac = bits & ((1ull << 52) - 1);
    if (exp == 0x7ff) {
        t_ext r = ext_special(frac ? EXT_NAN : EXT_INF, neg);
        r.m |= frac << 11;
        return r;
    }
    if (exp == 0)
        return frac ? ext_normal(neg, 0, frac, -1074) : ext_special(EXT_ZERO, neg);
    return t_ext{((1ull << 52) | frac) << 11, exp - 1086, (uint8_t)neg, EXT_FINITE};
}

t_ext ext_mul(t_ext a, t_ext b)
{
    const bool neg = a.neg != b.neg;
    if (a.kind == EXT_NAN || b.kind == EXT_NAN)
        return ext_nan(a, b);
    if (a.kind == EXT_INF || b.kind == EXT_INF)
        return a.kind == EXT_ZERO || b.kind == EXT_ZERO ? ext_special(EXT_NAN, true) : ext_special(EXT_INF, neg);
    if (a.kind == EXT_ZERO || b.kind == EXT_ZERO)
        return ext_special(EXT_ZERO, neg);
    // The whole product, from four 32-bit halves.
    const uint64_t a0 = a.m & 0xffffffff, a1 = a.m >> 32, b0 = b.m & 0xffffffff, b1 = b.m >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0;
    const uint64_t mid = (p00 >> 32) + (p01 & 0xffffffff) + (p10 & 0xffffffff);
    const uint64_t lo = mid << 32 | (p00 & 0xffffffff);
    const uint64_t hi = a1 * b1 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    return ext_normal(neg, hi, lo, a.e + b.e);
}

t_ext ext_add(t_ext a, t_ext b)
{
    if (a.kind == EXT_NAN || b.kind == EXT_NAN)
        return ext_nan(a, b);
    if (a.kind == EXT_INF || b.kind == EXT_INF) {
        if (a.kind == b.kind && a.neg != b.neg)
            return ext_special(EXT_NAN, true);
        return a.kind == EXT_INF ? a : b;
    }
    if (b.kind == EXT_ZERO) {
        if (a.kind == EXT_ZERO)
            a.neg = a.neg && b.neg;
        return a;
    }
    if (a.kind == EXT_ZERO)
        return b;

    if (a.e < b.e || (a.e == b.e && a.m < b.m)) {
        const t_ext t = a;
        a = b;
        b = t;
    }
    // b aligned to a: a is a.m:0 times 2^(a.e - 64).
    const int64_t d = (int64_t)a.e - b.e;
    uint64_t hi, lo;
    if (d == 0) {
        hi = b.m;
        lo = 0;
    } else if (d < 64) {
        hi = b.m >> d;
        lo = b.m << (64 - d);
    } else if (d < 128) {
        hi = 0;
        lo = d == 64 ? b.m : (b.m >> (d - 64)) | ((b.m << (128 - d)) != 0);
    } else {
        hi = 0;
        lo = 1;
    }

    if (a.neg == b.neg) {
        hi += a.m;
        if (hi >= a.m)
            return ext_round(a.neg, hi, lo, a.e - 64);
        // A carry out of the top: one bit to the right, keeping the sticky.
        lo = (hi << 63) | (lo >> 1) | (lo & 1);
        hi = TOP | (hi >> 1);
        return ext_round(a.neg, hi, lo, a.e - 63);
    }
    const uint64_t borrow = lo != 0;
    lo = 0 - lo;
    hi = a.m - hi - borrow;
    if (hi == 0 && lo == 0)
        return ext_special(EXT_ZERO, false);
    return ext_normal(a.neg, hi, lo, a.e - 64);
}

t_ext ext_sub(t_ext a, t_ext b)
{
    // A NaN keeps its sign.
    if (b.kind != EXT_NAN)
        b.neg = !b.neg;
    return ext_add(a, b);
}

float ext_float(t_ext a)
{
    uint32_t bits = (uint32_t)a.neg << 31;
    if (a.kind == EXT_INF)
        bits |= 0x7f800000;
    else if (a.kind == EXT_NAN)
        bits |= 0x7f800000 | (uint32_t)((a.m >> 40) & 0x7fffff);
    else if (a.kind == EXT_FINITE) {
        // The value is m * 2^e, m in [2^63, 2^64): its exponent is e + 63.
        // A float keeps 24 bits, fewer below the normal range.
        const int exp = a.e + 63;
        const int shift = exp >= -126 ? 40 : 40 + (-126 - exp);
        uint64_t q = 0, rem = a.m, half = TOP;
        if (shift < 64) {
            q = a.m >> shift;
            rem = a.m & ((1ull << shift) - 1);
            half = 1ull << (shift - 1);
        } else if (shift > 64) {
            rem = 1; // far below half the smallest float
        }
        if (rem > half || (rem == half && (q & 1)))
            q++;
        if (exp >= -126) {
            // q is 2^23 to 2^24: the implicit bit, and a carry to the next
            // exponent; beyond the largest float the result is infinite.
            const int biased = exp + 127 + (q >> 24 ? 1 : 0);
            if (q >> 24)
                q >>= 1;
            bits |= biased >= 255 ? 0x7f800000 : (uint32_t)biased << 23 | (uint32_t)(q & 0x7fffff);
        } else {
            bits |= (uint32_t)q; // a carry to 2^23 is the smallest normal float
        }
    }
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

float ext_blend_soft(double from, double to, double w)
{
    const t_ext f = ext_of(from);
    return ext_float(ext_add(ext_mul(ext_sub(ext_of(to), f), ext_of(w)), f));
}

} // namespace loopmass
