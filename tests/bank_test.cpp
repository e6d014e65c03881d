// The preset bank in memory: where store puts each group, what clear marks,
// and that a store the index cannot hold changes nothing.
//
// Reaches into the record only to set up what no message reaches: raw
// profiles written directly, a preset number, a foreign bank version and a
// stored count near the index's limit.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <string>
#include <vector>

#include "bank_state.h"
#include "harness.h"

namespace {

using loopmass::loopmass_view_bank;
using loopmass::loopmass_view_nmasses;
using loopmass::loopmass_view_preset;
using loopmass::t_block;
using loopmass::t_loopmass;
using patcher::t_atom;
using test::BankState;
using test::bank_state;
using test::float_atom;
using test::raw_bits;
using test::recalled;
using test::store_atoms;
using test::F;
using test::L;
using test::S;

std::vector<int32_t> entry(t_loopmass *x, int e)
{
    const loopmass::t_bankentry &i = loopmass_view_bank(x).index[e];
    return {i.number, i.atoms, i.bytes};
}

// Fills every raw profile with values that tell masses and kinds apart and
// lie within -1 to 1.
void fill_raw(t_loopmass *x, int seed)
{
    for (int k = 0; k < loopmass::NKINDS; k++)
        for (int i = 0; i < loopmass_view_nmasses(x); i++)
            x->x_raw[k][i] = (float)(((seed * 131 + k * 17 + i * 7) % 200) - 100) / 128.0f;
}

TEST(Bank, GroupsLieWhereTheIndexSays)
{
    test::Harness h;
    const int n = 64;
    t_loopmass *x = h.create({L(n)});
    h.take();
    h.send(x, 0, "store");
    h.send(x, 0, "store", {L(5)});
    EXPECT_EQ(entry(x, 0), (std::vector<int32_t>{0, 4, 12}));
    // The header is three longs and a semicolon: 4 atoms, 12 bytes.  A group
    // of 64 masses is its number and a semicolon, then six lists of 64
    // floats each ended by a semicolon: 2 + 6 x 65 = 392 atoms, 4 + 6 x 64
    // x 8 = 3076 bytes.  The second group begins at 4 + 392 = 396 atoms,
    // 12 + 3076 = 3088 bytes.
    EXPECT_EQ(entry(x, 1), (std::vector<int32_t>{5, 396, 3088}));
    EXPECT_EQ(loopmass_view_bank(x).entries, 2);
    EXPECT_EQ(loopmass_view_bank(x).stored, 2);
    EXPECT_EQ(loopmass_view_bank(x).cleared, 0);
    EXPECT_EQ(loopmass_view_preset(x), 0);
    EXPECT_TRUE(h.take().empty()) << "store sends nothing";

    // The header, then per group a number and six lists of N floats.
    std::vector<std::string> a = store_atoms(loopmass_view_bank(x).store);
    ASSERT_EQ(a.size(), 788u); // 4 + 2 x 392
    EXPECT_EQ(std::vector<std::string>(a.begin(), a.begin() + 4), (std::vector<std::string>{"L64", "L-2", "L0", ";"}));
    for (int g = 0; g < 2; g++) {
        size_t at = (size_t)loopmass_view_bank(x).index[g].atoms;
        EXPECT_EQ(a[at], g == 0 ? "L0" : "L5");
        EXPECT_EQ(a[at + 1], ";");
        for (int p = 0; p < 6; p++) {
            size_t start = at + 2 + (size_t)p * (n + 1);
            for (int i = 0; i < n; i++)
                EXPECT_EQ(a[start + i][0], 'F') << "group " << g << " profile " << p << " value " << i;
            EXPECT_EQ(a[start + n], ";");
        }
    }

    // The second cursor addresses the same atom as the first.
    long p1 = loopmass_view_bank(x).index[1].atoms, p2 = loopmass_view_bank(x).index[1].bytes;
    t_atom at;
    ASSERT_EQ(patcher::binbuf_getatom(loopmass_view_bank(x).store, &p1, &p2, &at), 0);
    EXPECT_EQ(at.a_type, patcher::A_LONG);
    EXPECT_EQ(at.a_w.w_long, 5);
}

TEST(Bank, StoreChoosesItsNumber)
{
    struct Case {
        const char *what;
        std::vector<t_atom> args;
        int32_t expected;
    };
    const Case cases[] = {
        {"no argument", {}, 4},    {"a long", {L(9)}, 9},       {"a negative long", {L(-3)}, 3},
        {"a float", {F(2.7f)}, 4}, {"a symbol", {S("foo")}, 4}, {"a long then more", {L(6), L(8)}, 6},
    };
    for (const Case &c : cases) {
        test::Harness h;
        t_loopmass *x = h.create({L(8)});
        x->x_preset = 4;
        h.send(x, 0, "store", c.args);
        ASSERT_EQ(loopmass_view_bank(x).entries, 1) << c.what;
        EXPECT_EQ(loopmass_view_bank(x).index[0].number, c.expected) << c.what;
        EXPECT_EQ(loopmass_view_preset(x), 4) << c.what;
    }
}

TEST(Bank, StoreAndRecallKeepEveryBit)
{
    test::Harness h;
    t_loopmass *x = h.create({L(5)});
    // Forces and initial position are held on 0 to 1 and come back as they
    // were for the values that survive the shift exactly.
    const float shifted[5] = {-1.0f, 1.0f, 0.0f, 0.5f, -0.25f};
    const float held[5] = {0.0f, 1.0f, 0.5f, 0.75f, 0.375f};
    for (int k = 0; k < 6; k++)
        for (int i = 0; i < 5; i++)
            x->x_raw[k][i] = k < 4 ? 0.1f * (float)(k + 1) + 0.01f * (float)i : shifted[i];
    std::vector<uint32_t> before = raw_bits(x);
    h.send(x, 0, "store", {L(2)});

    std::vector<std::string> a = store_atoms(loopmass_view_bank(x).store);
    size_t forces = (size_t)loopmass_view_bank(x).index[0].atoms + 2 + 4 * 6;
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(a[forces + i], float_atom(held[i])) << "forces value " << i;
    }
    EXPECT_EQ(recalled(x, 2), before);
}

// Forces and initial position go to their stored form and back as the
// nearest float to v * 0.5 + 0.5 and to v * 2 - 1; the bits are the x87's,
// which earlier builds worked these at, so stored presets and files keep
// their values.  Other kinds pass unchanged.
TEST(Bank, StoredFormsAreTheNearestFloats)
{
    const struct {
        uint32_t v, stored, raw;
    } cases[] = {
        {0x3f800000, 0x3f800000, 0x3f800000}, // 1 is 1 both ways
        {0xbf800000, 0x00000000, 0xc0400000}, // -1 is +0; back, -3
        {0x80000000, 0x3f000000, 0xbf800000}, // -0
        {0x00000000, 0x3f000000, 0xbf800000},
        {0x3f400000, 0x3f600000, 0x3f000000}, // 0.75 is held as 0.875 and recalled as 0.5
        {0x00000001, 0x3f000000, 0xbf800000}, // the smallest float
        {0xb3000001, 0x3effffff, 0xbf800001}, // just past half a float below 0.5
        {0xb3000000, 0x3f000000, 0xbf800000}, // exactly half: to even
        {0x32800000, 0x3f000000, 0xbf800000}, // back: a tie, to even
        {0x32800001, 0x3f000000, 0xbf7fffff}, // back: just past the tie
        {0x33800001, 0x3f000001, 0xbf7ffffe}, // just past half a float above 0.5
        {0x3f000001, 0x3f400000, 0x34000000}, // back: exact
        {0x3effffff, 0x3f400000, 0xb3800000},
        {0x7e800000, 0x7e000000, 0x7f000000},
        {0x7f7fffff, 0x7effffff, 0x7f800000}, // back: beyond the floats
        {0x7f800000, 0x7f800000, 0x7f800000},
        {0xff800000, 0xff800000, 0xff800000},
        {0xffc12345, 0xffc12345, 0xffc12345}, // a NaN keeps its sign and payload
        {0x7f800001, 0x7fc00001, 0x7fc00001}, // and a signalling one becomes quiet
    };
    for (const auto &c : cases) {
        float v = test::from_bits(c.v);
        for (int k : {loopmass::PROF_FORCES, loopmass::PROF_INITPOS}) {
            EXPECT_EQ(test::bits(loopmass::loopmass_stored(k, v)), c.stored) << std::hex << c.v;
            EXPECT_EQ(test::bits(loopmass::loopmass_raw(k, v)), c.raw) << std::hex << c.v;
        }
        for (int k = loopmass::PROF_MASSES; k <= loopmass::PROF_DAMPING; k++) {
            EXPECT_EQ(test::bits(loopmass::loopmass_stored(k, v)), c.v) << std::hex << c.v;
            EXPECT_EQ(test::bits(loopmass::loopmass_raw(k, v)), c.v) << std::hex << c.v;
        }
    }
#if LDBL_MANT_DIG == 64
    // Where the x87 is there, against it on a sample of every kind of float.
    for (uint64_t u = 0; u <= 0xffffffffu; u += 251) {
        float v = test::from_bits((uint32_t)u);
        ASSERT_EQ(test::bits(loopmass::loopmass_stored(loopmass::PROF_FORCES, v)),
                  test::bits((float)((long double)v * 0.5 + 0.5)))
            << std::hex << u;
        ASSERT_EQ(test::bits(loopmass::loopmass_raw(loopmass::PROF_FORCES, v)),
                  test::bits((float)((long double)v * 2 - 1)))
            << std::hex << u;
    }
#endif
}

TEST(Bank, StoringANumberAgainSupersedesItsGroup)
{
    test::Harness h;
    const int n = 8;
    t_loopmass *x = h.create({L(n)});
    fill_raw(x, 1);
    h.send(x, 0, "store", {L(3)});
    fill_raw(x, 2);
    std::vector<uint32_t> second = raw_bits(x);
    h.send(x, 0, "store", {L(3)});

    EXPECT_EQ(loopmass_view_bank(x).entries, 1);
    EXPECT_EQ(loopmass_view_bank(x).stored, 2);
    // The new group follows the header (4 atoms, 12 bytes) and the first
    // group of 8 masses (2 + 6 x 9 = 56 atoms, 4 + 6 x 8 x 8 = 388 bytes).
    EXPECT_EQ(entry(x, 0), (std::vector<int32_t>{3, 60, 400}));
    EXPECT_EQ(recalled(x, 3), second);
}

TEST(Bank, ClearMarksOnlyTheEntryItFinds)
{
    struct Case {
        const char *what;
        std::vector<t_atom> args;
        int32_t preset;
        int cleared_entry; // -1: nothing changes
    };
    const Case cases[] = {
        {"a stored number", {L(3)}, 0, 1},
        {"no argument clears the current preset", {}, 3, 1},
        {"no argument, current preset not stored", {}, 4, -1},
        {"a number not stored", {L(4)}, 0, -1},
        {"a negative number", {L(-3)}, 0, -1},
        {"minus one", {L(-1)}, 0, -1},
        {"a float", {F(3.0f)}, 0, -1},
        {"another symbol", {S("none")}, 3, -1},
    };
    for (const Case &c : cases) {
        test::Harness h;
        t_loopmass *x = h.create({L(4)});
        h.send(x, 0, "store", {L(0)});
        h.send(x, 0, "store", {L(3)});
        x->x_preset = c.preset;
        BankState before = bank_state(x);
        h.take();
        h.send(x, 0, "clear", c.args);
        EXPECT_TRUE(h.take().empty()) << c.what;
        BankState after = bank_state(x);
        if (c.cleared_entry < 0) {
            EXPECT_EQ(after, before) << c.what;
            continue;
        }
        before.index[(size_t)c.cleared_entry][0] = -1;
        before.ncleared++;
        EXPECT_EQ(after, before) << c.what;
        EXPECT_EQ(loopmass_view_preset(x), c.preset) << c.what;
    }
}

TEST(Bank, AClearedNumberStoredAgainTakesANewEntry)
{
    test::Harness h;
    t_loopmass *x = h.create({L(6)});
    std::vector<uint32_t> factory = recalled(x, 7);
    fill_raw(x, 5);
    h.send(x, 0, "store", {L(7)});
    h.send(x, 0, "clear", {L(7)});
    EXPECT_EQ(recalled(x, 7), factory) << "clearing brings the factory shape back";
    fill_raw(x, 6);
    std::vector<uint32_t> latest = raw_bits(x);
    h.send(x, 0, "store", {L(7)});

    EXPECT_EQ(loopmass_view_bank(x).entries, 2);
    EXPECT_EQ(loopmass_view_bank(x).cleared, 1);
    EXPECT_EQ(loopmass_view_bank(x).stored, 2);
    EXPECT_EQ(loopmass_view_bank(x).index[0].number, -1);
    EXPECT_EQ(loopmass_view_bank(x).index[1].number, 7);
    EXPECT_EQ(recalled(x, 7), latest);
    EXPECT_TRUE(recalled(x, -1).empty()) << "a cleared entry is never found";
}

TEST(Bank, ClearAllLeavesOnlyAFreshHeader)
{
    test::Harness h;
    t_loopmass *x = h.create({L(7)});
    fill_raw(x, 3);
    h.send(x, 0, "store", {L(0)});
    h.send(x, 0, "store", {L(1)});
    h.send(x, 0, "clear", {L(1)});
    x->x_bank_version = -1;
    std::vector<uint32_t> raw = raw_bits(x);
    h.send(x, 0, "clear", {S("all")});

    BankState s = bank_state(x);
    EXPECT_EQ(s.atoms, (std::vector<std::string>{"L7", "L-2", "L0", ";"}));
    EXPECT_EQ(s.version, -2);
    EXPECT_EQ(s.nmasses, 7);
    EXPECT_EQ(s.nentries, 0);
    EXPECT_EQ(s.ncleared, 0);
    EXPECT_EQ(s.nstored, 0);
    EXPECT_EQ(raw_bits(x), raw) << "the profiles in use do not change";
    t_block factory;
    loopmass::loopmass_factory(factory, 7, 0);
    t_block got;
    ASSERT_EQ(loopmass::loopmass_recall(x, got, 0), 0);
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(test::bits(got[0][i]), test::bits(factory[0][i]));

    // The next store starts again at the first group.
    h.send(x, 0, "store", {L(2)});
    EXPECT_EQ(entry(x, 0), (std::vector<int32_t>{2, 4, 12}));
}

TEST(Bank, AStoreTheIndexCannotHoldIsRefused)
{
    test::Harness h;
    t_loopmass *x = h.create({L(3)});
    for (int i = 0; i < 127; i++)
        h.send(x, 0, "store", {L(i)});
    h.send(x, 0, "clear", {L(0)}); // a cleared entry still takes its place
    h.send(x, 0, "store", {L(127)});
    ASSERT_EQ(loopmass_view_bank(x).entries, 128);
    h.take();

    BankState full = bank_state(x);
    std::vector<uint32_t> raw = raw_bits(x);
    h.send(x, 0, "store", {L(500)});
    h.send(x, 0, "store", {L(0)});
    std::vector<test::Event> lines = h.take();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].channel, "error");
    EXPECT_EQ(lines[0].text, "loopmass~: bank full, preset 500 not stored");
    EXPECT_EQ(lines[1].text, "loopmass~: bank full, preset 0 not stored");
    EXPECT_EQ(bank_state(x), full);
    EXPECT_EQ(raw_bits(x), raw);

    // A number already held still takes new profiles.
    fill_raw(x, 9);
    h.send(x, 0, "store", {L(64)});
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(loopmass_view_bank(x).stored, 129);
    EXPECT_EQ(recalled(x, 64), raw_bits(x));
}

TEST(Bank, CursorsBeyondThirtyTwoBitsAreRefused)
{
    // After some 170000 stores of 256 masses the next group's cursor would
    // not fit the index; set the count there instead of storing that often.
    test::Harness h;
    t_loopmass *x = h.create({L(256)});
    // A group of 256 masses takes 4 + 6 x 256 x 8 = 12292 bytes after the
    // header's 12: group 174706 would begin at byte 12 + 174706 x 12292 =
    // 2147486164, beyond 2^31 - 1 = 2147483647; group 174705 begins at
    // 2147473872, which fits.
    x->x_bank_nstored = 174706;
    h.take();
    BankState before = bank_state(x);
    h.send(x, 0, "store", {L(1)});
    std::vector<test::Event> lines = h.take("error");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "loopmass~: bank full, preset 1 not stored");
    EXPECT_EQ(bank_state(x), before);

    x->x_bank_nstored--;
    h.send(x, 0, "store", {L(1)});
    EXPECT_TRUE(h.take("error").empty());
    EXPECT_EQ(loopmass_view_bank(x).entries, 1);
}

TEST(Bank, ANumberWithNoAbsoluteValueIsRefused)
{
    test::Harness h;
    t_loopmass *x = h.create({L(3)});
    h.take();
    BankState before = bank_state(x);
    h.send(x, 0, "store", {L(INT32_MIN)});
    std::vector<test::Event> lines = h.take("error");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "loopmass~: bad preset number -2147483648, not stored");
    EXPECT_EQ(bank_state(x), before);
}

} // namespace
