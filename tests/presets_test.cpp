// Factory presets, the random generator, bank lookup and recall.
#include <climits>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;

namespace {

// A block filled with a value no preset produces, to see what was written.
void fill(t_block b, float v)
{
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < MAXMASSES; i++)
            b[p][i] = v;
}

const float SENTINEL = -123.5f;

struct FactoryCase {
    int32_t preset;
    int n;
    int kind;
    int mass;
    float expect;
};

// The values a reader of the preset tables can work out by hand.
const FactoryCase FACTORY_CASES[] = {
    {1, 256, PROF_INITPOS, 0, 0.0f},
    {1, 256, PROF_INITPOS, 15, 0.9375f},
    {1, 256, PROF_INITPOS, 16, 1.0f},
    {1, 256, PROF_INITPOS, 31, 0.0625f},
    {1, 256, PROF_INITPOS, 32, 0.0f},
    {1, 256, PROF_INITPOS, 255, 0.0f},
    {2, 256, PROF_INITPOS, 1, 0.0625f},
    {2, 256, PROF_INITPOS, 15, 0.9375f},
    {2, 256, PROF_INITPOS, 16, 0.9375f},
    {2, 256, PROF_INITPOS, 255, 1.0f / 256},
    {1, 3, PROF_INITPOS, 0, 0.0f},
    {1, 3, PROF_INITPOS, 1, 0.0f},
    {1, 3, PROF_INITPOS, 2, 0.0f},
    {2, 3, PROF_INITPOS, 0, 1.0f},
    {2, 3, PROF_INITPOS, 1, (float)(1 - 1.0 / 3)},
    {2, 3, PROF_INITPOS, 2, (float)(1 - 2.0 / 3)},
    {7, 3, PROF_FORCES, 0, 0.0f},
    {7, 3, PROF_FORCES, 1, 0.0f},
    {7, 3, PROF_FORCES, 2, 0.25f},
    {6, 256, PROF_INITPOS, 0, -1.0f},
    {6, 256, PROF_INITPOS, 42, -1.0f},
    {6, 256, PROF_INITPOS, 43, 1.0f},
    {6, 256, PROF_INITPOS, 85, 1.0f},
    {6, 256, PROF_INITPOS, 86, -1.0f},
    {6, 256, PROF_INITPOS, 127, -1.0f},
    {6, 256, PROF_INITPOS, 128, 1.0f},
    {6, 256, PROF_INITPOS, 170, 1.0f},
    {6, 256, PROF_INITPOS, 171, -1.0f},
    {6, 256, PROF_INITPOS, 213, -1.0f},
    {6, 256, PROF_INITPOS, 214, 1.0f},
    {6, 256, PROF_INITPOS, 255, 1.0f},
    {9, 256, PROF_FORCES, 63, -1.0f},
    {9, 256, PROF_FORCES, 64, 1.0f},
    {9, 256, PROF_FORCES, 127, 1.0f},
    {9, 256, PROF_FORCES, 128, -1.0f},
    {9, 256, PROF_FORCES, 191, -1.0f},
    {9, 256, PROF_FORCES, 192, 1.0f},
    {8, 256, PROF_FORCES, 0, -1.0f},
    {8, 256, PROF_FORCES, 127, 0.984375f},
    {8, 256, PROF_FORCES, 128, 1.0f},
    {8, 256, PROF_FORCES, 255, -0.984375f},
    {7, 256, PROF_FORCES, 0, 1.0f},
    {7, 256, PROF_FORCES, 16, 0.5f},
    {7, 256, PROF_FORCES, 31, (float)((std::cos((31 * 25.132741228718345) / 256) + 1) * 0.5)},
    {7, 256, PROF_FORCES, 32, 0.0f},
    {7, 256, PROF_FORCES, 223, 0.0f},
    {7, 256, PROF_FORCES, 255, (float)((std::cos((255 * 25.132741228718345) / 256) + 1) * 0.5)},
    {0, 256, PROF_MASSES, 0, 0.1f},
    {0, 256, PROF_MASSES, 64, (float)((1 - std::cos((64 * 6.283185307179586) / 256)) * 0.2 + 0.1)},
    {0, 256, PROF_MASSES, 128, (float)((1 - std::cos((128 * 6.283185307179586) / 256)) * 0.2 + 0.1)},
    {4, 256, PROF_MASSES, 128, (float)((1 - std::cos((128 * 6.283185307179586) / 256)) * 0.16 + 0.1)},
    {8, 256, PROF_MASSES, 100, (float)((1 - std::cos((100 * 6.283185307179586) / 256)) * 0.45)},
    {3, 256, PROF_CENTERING, 50, (float)((1 - std::cos((50 * 6.283185307179586) / 256)) * 0.4 + 0.15)},
    {6, 7, PROF_CENTERING, 3, (float)((1 - std::cos((3 * 6.283185307179586) / 7)) * 0.08 + 0.35)},
    {5, 256, PROF_INITPOS, 0, -1.0f},
    {5, 256, PROF_INITPOS, 64, 1.0f},
    {5, 256, PROF_INITPOS, 128, -1.0f},
    {5, 256, PROF_INITPOS, 192, 1.0f},
    {5, 10, PROF_INITPOS, 3, (float)-std::cos((3 * 12.566370614359172) / 10)},
};

TEST(Factory, ValuesAtChosenMasses)
{
    for (const FactoryCase &c : FACTORY_CASES) {
        t_block b;
        fill(b, SENTINEL);
        ASSERT_EQ(loopmass_factory(b, c.n, c.preset), 0);
        EXPECT_EQ(bits(b[c.kind - 1][c.mass]), bits(c.expect))
            << "preset " << c.preset << " N " << c.n << " kind " << c.kind << " mass " << c.mass << ": "
            << b[c.kind - 1][c.mass];
    }
}

TEST(Factory, ConstantProfilesAtEveryMass)
{
    // NAN marks a profile that varies along the ring.
    const float constant[10][NKINDS] = {
        {NAN, 0.0f, 0.7f, 0.4f, 0.0f, 0.9f},   {0.1f, 0.7f, 0.42f, 0.0f, 0.0f, NAN},
        {NAN, 0.9f, 0.5f, 0.1f, 0.0f, NAN},    {0.25f, 0.7f, NAN, 0.35f, 0.0f, NAN},
        {NAN, 0.0f, 0.62f, 0.5f, 0.0f, NAN},   {0.0f, 0.0f, NAN, 0.7f, 0.0f, NAN},
        {0.0f, 0.7f, NAN, 0.0f, 0.0f, NAN},    {NAN, 0.7f, 0.7f, 0.46f, NAN, 0.9f},
        {NAN, 0.6f, 0.7f, 0.6f, NAN, 0.9f},    {NAN, 0.8f, 0.7f, 0.4f, NAN, 0.9f},
    };
    for (int32_t n = 0; n < 10; n++) {
        t_block b;
        ASSERT_EQ(loopmass_factory(b, 256, n), 0);
        for (int p = 0; p < NKINDS; p++) {
            if (std::isnan(constant[n][p]))
                continue;
            for (int i = 0; i < 256; i++)
                ASSERT_EQ(bits(b[p][i]), bits(constant[n][p])) << "preset " << n << " kind " << p + 1 << " mass " << i;
        }
    }
}

TEST(Factory, WritesOnlyTheFirstNMassesOfKnownPresets)
{
    for (int32_t n : {-1, 10, 1000, INT_MIN, INT_MAX}) {
        t_block b;
        fill(b, SENTINEL);
        EXPECT_EQ(loopmass_factory(b, 256, n), 1) << n;
        for (int p = 0; p < NKINDS; p++)
            for (int i = 0; i < MAXMASSES; i++)
                ASSERT_EQ(bits(b[p][i]), bits(SENTINEL)) << n;
    }
    t_block b;
    fill(b, SENTINEL);
    ASSERT_EQ(loopmass_factory(b, 5, 0), 0);
    for (int p = 0; p < NKINDS; p++) {
        EXPECT_NE(bits(b[p][4]), bits(SENTINEL));
        EXPECT_EQ(bits(b[p][5]), bits(SENTINEL));
    }
}

TEST(Random, GeneratorSequenceAndRandomPresets)
{
    // The runtime's generator seeded with 1 starts 41, 18467, 6334.
    loopmass_srand(1);
    EXPECT_EQ(loopmass_rand(), 41);
    EXPECT_EQ(loopmass_rand(), 18467);
    EXPECT_EQ(loopmass_rand(), 6334);

    loopmass_srand(1);
    t_block b;
    ASSERT_EQ(loopmass_factory(b, 3, 3), 0);
    EXPECT_EQ(bits(b[PROF_INITPOS - 1][0]), bits((float)(41 / 32767.0)));
    EXPECT_EQ(bits(b[PROF_INITPOS - 1][2]), bits((float)(6334 / 32767.0)));
    loopmass_srand(1);
    ASSERT_EQ(loopmass_factory(b, 3, 4), 0);
    EXPECT_EQ(bits(b[PROF_INITPOS - 1][1]), bits((float)(18467 * 0.2 / 32767 + 0.8)));

    // Ranges, fresh values at every recall, and the same values again after
    // the same seed.
    for (int32_t preset : {3, 4}) {
        float lo = preset == 3 ? 0.0f : 0.8f;
        loopmass_srand(77);
        t_block first, second, again;
        loopmass_factory(first, 256, preset);
        loopmass_factory(second, 256, preset);
        loopmass_srand(77);
        loopmass_factory(again, 256, preset);
        int same = 0;
        for (int i = 0; i < 256; i++) {
            float v = first[PROF_INITPOS - 1][i];
            EXPECT_TRUE(v >= lo && v <= 1.0f) << preset << " " << i << " " << v;
            same += bits(v) == bits(second[PROF_INITPOS - 1][i]);
            EXPECT_EQ(bits(v), bits(again[PROF_INITPOS - 1][i]));
        }
        EXPECT_LT(same, 10) << preset;
    }
}

TEST(Find, FirstLiveEntryWins)
{
    const int32_t index[5][3] = {{-1, 0, 0}, {5, 0, 0}, {3, 0, 0}, {5, 0, 0}, {8, 0, 0}};
    struct {
        int32_t count, n;
        int expect;
    } cases[] = {
        {5, 5, 1}, {5, 3, 2}, {5, 8, 4}, {4, 8, -1}, {5, -1, -1}, {5, 7, -1}, {0, 5, -1}, {-3, 5, -1},
    };
    for (auto &c : cases)
        EXPECT_EQ(loopmass_find(index, c.count, c.n), c.expect) << c.count << " " << c.n;
}

// Appends one group (number, then six profiles of N atoms) to the bank and
// indexes it; the group must be the first after the header.
void store_by_hand(t_loopmass *x, int32_t number, const std::vector<t_atom> profiles[NKINDS])
{
    binbuf_vinsert(x->x_bank, "l", (long)number);
    for (int p = 0; p < NKINDS; p++)
        binbuf_insert(x->x_bank, nullptr, (short)profiles[p].size(), const_cast<t_atom *>(profiles[p].data()));
    x->x_index[0][0] = number;
    x->x_index[0][1] = 4;
    x->x_index[0][2] = 12;
    x->x_bank_nentries = 1;
    x->x_bank_nstored = 1;
}

TEST(Recall, StoredGroupOverridesFactoryAndConvertsTwoKinds)
{
    test::Harness h;
    t_loopmass *x = h.create({test::L(3)});
    using test::F;
    using test::L;
    const std::vector<t_atom> profiles[NKINDS] = {
        {F(0.125f), L(1), F(0.5f)},   {F(-2.5f), F(0.7f), F(0.0f)}, {F(0.3f), F(0.3f), F(0.3f)},
        {F(0.4f), F(0.5f), F(0.6f)},  {F(0.75f), F(0.0f), F(1.0f)}, {L(0), L(1), F(0.25f)},
    };
    store_by_hand(x, 3, profiles);
    h.take();

    t_block b;
    fill(b, SENTINEL);
    ASSERT_EQ(loopmass_recall(x, b, 3), 0);
    const float expect[NKINDS][3] = {
        {0.125f, 1.0f, 0.5f}, {-2.5f, 0.7f, 0.0f}, {0.3f, 0.3f, 0.3f},
        {0.4f, 0.5f, 0.6f},   {0.5f, -1.0f, 1.0f}, {-1.0f, 1.0f, -0.5f},
    };
    for (int p = 0; p < NKINDS; p++) {
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(bits(b[p][i]), bits(expect[p][i])) << "kind " << p + 1 << " mass " << i;
        EXPECT_EQ(bits(b[p][3]), bits(SENTINEL));
    }

    // A cleared entry is not found: the factory shape is back.
    x->x_index[0][0] = -1;
    t_block factory;
    loopmass_srand(9);
    loopmass_factory(factory, 3, 3);
    loopmass_srand(9);
    ASSERT_EQ(loopmass_recall(x, b, 3), 0);
    for (int p = 0; p < NKINDS; p++)
        EXPECT_EQ(std::memcmp(b[p], factory[p], 3 * sizeof(float)), 0) << p;

    // Numbers neither stored nor factory: status 1, nothing written, silent.
    for (int32_t n : {10, 1000, -1, INT_MIN}) {
        fill(b, SENTINEL);
        EXPECT_EQ(loopmass_recall(x, b, n), 1) << n;
        for (int p = 0; p < NKINDS; p++)
            EXPECT_EQ(bits(b[p][0]), bits(SENTINEL)) << n;
    }
    EXPECT_TRUE(h.take().empty());
}

TEST(Recall, ReadsWhatStoreWrote)
{
    test::Harness h;
    t_loopmass *x = h.create({test::L(5)});
    // Two groups, so that the second is read at cursors past the first.
    h.send(x, 0, "store", {test::L(1)});
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < 5; i++)
            x->x_raw[p][i] = (float)(p * 10 + i) / 64 - 0.5f;
    h.send(x, 0, "store", {test::L(3)});
    t_block b;
    ASSERT_EQ(loopmass_recall(x, b, 3), 0);
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(bits(b[p][i]), bits(x->x_raw[p][i])) << p << " " << i;
}

} // namespace
