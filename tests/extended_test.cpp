// Arithmetic with a 64-bit significand.  The software equivalent against
// results of the x87 written down once (these run on every platform), and,
// where the x87 is there, against the hardware on many numbers.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "extended.h"
#include "harness.h"

using namespace loopmass;
using test::bits;
using test::from_bits;

namespace {

const float INF = std::numeric_limits<float>::infinity();

// Blends whose result a double would round the other way, and special
// values; the bits are the x87's.
TEST(Extended, BlendsGiveTheX87sBits)
{
    const struct {
        float from, to;
        double w;
        uint32_t expect;
    } cases[] = {
        {0x1.327a6p-28f, 0x1.4p+24f, 0x1.870034p-1, 0x4b746021},       // a double gives ...20
        {-0x1.b8647p-33f, 0x1.4a28p+25f, 0x1.14ep-1, 0x4bb28a01},      // ...02
        {0x1.afa18p+25f, 0x1.7503ecp-29f, 0x1.ffb88p-1, 0x46f11b37},   // ...36
        {-0x1.cc4p+27f, -0x1.4efe2p-30f, 0x1.fe8e78p-1, 0xc9261731},   // ...30
        {-0x1.eap+25f, 0x1.e04248p-30f, 0x1.fe34p-3, 0xcc37f707},      // ...08
        {-0x1.c108c4p-2f, -0x1.d0a8c8p+10f, 0x1.3092fp-3, 0xc38a6491}, // ...90
        // Weights of resampling, with up to 32 bits.
        {-0x1.c67a64p+5f, -0x1.13185p-12f, 0x1.ffffb5p-1, 0xb9cc1f01}, // ...02
        {0x1.19aa54p+8f, -0x1.a8d9bp-13f, 0x1.ffffe8p-1, 0xb5968785},  // ...86
        {0x1.4p+0f, 0x1.8p+1f, 0x1.00000001p-1, 0x40080000},           // 2.125 and a little
        // Zeros: x - x is +0, and -0 only from -0 + -0.
        {0.0f, -0.0f, 0.5, 0x00000000},
        {-0.0f, -0.0f, 0.5, 0x00000000},
        {-0.0f, 0.0f, -0.5, 0x80000000},
        {1.0f, 1.0f, 0.3, 0x3f800000},
        // Beyond the float range only at the end; below it, rounded once.
        {3.4e38f, -3.4e38f, 0.25, 0x7effc99e},
        {3.0e38f, 3.4e38f, 2.0, 0x7f800000},
        {-3.0e38f, -3.4e38f, 2.0, 0xff800000},
        {from_bits(1), from_bits(2), 0.5, 0x00000002}, // 1.5 smallest floats: a tie to even
        {from_bits(3), from_bits(2), 0.5, 0x00000002}, // 2.5 of them: to even too
        {1e-45f, 1e-40f, 0x1p-40, 0x00000001},
        // Infinities and NaNs: inf - inf and 0 * inf give the x87's default
        // NaN; of two NaNs, the larger significand, or the positive one.
        {INF, INF, 0.5, 0xffc00000},
        {1.0f, INF, 0.0, 0xffc00000},
        {1.0f, INF, 0.5, 0x7f800000},
        {-INF, 1.0f, 0.5, 0xffc00000},
        {from_bits(0x7fc00001), from_bits(0xffc00001), 0.5, 0x7fc00001},
        {from_bits(0xffc12345), from_bits(0x7fc00001), 0.5, 0xffc12345},
        {from_bits(0x7f800001), 2.0f, 0.5, 0x7fc00001}, // a signalling NaN made quiet
        {1.0f, 2.0f, std::nan(""), 0x7fc00000},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bits(ext_blend_soft(c.from, c.to, c.w)), c.expect) << c.from << " " << c.to << " " << c.w;
        EXPECT_EQ(bits(ext_blend(c.from, c.to, c.w)), c.expect) << c.from << " " << c.to << " " << c.w;
    }
}

#if LDBL_MANT_DIG == 64

// The same number as a long double; a NaN is not asked for.
long double hard(t_ext a)
{
    long double v = a.kind == EXT_INF ? INFINITY : a.kind == EXT_ZERO ? 0.0L : std::ldexp((long double)a.m, a.e);
    return a.neg ? -v : v;
}

// Random finite operands with all 64 bits in use, and others with few bits
// set, whose sums fall on ties and exact results.
class Operands {
public:
    explicit Operands(uint32_t seed) : rng_(seed) {}

    t_ext next(int32_t near_e)
    {
        uint64_t m = (uint64_t)rng_() << 32 | rng_();
        if (rng_() % 3 == 0)
            m &= (uint64_t)rng_() << 32 | rng_();
        if (rng_() % 4 == 0)
            m &= ~((1ull << (rng_() % 64)) - 1);
        if (rng_() % 8 == 0)
            m = rng_() % 4; // the first numbers of a binade
        m |= 1ull << 63;
        const int32_t spread[] = {0, 1, 2, 40, 63, 64, 65, 66, 100, 127, 128, 129, 300};
        int32_t d = (int32_t)(rng_() % 70);
        if (rng_() % 2)
            d = spread[rng_() % (sizeof spread / sizeof spread[0])];
        return t_ext{m, near_e - (rng_() % 2 ? d : -d), (uint8_t)(rng_() % 2), EXT_FINITE};
    }

    uint32_t below(uint32_t n) { return rng_() % n; }

private:
    std::mt19937 rng_;
};

void expect_same(t_ext soft, long double h, const char *op, int round)
{
    ASSERT_EQ(soft.kind == EXT_ZERO, h == 0) << op << " round " << round;
    ASSERT_EQ((bool)soft.neg, std::signbit(h)) << op << " round " << round;
    if (soft.kind == EXT_FINITE) {
        ASSERT_EQ(soft.m >> 63, 1u) << op << " round " << round;
        ASSERT_EQ(hard(soft), h) << op << " round " << round;
    }
}

TEST(Extended, SoftwareOperationsMatchTheX87)
{
    ASSERT_TRUE(EXT_HARDWARE);
    Operands r(20240612);
    for (int round = 0; round < 300000; round++) {
        // Near the float's normal and subnormal limits now and then, so that
        // the conversion meets them.
        const int32_t limits[] = {-63, -126 - 63, -150 - 63, 127 - 63, 128 - 63};
        const int32_t e = r.below(4) ? (int32_t)r.below(200) - 100 : limits[r.below(5)];
        const t_ext a = r.next(e), b = r.next(e);
        const long double ha = hard(a), hb = hard(b);
        expect_same(ext_add(a, b), ha + hb, "add", round);
        expect_same(ext_sub(a, b), ha - hb, "sub", round);
        expect_same(ext_mul(a, b), ha * hb, "mul", round);
        ASSERT_EQ(bits(ext_float(a)), bits((float)ha)) << "float round " << round;
        ASSERT_EQ(bits(ext_float(ext_add(a, b))), bits((float)(ha + hb))) << "float of sum round " << round;
        if (HasFatalFailure())
            return;
    }
}

// Floats and doubles of every size and kind, loaded exactly.
TEST(Extended, SoftwareBlendsMatchTheX87)
{
    std::mt19937 rng(7);
    const float specials[] = {
        0.0f,         -0.0f, INF, -INF, std::nanf(""), from_bits(0xffc12345), from_bits(1), from_bits(0x807fffff),
        3.4028235e38f};
    auto value = [&]() {
        if (rng() % 16 == 0)
            return specials[rng() % (sizeof specials / sizeof specials[0])];
        uint32_t u = rng();
        // Exponents near 1 most of the time, any exponent otherwise.
        if (rng() % 4)
            u = (u & 0x807fffff) | (uint32_t)(127 - 40 + rng() % 80) << 23;
        return from_bits(u);
    };
    for (int round = 0; round < 300000; round++) {
        const float from = value(), to = value();
        double w = std::ldexp((double)(rng() & 0xffffff), -24);
        if (rng() % 2)
            w = std::ldexp((double)rng(), -32);
        if (rng() % 64 == 0)
            w = (double)value();
        ASSERT_EQ(bits(ext_blend_soft(from, to, w)), bits(ext_blend(from, to, w)))
            << std::hexfloat << from << " " << to << " " << w << " round " << round;
        const double d = std::ldexp((double)rng() - 2147483648.0, (int)(rng() % 2200) - 1100);
        const t_ext x = ext_of(d);
        ASSERT_EQ(hard(x), (long double)d) << std::hexfloat << d;
        ASSERT_EQ(std::signbit(hard(x)), std::signbit(d)) << std::hexfloat << d;
    }
}

#endif

} // namespace
