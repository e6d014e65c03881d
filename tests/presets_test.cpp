// Factory presets, the random generator, bank lookup and recall.
//
// Reaches into the record only to set up a bank index and raw profiles.
#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;

namespace {

using test::fill;
using test::SENTINEL;

TEST(Factory, ValuesAtChosenMasses)
{
    const int IP = PROF_INITPOS, FO = PROF_FORCES;
    const struct {
        int32_t preset;
        int n, kind, mass;
        float expect;
    } cases[] = {
        {1, 256, IP, 0, 0.0f},
        {1, 256, IP, 15, 0.9375f},
        {1, 256, IP, 16, 1.0f},
        {1, 256, IP, 31, 0.0625f},
        {1, 256, IP, 32, 0.0f},
        {2, 256, IP, 1, 0.0625f},
        {2, 256, IP, 15, 0.9375f},
        {2, 256, IP, 16, 0.9375f},
        {2, 256, IP, 255, 1.0f / 256},
        {1, 3, IP, 0, 0.0f},
        {1, 3, IP, 1, 0.0f},
        {1, 3, IP, 2, 0.0f},
        {2, 3, IP, 0, 1.0f},
        {2, 3, IP, 1, (float)(1 - 1.0 / 3)},
        {2, 3, IP, 2, (float)(1 - 2.0 / 3)},
        {7, 3, FO, 0, 0.0f},
        {7, 3, FO, 1, 0.0f},
        {7, 3, FO, 2, 0.25f},
        {6, 256, IP, 42, -1.0f},
        {6, 256, IP, 43, 1.0f},
        {6, 256, IP, 85, 1.0f},
        {6, 256, IP, 86, -1.0f},
        {6, 256, IP, 127, -1.0f},
        {6, 256, IP, 128, 1.0f},
        {6, 256, IP, 170, 1.0f},
        {6, 256, IP, 171, -1.0f},
        {6, 256, IP, 213, -1.0f},
        {6, 256, IP, 214, 1.0f},
        {9, 256, FO, 63, -1.0f},
        {9, 256, FO, 64, 1.0f},
        {9, 256, FO, 128, -1.0f},
        {9, 256, FO, 192, 1.0f},
        {8, 256, FO, 0, -1.0f},
        {8, 256, FO, 127, 0.984375f},
        {8, 256, FO, 128, 1.0f},
        {8, 256, FO, 255, -0.984375f},
        {7, 256, FO, 0, 1.0f},
        {7, 256, FO, 16, 0.5f},
        {7, 256, FO, 32, 0.0f},
        {7, 256, FO, 223, 0.0f},
        {7, 256, FO, 255, 0.99759239f},
        {5, 256, IP, 0, -1.0f},
        {5, 256, IP, 64, 1.0f},
        {5, 256, IP, 128, -1.0f},
        {5, 256, IP, 192, 1.0f},
        {5, 10, IP, 3, 0.809017003f},
        {0, 256, PROF_MASSES, 0, 0.1f},
        {0, 256, PROF_MASSES, 64, 0.3f},
        {0, 256, PROF_MASSES, 128, 0.5f},
        {4, 256, PROF_MASSES, 128, 0.42f},
        {7, 256, PROF_MASSES, 32, 0.158578649f},
        {8, 256, PROF_MASSES, 100, 0.797854722f},
        {3, 256, PROF_CENTERING, 50, 0.415244073f},
        {6, 7, PROF_CENTERING, 3, 0.50207752f},
    };
    for (const auto &c : cases) {
        t_block b;
        ASSERT_EQ(loopmass_factory(b, c.n, c.preset), 0);
        EXPECT_EQ(bits(b[c.kind - 1][c.mass]), bits(c.expect))
            << "preset " << c.preset << " N " << c.n << " kind " << c.kind << " mass " << c.mass;
    }
}

TEST(Factory, ConstantProfilesAtEveryMass)
{
    // NAN marks a profile that varies along the ring.
    const float constant[10][NKINDS] = {
        {NAN, 0, 0.7f, 0.4f, 0, 0.9f},      {0.1f, 0.7f, 0.42f, 0, 0, NAN},      {NAN, 0.9f, 0.5f, 0.1f, 0, NAN},
        {0.25f, 0.7f, NAN, 0.35f, 0, NAN},  {NAN, 0, 0.62f, 0.5f, 0, NAN},       {0, 0, NAN, 0.7f, 0, NAN},
        {0, 0.7f, NAN, 0, 0, NAN},          {NAN, 0.7f, 0.7f, 0.46f, NAN, 0.9f}, {NAN, 0.6f, 0.7f, 0.6f, NAN, 0.9f},
        {NAN, 0.8f, 0.7f, 0.4f, NAN, 0.9f},
    };
    for (int32_t n = 0; n < 10; n++) {
        t_block b;
        ASSERT_EQ(loopmass_factory(b, 256, n), 0);
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < 256 && !std::isnan(constant[n][p]); i++)
                ASSERT_EQ(bits(b[p][i]), bits(constant[n][p])) << "preset " << n << " kind " << p + 1 << " mass " << i;
    }
}

TEST(Factory, WritesOnlyFirstNMassesOfKnownNumbers)
{
    for (int32_t n : {-1, 10, 1000, INT_MIN, INT_MAX, 0}) {
        t_block b;
        fill(b);
        EXPECT_EQ(loopmass_factory(b, 5, n), n == 0 ? 0 : 1) << n;
        for (int p = 0; p < NKINDS; p++) {
            EXPECT_EQ(b[p][4] != SENTINEL, n == 0) << n;
            EXPECT_EQ(b[p][5], SENTINEL) << n;
        }
    }
}

TEST(Factory, RandomPresetsDrawFromTheSeededGenerator)
{
    // The runtime's generator seeded with 1 starts 41, 18467, 6334.
    loopmass_srand(1);
    EXPECT_EQ(loopmass_rand(), 41);
    EXPECT_EQ(loopmass_rand(), 18467);
    t_block b;
    loopmass_srand(1);
    loopmass_factory(b, 3, 3);
    EXPECT_EQ(bits(b[PROF_INITPOS - 1][2]), bits((float)(6334 / 32767.0)));
    loopmass_srand(1);
    loopmass_factory(b, 3, 4);
    EXPECT_EQ(bits(b[PROF_INITPOS - 1][1]), bits((float)(18467 * 0.2 / 32767 + 0.8)));

    for (int32_t preset : {3, 4}) {
        t_block first, second, again;
        loopmass_srand(77);
        loopmass_factory(first, 256, preset);
        loopmass_factory(second, 256, preset);
        loopmass_srand(77);
        loopmass_factory(again, 256, preset);
        int same = 0;
        for (int i = 0; i < 256; i++) {
            float v = first[PROF_INITPOS - 1][i];
            EXPECT_TRUE(v >= (preset == 3 ? 0.0f : 0.8f) && v <= 1.0f) << preset << " " << v;
            same += v == second[PROF_INITPOS - 1][i];
            EXPECT_EQ(bits(v), bits(again[PROF_INITPOS - 1][i]));
        }
        EXPECT_LT(same, 10) << preset;
    }
}

TEST(Recall, FindMatchesTheFirstLiveEntry)
{
    const t_bankentry index[5] = {{-1, 0, 0}, {5, 0, 0}, {3, 0, 0}, {5, 0, 0}, {8, 0, 0}};
    const int32_t cases[][3] = {{5, 5, 1}, {5, 3, 2}, {5, 8, 4}, {4, 8, -1}, {5, -1, -1}, {5, 7, -1}, {-3, 5, -1}};
    for (auto &c : cases)
        EXPECT_EQ(loopmass_find(index, c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(Recall, StoredGroupOverridesFactoryAndConvertsTwoKinds)
{
    test::Harness h;
    t_loopmass *x = h.create({L(3)});
    // One group by hand, longs among the floats, the first after the header.
    std::vector<t_atom> groups[NKINDS] = {{F(0.125f), L(1), F(0.5f)},  {F(-2.5f), F(0.7f), F(0)},
                                          {F(0.3f), F(0.3f), F(0.3f)}, {F(0.4f), F(0.5f), F(0.6f)},
                                          {F(0.75f), F(0), F(1)},      {L(0), L(1), F(0.25f)}};
    binbuf_vinsert(loopmass_view_bank(x).store, "l", 3L);
    for (auto &g : groups)
        binbuf_insert(loopmass_view_bank(x).store, nullptr, 3, g.data());
    x->x_index[0] = {3, 4, 12};
    x->x_bank_nentries = x->x_bank_nstored = 1;
    h.take();

    const float expect[NKINDS][3] = {{0.125f, 1, 0.5f},  {-2.5f, 0.7f, 0}, {0.3f, 0.3f, 0.3f},
                                     {0.4f, 0.5f, 0.6f}, {0.5f, -1, 1},    {-1, 1, -0.5f}};
    t_block b;
    fill(b);
    ASSERT_EQ(loopmass_recall(x, b, 3), 0);
    for (int p = 0; p < NKINDS; p++) {
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(bits(b[p][i]), bits(expect[p][i])) << "kind " << p + 1 << " mass " << i;
        EXPECT_EQ(b[p][3], SENTINEL);
    }

    // Cleared, the factory shape is back (same draw from the same seed).
    x->x_index[0].number = -1;
    t_block factory;
    loopmass_srand(9);
    loopmass_factory(factory, 3, 3);
    loopmass_srand(9);
    ASSERT_EQ(loopmass_recall(x, b, 3), 0);
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(bits(b[p][i]), bits(factory[p][i]));

    for (int32_t n : {10, 1000, -1, INT_MIN}) {
        fill(b);
        EXPECT_EQ(loopmass_recall(x, b, n), 1) << n;
        EXPECT_EQ(b[0][0], SENTINEL) << n;
    }
    EXPECT_TRUE(h.take().empty());
}

TEST(Recall, ReadsTheLatestGroupThatStoreWrote)
{
    test::Harness h;
    t_loopmass *x = h.create({L(5)});
    h.send(x, 0, "store", {L(3)});
    h.send(x, 0, "store", {L(1)});
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < 5; i++)
            x->x_raw[p][i] = (float)(p * 10 + i) / 64 - 0.5f;
    h.send(x, 0, "store", {L(3)});
    t_block b;
    ASSERT_EQ(loopmass_recall(x, b, 3), 0);
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(bits(b[p][i]), bits(loopmass_view_raw(x, p + 1)[i])) << p << " " << i;
}

} // namespace
