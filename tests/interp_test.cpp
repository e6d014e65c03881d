// Morphing between presets: all profiles between two numbers, one profile
// toward a neighbour of the current preset.
#include <climits>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;

namespace {

const float SENTINEL = -123.5f;

void fill(t_block b, float v)
{
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < MAXMASSES; i++)
            b[p][i] = v;
}

void expect_same(const t_block a, const t_block b, int n, const char *what)
{
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < n; i++)
            ASSERT_EQ(bits(a[p][i]), bits(b[p][i])) << what << ": kind " << p + 1 << " mass " << i;
}

// What a blend of two presets by weight w gives, computed from the factory
// shapes drawn in the same order as the routines draw them.
void blend(t_block out, const t_block from, const t_block to, float w, int n)
{
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < n; i++)
            out[p][i] = (float)(((double)to[p][i] - from[p][i]) * w + from[p][i]);
}

TEST(InterpAll, WholeNumbersAndMissingNeighbours)
{
    test::Harness h;
    t_loopmass *x = h.create();
    struct {
        float v;
        int32_t preset; // what dest holds afterwards, -1 for untouched
    } cases[] = {
        {2.0f, 2}, {9.5f, 9}, {0.0f, 0}, {12.5f, -1}, {10.0f, -1}, {-0.5f, -1},
        {INFINITY, -1}, {NAN, -1}, {2147483648.0f, -1}, {2147483520.0f, -1}, {-3e9f, -1},
    };
    for (auto &c : cases) {
        t_block dest, expect;
        fill(dest, SENTINEL);
        fill(expect, SENTINEL);
        if (c.preset >= 0)
            loopmass_factory(expect, 256, c.preset);
        // A second recall would draw random numbers (preset 3 from 2.0):
        // the generator must be where the seed left it.
        loopmass_srand(5);
        EXPECT_EQ(loopmass_interp_all(x, dest, c.v), 1) << c.v;
        int next = loopmass_rand();
        loopmass_srand(5);
        EXPECT_EQ(next, loopmass_rand()) << c.v;
        expect_same(dest, expect, MAXMASSES, "interp_all");
    }
}

TEST(InterpAll, BlendsByFraction)
{
    test::Harness h;
    t_loopmass *x = h.create();
    for (float v : {2.25f, 0.5f, 3.75f, 7.125f}) {
        int32_t n = (int32_t)std::floor(v);
        t_block lower, upper, expect, dest;
        loopmass_srand(11);
        loopmass_factory(lower, 256, n);
        loopmass_factory(upper, 256, n + 1);
        blend(expect, lower, upper, v - (float)n, 256);
        loopmass_srand(11);
        EXPECT_EQ(loopmass_interp_all(x, dest, v), 0) << v;
        expect_same(dest, expect, 256, "blend");
    }
    // 0.75 x 0.9 + 0.25 x 0.7 for the tension between presets 2 and 3.
    t_block dest;
    loopmass_interp_all(x, dest, 2.25f);
    EXPECT_EQ(bits(dest[PROF_TENSION - 1][10]), bits((float)(((double)0.7f - 0.9f) * 0.25 + 0.9f)));
}

TEST(InterpOne, BlendsOneProfileTowardANeighbour)
{
    struct {
        int32_t preset;
        float v;
        int32_t neighbour;
        float w;
    } cases[] = {
        {4, 0.5f, 5, 0.5f}, {4, -0.5f, 3, 0.5f}, {4, 3.0f, 5, 1.0f},
        {4, -7.0f, 3, 1.0f}, {1, 0.125f, 2, 0.125f}, {1, -1.0f, 0, 1.0f},
    };
    for (auto &c : cases) {
        for (short k = 1; k <= NKINDS; k++) {
            test::Harness h;
            t_loopmass *x = h.create();
            x->x_preset = c.preset;
            fill(x->x_raw, SENTINEL);
            t_block here, there, expect;
            loopmass_srand(3);
            loopmass_factory(here, 256, c.preset);
            loopmass_factory(there, 256, c.neighbour);
            blend(expect, here, there, c.w, 256);
            loopmass_srand(3);
            EXPECT_EQ(loopmass_interp_one(x, k, c.v), 0);
            for (int p = 0; p < NKINDS; p++)
                for (int i = 0; i < MAXMASSES; i++) {
                    float want = p == k - 1 && i < 256 ? expect[p][i] : SENTINEL;
                    ASSERT_EQ(bits(x->x_raw[p][i]), bits(want))
                        << "preset " << c.preset << " v " << c.v << " kind " << k << " profile " << p + 1 << " mass " << i;
                }
        }
    }
}

TEST(InterpOne, ForcesBlendAcrossZero)
{
    test::Harness h;
    t_loopmass *x = h.create();
    // Initial position at mass 128: -1 in preset 5, +1 in preset 6.
    x->x_preset = 5;
    EXPECT_EQ(loopmass_interp_one(x, PROF_INITPOS, 0.5f), 0);
    EXPECT_EQ(bits(x->x_raw[PROF_INITPOS - 1][128]), bits(0.0f));
}

TEST(InterpOne, EarlyReturnsChangeNothing)
{
    struct {
        int32_t preset;
        float v;
        short k;
        short status;
    } cases[] = {
        {4, 0.0f, 4, 1},      {4, -0.0f, 4, 1},    {0, -0.5f, 2, 1},      {9, 0.5f, 2, 1},
        {12, 0.5f, 2, 1},     {4, NAN, 4, 1},      {INT_MIN, -1.0f, 1, 1}, {-1, 0.5f, 1, 1},
        // Both presets exist but the kind names no profile.
        {4, 0.5f, 0, 0},      {4, 0.5f, 7, 0},     {4, -1.0f, -3, 0},
    };
    for (auto &c : cases) {
        test::Harness h;
        t_loopmass *x = h.create();
        x->x_preset = c.preset;
        fill(x->x_raw, SENTINEL);
        EXPECT_EQ(loopmass_interp_one(x, c.k, c.v), c.status) << c.preset << " " << c.v << " " << c.k;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < MAXMASSES; i++)
                ASSERT_EQ(bits(x->x_raw[p][i]), bits(SENTINEL)) << c.preset << " " << c.v << " " << c.k;
        EXPECT_EQ(x->x_preset, c.preset);
    }
}

TEST(InterpOne, NoNeighbourPastTheLargestNumber)
{
    test::Harness h;
    t_loopmass *x = h.create({test::L(3)});
    // A stored preset with the largest 32-bit number, first group of the bank.
    binbuf_vinsert(x->x_bank, "l", (long)INT_MAX);
    std::vector<t_atom> values = {test::F(0.5f), test::F(0.5f), test::F(0.5f)};
    for (int p = 0; p < NKINDS; p++)
        binbuf_insert(x->x_bank, nullptr, 3, values.data());
    x->x_index[0][0] = INT_MAX;
    x->x_index[0][1] = 4;
    x->x_index[0][2] = 12;
    x->x_bank_nentries = 1;
    x->x_bank_nstored = 1;
    x->x_preset = INT_MAX;
    fill(x->x_raw, SENTINEL);
    EXPECT_EQ(loopmass_interp_one(x, 1, 0.5f), 1);
    EXPECT_EQ(bits(x->x_raw[0][0]), bits(SENTINEL));
    // Downward the neighbour is an ordinary number with no preset.
    EXPECT_EQ(loopmass_interp_one(x, 1, -0.5f), 1);
    EXPECT_EQ(bits(x->x_raw[0][0]), bits(SENTINEL));
}

} // namespace
