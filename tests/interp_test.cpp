// Morphing between presets: all profiles between two numbers, one profile
// toward a neighbour of the current preset.
#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "extended.h"
#include "harness.h"

using namespace loopmass;
using test::bits;

namespace {

using test::fill;
using test::SENTINEL;

// Factory presets a and b blended by w, drawn from the generator in the
// order the routines draw them; the blend worked in software with a 64-bit
// significand, as the x87 does it.
void expected_blend(t_block out, int32_t a, int32_t b, float w, uint32_t seed)
{
    t_block from, to;
    loopmass_srand(seed);
    loopmass_factory(from, 256, a);
    loopmass_factory(to, 256, b);
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < 256; i++)
            out[p][i] = ext_blend_soft(from[p][i], to[p][i], w);
    loopmass_srand(seed);
}

TEST(InterpAll, WholeNumbersAndMissingPresets)
{
    test::Harness h;
    t_loopmass *x = h.create();
    const struct {
        float v;
        int32_t preset; // what dest holds afterwards, -1 for untouched
    } cases[] = {{2.0f, 2},  {9.5f, 9},     {0.0f, 0},       {12.5f, -1},         {10.0f, -1},         {-0.5f, -1},
                 {NAN, -1},  {INFINITY, -1}, {-3e9f, -1},    {2147483648.0f, -1}, {2147483520.0f, -1}};
    for (const auto &c : cases) {
        t_block dest, expect;
        fill(dest);
        fill(expect);
        if (c.preset >= 0)
            loopmass_factory(expect, 256, c.preset);
        // No second recall: 2.0 would otherwise draw preset 3's numbers.
        loopmass_srand(5);
        EXPECT_EQ(loopmass_interp_all(x, dest, c.v), 1) << c.v;
        const int next = loopmass_rand();
        loopmass_srand(5);
        EXPECT_EQ(next, loopmass_rand()) << c.v;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < MAXMASSES; i++)
                ASSERT_EQ(bits(dest[p][i]), bits(expect[p][i])) << c.v << " " << p << " " << i;
    }
}

TEST(InterpAll, BlendsByTheFraction)
{
    test::Harness h;
    t_loopmass *x = h.create();
    for (float v : {2.25f, 0.5f, 3.75f, 7.125f}) {
        const int32_t n = (int32_t)std::floor(v);
        t_block expect, dest;
        expected_blend(expect, n, n + 1, v - (float)n, 11);
        EXPECT_EQ(loopmass_interp_all(x, dest, v), 0) << v;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < 256; i++)
                ASSERT_EQ(bits(dest[p][i]), bits(expect[p][i])) << v << " " << p << " " << i;
        if (v == 2.25f) { // 0.75 x 0.9 + 0.25 x 0.7
            EXPECT_EQ(bits(dest[PROF_TENSION - 1][10]), bits(ext_blend_soft(0.9f, 0.7f, 0.25)));
        }
    }
}

TEST(InterpOne, BlendsOneProfileTowardANeighbour)
{
    const struct {
        int32_t preset;
        float v;
        int32_t neighbour;
        float w;
    } cases[] = {{4, 0.5f, 5, 0.5f}, {4, -0.5f, 3, 0.5f}, {4, 3, 5, 1},
                 {4, -7, 3, 1},      {1, 0.125f, 2, 0.125f}, {1, -1, 0, 1},
                 {4, NAN, 3, 1}}; // not a number: all the way to the preset below
    test::Harness h;
    t_loopmass *x = h.create();
    for (const auto &c : cases) {
        for (short k = 1; k <= NKINDS; k++) {
            x->x_preset = c.preset;
            fill(x->x_raw);
            t_block expect;
            expected_blend(expect, c.preset, c.neighbour, c.w, 3);
            EXPECT_EQ(loopmass_interp_one(x, k, c.v), 0);
            for (int p = 0; p < NKINDS; p++)
                for (int i = 0; i < MAXMASSES; i++)
                    ASSERT_EQ(bits(x->x_raw[p][i]), bits(p == k - 1 && i < 256 ? expect[p][i] : SENTINEL))
                        << c.preset << " " << c.v << " kind " << k << " profile " << p + 1 << " mass " << i;
        }
    }
    // Initial position at mass 128 is -1 in preset 5 and +1 in preset 6.
    x->x_preset = 5;
    EXPECT_EQ(loopmass_interp_one(x, PROF_INITPOS, 0.5f), 0);
    EXPECT_EQ(bits(x->x_raw[PROF_INITPOS - 1][128]), bits(0.0f));

    // A value almost halfway between two floats: a blend rounded through a
    // double first would give -0.40615094.
    test::Harness h175;
    x = h175.create({test::L(175)});
    h175.send(x, 0, "int", {test::L(7)});
    h175.send(x, 5, "float", {test::F(0.817f)});
    EXPECT_EQ(bits(x->x_raw[4][153]), bits(-0.40615097f));
}

TEST(InterpOne, EarlyReturnsChangeNothing)
{
    test::Harness h;
    t_loopmass *x = h.create({test::L(3)});
    // A stored preset with the largest number, which has no neighbour above.
    binbuf_vinsert(x->x_bank, "l", (long)INT_MAX);
    std::vector<t_atom> values = {test::F(0.5f), test::F(0.5f), test::F(0.5f)};
    for (int p = 0; p < NKINDS; p++)
        binbuf_insert(x->x_bank, nullptr, 3, values.data());
    x->x_index[0] = {INT_MAX, 4, 12};
    x->x_bank_nentries = x->x_bank_nstored = 1;

    const struct {
        int32_t preset;
        float v;
        short k, status;
    } cases[] = {
        {4, 0.0f, 4, 1},   {4, -0.0f, 4, 1},     {0, -0.5f, 2, 1},       {9, 0.5f, 2, 1},
        {12, 0.5f, 2, 1},  {INT_MIN, -1, 1, 1},    {INT_MAX, 0.5f, 1, 1},
        {INT_MAX, -0.5f, 1, 1},
        // Both presets exist but the kind names no profile.
        {4, 0.5f, 0, 0},   {4, 0.5f, 7, 0},      {4, -1, -3, 0},
    };
    for (const auto &c : cases) {
        x->x_preset = c.preset;
        fill(x->x_raw);
        EXPECT_EQ(loopmass_interp_one(x, c.k, c.v), c.status) << c.preset << " " << c.v << " " << c.k;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < MAXMASSES; i++)
                ASSERT_EQ(x->x_raw[p][i], SENTINEL) << c.preset << " " << c.v << " " << c.k;
        EXPECT_EQ(x->x_preset, c.preset);
    }
}

} // namespace
