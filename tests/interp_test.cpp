// Morphing between presets: all profiles between two numbers, one profile
// toward a neighbour of the current preset.
//
// Reaches into the record only to set up a preset number, a filled raw
// block and a bank index that no message would make.
#include <algorithm>
#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;

namespace {

using test::fill;
using test::SENTINEL;

// The two factory presets a morph lies between, drawn from the generator in
// the order the routines recall them; the generator is left as it was.
void presets(t_block from, t_block to, int32_t a, int32_t b, uint32_t seed)
{
    loopmass_srand(seed);
    loopmass_factory(from, 256, a);
    loopmass_factory(to, 256, b);
    loopmass_srand(seed);
}

// How far a blend may stray from the exact one: its steps round at 64 bits,
// which a float of a much smaller magnitude than the other end can show.
double slack(float from, float to)
{
    return std::ldexp((double)std::max(std::fabs(from), std::fabs(to)), -62);
}

// A blend by a weight of 0 to 1 lies between the two values it blends, and
// is their value where they agree.
bool between(float got, float from, float to)
{
    if (from == to)
        return got == from;
    return got >= std::min(from, to) - slack(from, to) && got <= std::max(from, to) + slack(from, to);
}

TEST(InterpAll, WholeNumbersAndMissingPresets)
{
    test::Harness h;
    t_loopmass *x = h.create();
    const struct {
        float v;
        int32_t preset; // what dest holds afterwards, -1 for untouched
    } cases[] = {{2.0f, 2}, {9.5f, 9},      {0.0f, 0},   {12.5f, -1},         {10.0f, -1},        {-0.5f, -1},
                 {NAN, -1}, {INFINITY, -1}, {-3e9f, -1}, {2147483648.0f, -1}, {2147483520.0f, -1}};
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

// Single values of the blends, worked out once on the x87 from the presets'
// formulas: (to - from) * w + from, rounded at 64 bits and then to a float.
TEST(InterpAll, BlendsByTheFraction)
{
    const struct {
        float v;
        int kind, mass;
        uint32_t expect;
    } points[] = {
        {2.25f, PROF_MASSES, 64, 0x3e59999a},     // 0.2 toward 0.25
        {2.25f, PROF_TENSION, 10, 0x3f599999},    // 0.9 toward 0.7
        {2.25f, PROF_CENTERING, 128, 0x3f1ccccd}, // 0.5 toward 0.95
        {2.25f, PROF_DAMPING, 0, 0x3e266666},     // 0.1 toward 0.35
        {0.5f, PROF_MASSES, 100, 0x3e8dfa67},     {0.5f, PROF_DAMPING, 7, 0x3e4ccccd},
        {0.5f, PROF_INITPOS, 5, 0x3f1b3333},  // 0.9 toward 0.3125
        {0.5f, PROF_INITPOS, 20, 0x3f533333}, // 0.9 toward 0.75
        {3.75f, PROF_MASSES, 32, 0x3e30ca6c},     {3.75f, PROF_CENTERING, 200, 0x3f153ee6},
        {7.125f, PROF_MASSES, 77, 0x3ec85705},    {7.125f, PROF_TENSION, 3, 0x3f300000}, // 0.7 toward 0.6: 0.6875
        {7.125f, PROF_FORCES, 16, 0x3eb00000},                                           // 0.5 toward -0.75: 0.34375
        {7.125f, PROF_FORCES, 240, 0x3eb00000},
    };
    test::Harness h;
    t_loopmass *x = h.create();
    for (float v : {2.25f, 0.5f, 3.75f, 7.125f}) {
        const int32_t n = (int32_t)std::floor(v);
        t_block from, to, dest;
        presets(from, to, n, n + 1, 11);
        EXPECT_EQ(loopmass_interp_all(x, dest, v), 0) << v;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < 256; i++)
                ASSERT_TRUE(between(dest[p][i], from[p][i], to[p][i])) << v << " kind " << p + 1 << " mass " << i;
        for (const auto &c : points)
            if (c.v == v) {
                EXPECT_EQ(bits(dest[c.kind - 1][c.mass]), c.expect) << v << " kind " << c.kind << " mass " << c.mass;
            }
    }
}

TEST(InterpOne, BlendsOneProfileTowardANeighbour)
{
    const struct {
        int32_t preset;
        float v;
        int32_t neighbour; // the whole way there when |v| is 1 or more
    } cases[] = {{4, 0.5f, 5},   {4, -0.5f, 3}, {4, 3, 5},  {4, -7, 3},
                 {1, 0.125f, 2}, {1, -1, 0},    {4, NAN, 3}}; // not a number: all the way to the preset below
    test::Harness h;
    t_loopmass *x = h.create();
    for (const auto &c : cases) {
        const bool whole = !(std::fabs(c.v) < 1);
        for (short k = 1; k <= NKINDS; k++) {
            x->x_preset = c.preset;
            fill(x->x_raw);
            t_block from, to;
            presets(from, to, c.preset, c.neighbour, 3);
            EXPECT_EQ(loopmass_interp_one(x, k, c.v), 0);
            for (int p = 0; p < NKINDS; p++)
                for (int i = 0; i < MAXMASSES; i++) {
                    const float got = loopmass_view_raw(x, p + 1)[i];
                    const bool right = p != k - 1 || i >= 256 ? got == SENTINEL
                                       : whole ? std::fabs((double)got - to[p][i]) <= slack(from[p][i], to[p][i])
                                               : between(got, from[p][i], to[p][i]);
                    ASSERT_TRUE(right) << c.preset << " " << c.v << " kind " << k << " profile " << p + 1 << " mass "
                                       << i << ": " << got;
                }
        }
    }

    // Single values, worked out as for InterpAll.
    const struct {
        int32_t preset;
        float v;
        int kind, mass;
        uint32_t expect;
    } points[] = {
        {4, 0.5f, PROF_CENTERING, 40, 0x3f1abcc6},
        {4, -0.5f, PROF_MASSES, 90, 0x3e9af5b8},
        {4, -0.5f, PROF_CENTERING, 40, 0x3ef2a12e},
        {1, 0.125f, PROF_MASSES, 200, 0x3ddc6950},
        {7, 0.3f, PROF_FORCES, 250, 0x3ebcffd5},  // 0.9157 toward -0.9063
        {8, -0.3f, PROF_FORCES, 250, 0xbeb824a3}, // and back: not the same value
        {6, 0.75f, PROF_INITPOS, 50, 0x3f6ccccc}, // 1 toward 0.9
        // All the way is the blend's value, not quite the neighbour's
        // (0xa48d3132) near 0: -1 toward -6.123234e-17.
        {6, -1.0f, PROF_INITPOS, 32, 0xa48d4000},
        {0, 1.0f, PROF_MASSES, 100, 0x3dcccccd},
    };
    for (const auto &c : points) {
        x->x_preset = c.preset;
        EXPECT_EQ(loopmass_interp_one(x, (short)c.kind, c.v), 0);
        EXPECT_EQ(bits(loopmass_view_raw(x, c.kind)[c.mass]), c.expect) << c.preset << " " << c.v << " kind " << c.kind;
    }

    // Initial position at mass 128 is -1 in preset 5 and +1 in preset 6.
    x->x_preset = 5;
    EXPECT_EQ(loopmass_interp_one(x, PROF_INITPOS, 0.5f), 0);
    EXPECT_EQ(bits(loopmass_view_raw(x, PROF_INITPOS)[128]), bits(0.0f));

    // A value almost halfway between two floats: a blend rounded through a
    // double first would give -0.40615094.
    test::Harness h175;
    x = h175.create({test::L(175)});
    h175.send(x, 0, "int", {test::L(7)});
    h175.send(x, 5, "float", {test::F(0.817f)});
    EXPECT_EQ(bits(loopmass_view_raw(x, 5)[153]), bits(-0.40615097f));
}

TEST(InterpOne, EarlyReturnsChangeNothing)
{
    test::Harness h;
    t_loopmass *x = h.create({test::L(3)});
    // A stored preset with the largest number, which has no neighbour above.
    binbuf_vinsert(loopmass_view_bank(x).store, "l", (long)INT_MAX);
    std::vector<t_atom> values = {test::F(0.5f), test::F(0.5f), test::F(0.5f)};
    for (int p = 0; p < NKINDS; p++)
        binbuf_insert(loopmass_view_bank(x).store, nullptr, 3, values.data());
    x->x_index[0] = {INT_MAX, 4, 12};
    x->x_bank_nentries = x->x_bank_nstored = 1;

    const struct {
        int32_t preset;
        float v;
        short k, status;
    } cases[] = {
        {4, 0.0f, 4, 1},  {4, -0.0f, 4, 1},    {0, -0.5f, 2, 1},      {9, 0.5f, 2, 1},
        {12, 0.5f, 2, 1}, {INT_MIN, -1, 1, 1}, {INT_MAX, 0.5f, 1, 1}, {INT_MAX, -0.5f, 1, 1},
    };
    for (const auto &c : cases) {
        x->x_preset = c.preset;
        fill(x->x_raw);
        EXPECT_EQ(loopmass_interp_one(x, c.k, c.v), c.status) << c.preset << " " << c.v << " " << c.k;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < MAXMASSES; i++)
                ASSERT_EQ(loopmass_view_raw(x, p + 1)[i], SENTINEL) << c.preset << " " << c.v << " " << c.k;
        EXPECT_EQ(loopmass_view_preset(x), c.preset);
    }
}

} // namespace
