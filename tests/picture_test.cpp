// Pictures of a run: what the command line gathers of the ring and of the
// output while a score runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "harness.h"
#include "picture.h"
#include "runner.h"
#include "score.h"

namespace {

using loopmass::loopmass_view_profile;
using loopmass::loopmass_view_ring;

using score::Picture;
using test::bits;
using test::F;
using test::L;
using test::t_loopmass;

std::vector<score::Event> events_of(const std::string &text)
{
    std::vector<score::Event> events;
    score::ParseError err;
    EXPECT_TRUE(score::parse(text, events, err)) << err.message;
    return events;
}

// Runs a score as the command line does with --picture (seed 1, no
// transcript), its run cut into at most `columns` columns.
std::unique_ptr<Picture> record(const std::string &text, int columns, int vs = 64)
{
    std::vector<score::Event> events = events_of(text);
    score::Options options;
    options.vs = vs;
    options.quiet = true;
    options.fix_seed = true;
    options.seed = 1;
    std::unique_ptr<Picture> p(new Picture(score::output_samples(events, vs), columns));
    EXPECT_EQ(score::run(events, options, nullptr, p.get(), stdout), 0);
    return p;
}

std::vector<uint32_t> column_bits(const Picture::Column &c)
{
    std::vector<uint32_t> v;
    for (int i = 0; i < c.masses; i++)
        v.push_back(bits(c.pos[i]));
    return v;
}

TEST(Picture, OutputSamplesRoundEveryRunToWholeVectors)
{
    struct Case {
        const char *score;
        int vs;
        int64_t samples;
    };
    const Case cases[] = {
        {"new\nrun 100\n", 64, 128},
        {"new\nrun 128\n", 64, 128},
        {"new\nvs 10\nrun 5\nvs 64\nrun 100\n", 64, 10 + 128},
        {"new\nrun 1\nrun 1\n", 2048, 4096},
        {"new\nrun 0\nwait 1000\n", 64, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(score::output_samples(events_of(c.score), c.vs), c.samples) << c.score;
}

// With one column per 256 samples, every column holds exactly the ring that
// one haptic step left, whatever the vector size: vectors of 512 samples or
// more run several steps, and those the record no longer holds are run again.
TEST(Picture, EachStepIsItsOwnColumnAtEveryVectorSize)
{
    const int nmasses = 24, steps = 48; // 12288 samples, whole vectors of each size below
    const std::string score = "new 24\n0 5\n7 220\n0 bang\nrun 12288\n";

    // The ring after each step, read from an object stepped one vector of
    // 256 samples at a time.
    std::vector<std::vector<uint32_t>> expected;
    {
        test::Harness h;
        t_loopmass *x = h.create({L(nmasses)});
        h.send(x, 0, "int", {L(5)});
        h.send(x, 7, "int", {L(220)});
        h.send(x, 0, "bang");
        headless::dsp_start(256);
        for (int s = 0; s < steps; s++) {
            headless::dsp_tick();
            expected.emplace_back();
            for (int i = 0; i < nmasses; i++)
                expected.back().push_back(bits(loopmass_view_ring(x)[i]));
        }
        headless::dsp_stop();
        ASSERT_NE(expected[steps - 2], expected[steps - 1]); // the ring still moves
    }

    for (int vs : {64, 128, 256, 512, 768, 1024, 2048}) {
        std::unique_ptr<Picture> p = record(score, steps, vs);
        ASSERT_EQ(p->columns().size(), (size_t)steps);
        EXPECT_EQ(p->steps(), steps) << "vs " << vs;
        for (int c = 0; c < steps; c++) {
            EXPECT_EQ(p->columns()[(size_t)c].steps, 1) << "vs " << vs << " column " << c;
            EXPECT_EQ(column_bits(p->columns()[(size_t)c]), expected[(size_t)c]) << "vs " << vs << " column " << c;
        }
    }

    // With two columns per step, a step is counted where it begins and its
    // shape fills both.
    std::unique_ptr<Picture> p = record(score, 2 * steps, 2048);
    for (int c = 0; c < 2 * steps; c++) {
        EXPECT_EQ(p->columns()[(size_t)c].steps, 1 - c % 2) << "column " << c;
        EXPECT_EQ(column_bits(p->columns()[(size_t)c]), expected[(size_t)c / 2]) << "column " << c;
    }
}

// An inactive object runs no step, so each stretch of the run holds the
// shape the strike left.  Two such stretches in one column are merged mass
// by mass into the position farthest from 0, the first on a tie; in columns
// of their own each keeps its shape.
TEST(Picture, AColumnMergesItsShapesIntoThePositionFarthestFromZero)
{
    // Initial positions as lists take 0..1 for -1..1.
    const std::string first = "6 list 0.75 0.25 0.5 0.125 0.625\n"; //  0.5  -0.5  0  -0.75  0.25
    const std::string second = "6 list 0.125 0.75 0.5 0.75 1.0\n";  // -0.75  0.5  0   0.5   1
    const std::string score = "new 5\n0 inactive 1\n" + first + "0 bang\nrun 256\n" + second + "0 bang\nrun 256\n";
    struct Case {
        int columns;
        std::vector<std::vector<float>> expected;
    };
    const Case cases[] = {
        {1, {{-0.75f, -0.5f, 0.0f, -0.75f, 1.0f}}},
        {2, {{0.5f, -0.5f, 0.0f, -0.75f, 0.25f}, {-0.75f, 0.5f, 0.0f, 0.5f, 1.0f}}},
    };
    for (const Case &c : cases) {
        std::unique_ptr<Picture> p = record(score, c.columns);
        ASSERT_EQ(p->columns().size(), c.expected.size());
        EXPECT_EQ(p->steps(), 0);
        for (size_t k = 0; k < c.expected.size(); k++) {
            const Picture::Column &col = p->columns()[k];
            ASSERT_EQ(col.masses, 5);
            EXPECT_EQ(col.steps, 0);
            for (int i = 0; i < 5; i++)
                EXPECT_EQ(bits(col.pos[i]), bits(c.expected[k][(size_t)i]))
                    << c.columns << " columns, column " << k << " mass " << i;
        }
    }
}

// Columns follow the output's time: a stretch without an object holds no
// ring, a smaller ring fills only its own rows, and the profiles shown are
// those of the last object, taken when it is freed.
TEST(Picture, ColumnsFollowTheObjectsOfTheRun)
{
    std::unique_ptr<Picture> p =
        record("new 8\n0 2\n7 110\n0 bang\nrun 256\nfree\nrun 256\nnew 5\n0 5\n2 gain 0.5\nrun 256\n", 3);
    const std::vector<Picture::Column> &cols = p->columns();
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].masses, 8);
    EXPECT_EQ(cols[1].masses, 0);
    EXPECT_EQ(cols[2].masses, 5);
    EXPECT_EQ(p->rows(), 8);
    EXPECT_EQ(p->steps(), 2);
    for (const Picture::Column &c : cols)
        EXPECT_TRUE(c.heard);
    EXPECT_EQ(cols[1].low, 0.0f);
    EXPECT_EQ(cols[1].high, 0.0f);

    test::Harness h;
    t_loopmass *x = h.create({L(5)});
    h.send(x, 0, "int", {L(5)});
    h.send(x, 2, "gain", {F(0.5f)});
    ASSERT_EQ(p->profile_masses(), 5);
    for (int k = 1; k <= loopmass::NKINDS; k++)
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(bits(p->profile(k)[i]), bits(loopmass_view_profile(x, k)[i])) << "kind " << k << " mass " << i;
}

// The envelope holds each column's smallest and largest sample however the
// samples arrive; a sample that is not a number widens nothing.
TEST(Picture, EnvelopeHoldsEachColumnsExtremes)
{
    // 20 samples in 3 columns: samples 0-6, 7-13 and 14-19.
    const float samples[20] = {1, -2, 3, 0.5f, -4, 2, 0, 5, NAN, -6, 1, 1, 4.5f, -1, 7, 8, 9, 7.5f, 8, 8.25f};
    const float low[3] = {-4, -6, 7}, high[3] = {3, 5, 9};
    const std::vector<std::vector<int>> splits = {{20}, {4, 16}, {7, 7, 6}, {3, 3, 3, 3, 3, 3, 2}, {13, 1, 6}};
    for (const std::vector<int> &split : splits) {
        Picture p(20, 3);
        int at = 0;
        for (int n : split) {
            p.before_vector(nullptr, n);
            p.after_vector(nullptr, samples + at, n);
            at += n;
        }
        ASSERT_EQ(p.columns().size(), 3u);
        for (int c = 0; c < 3; c++) {
            EXPECT_TRUE(p.columns()[(size_t)c].heard);
            EXPECT_EQ(p.columns()[(size_t)c].low, low[c]) << "split of " << split.size() << ", column " << c;
            EXPECT_EQ(p.columns()[(size_t)c].high, high[c]) << "split of " << split.size() << ", column " << c;
        }
    }

    // A run shorter than the columns asked for gets one column per sample.
    Picture shortrun(3, 800);
    shortrun.after_vector(nullptr, samples, 3);
    ASSERT_EQ(shortrun.columns().size(), 3u);
    EXPECT_EQ(shortrun.columns()[1].low, -2.0f);
    EXPECT_EQ(shortrun.columns()[2].high, 3.0f);
}

// The drawn envelope of a column takes in the columns within 5 ms on
// either side (220.5 samples at 44100 Hz), so that a tone's period never
// falls between columns; columns of 5 ms or more stand alone.
TEST(Picture, EnvelopeReachesFiveMillisecondsAroundAColumn)
{
    struct Case {
        int64_t total;
        int columns;
        int rate;
        int query;
        bool reaches; // the spike in column 10 shows at the queried column
    };
    const Case cases[] = {
        {44100, 400, 44100, 10, true}, // columns of 110.25 samples: two on either side
        {44100, 400, 44100, 8, true},   {44100, 400, 44100, 12, true},
        {44100, 400, 44100, 7, false},  {44100, 400, 44100, 13, false},
        {88200, 400, 44100, 11, true},                                  // 220.5 samples: exactly one on either side
        {88200, 400, 44100, 12, false}, {441000, 800, 44100, 10, true}, // 551.25 samples: each column alone
        {441000, 800, 44100, 9, false}, {441000, 800, 44100, 11, false},
        {88200, 400, 88200, 8, true},                                 // 5 ms is 441 samples at 88200 Hz: two columns
        {88200, 400, 88200, 7, false},  {44100, 400, 8000, 10, true}, // and 40 samples at 8000 Hz: each column alone
        {44100, 400, 8000, 11, false},
    };
    for (const Case &c : cases) {
        Picture p(c.total, c.columns, c.rate);
        std::vector<float> samples((size_t)c.total, 0.0f);
        samples[(size_t)((10 * c.total + c.columns - 1) / c.columns)] = 1.0f; // the first sample of column 10
        p.after_vector(nullptr, samples.data(), (int)c.total);
        float low, high;
        ASSERT_TRUE(p.envelope(c.query, low, high));
        EXPECT_EQ(low, 0.0f);
        EXPECT_EQ(high, c.reaches ? 1.0f : 0.0f) << c.total << " samples at " << c.rate << " Hz, column " << c.query;
    }

    // Columns no sample reached have no envelope, nor do columns outside.
    Picture half(44100, 400);
    std::vector<float> samples(22050, 0.5f);
    half.after_vector(nullptr, samples.data(), 22050);
    float low, high;
    EXPECT_TRUE(half.envelope(200, low, high)); // 2 columns from the last heard one
    EXPECT_FALSE(half.envelope(202, low, high));
    EXPECT_FALSE(half.envelope(400, low, high));
    EXPECT_FALSE(half.envelope(-1, low, high));
}

} // namespace
