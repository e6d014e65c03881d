// The loopmass command line's sound to the bit: every path of the engine
// renders what it rendered before, and the sets of vector units it runs.
#include <gtest/gtest.h>

#include "program.h"

namespace {

using namespace test::cli;

// The program run as a user runs it: every engine path and message renders the same bits.
class CliBits : public Cli {};

// Every ring size class, vector size class and kind of pitch and gain the
// engine treats apart, rendered on every set of vector units this machine
// runs.  The fingerprints are those of the sound and transcript before the
// engine ran in vector passes: not one bit may change.
TEST_F(CliBits, EveryPathRendersTheSameBitsAsBefore)
{
    const std::string score = "seed 7\n"
                              "new 3\n0 4\n0 bang\n"
                              "7 fg 44100 1 -22050 0.5 1e30 1 -1e-30 -0. 3e-45 1e30\n"
                              "vs 1\nrun 300\nvs 7\nrun 700\n"
                              "7 -11025 1e-30 60000 -3000.5 0.001\n"
                              "vs 2048\nrun 8192\nvs 100\nrun 3000\n"
                              "new 256\n0 3\n0 bang\n7 113 223 333 443 553\n"
                              "vs 64\nrun 8820\nvs 256\nrun 8820\nvs 48\nrun 4410\n"
                              "7 fg 440 -0. 220 0 330 1e30 110 1 55 -1\nrun 4410\n0 2.5\nrun 4410\n"
                              "new 17\n0 5\n0 bang\n7 1e6 -1e6 44100.5 22049.9 5512.5\nrun 8820\n"
                              "0 stop\nrun 640\n0 bang\n3 gain 7\n5 all 1 0 0.5 2\nrun 8820\n";
    const Result list = program("simd");
    ASSERT_EQ(list.status, 0);
    int paths = 0;
    for (const std::string &line : split(list.out, '\n')) {
        const std::string name = line.substr(0, line.find(' '));
        Result r = run(score, "-o sound.wav", false, "LOOPMASS_SIMD=" + name);
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.err, "") << name;
        EXPECT_EQ(fingerprint(read_file(dir_ / "sound.wav")), 0xcb34d379a6d1be19u) << name;
        EXPECT_EQ(fingerprint(r.out), 0x0292952f1a8c79ccu) << name;
        paths++;
    }
    EXPECT_GE(paths, 1);
}

// ramp 0 and lowcut 0, given anywhere, and a lowcut turned on and off
// again before any sound, leave the transcript and the sound of the score
// above as they were; a lowcut on during one run changes that run only.
TEST_F(CliBits, RampZeroAndLowcutOffLeaveTheSoundAsItWas)
{
    const std::string score = "seed 7\n"
                              "new 3\n0 ramp 0\n0 4\n0 bang\n"
                              "7 fg 44100 1 -22050 0.5 1e30 1 -1e-30 -0. 3e-45 1e30\n"
                              "vs 1\nrun 300\n3 lowcut 0\nvs 7\nrun 700\n"
                              "7 -11025 1e-30 60000 -3000.5 0.001\n"
                              "vs 2048\nrun 8192\nvs 100\nrun 3000\n"
                              "new 256\n7 lowcut 20\n0 lowcut 0\n0 3\n0 bang\n7 113 223 333 443 553\n"
                              "vs 64\nrun 8820\n0 ramp 5\n0 ramp 0.\nvs 256\nrun 8820\nvs 48\nrun 4410\n"
                              "7 fg 440 -0. 220 0 330 1e30 110 1 55 -1\nrun 4410\n0 2.5\nrun 4410\n"
                              "new 17\n0 5\n0 bang\n7 1e6 -1e6 44100.5 22049.9 5512.5\nrun 8820\n"
                              "0 stop\nrun 640\n0 bang\n3 gain 7\n5 all 1 0 0.5 2\nrun 8820\n";
    Result r = run(score, "-o sound.wav");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fingerprint(read_file(dir_ / "sound.wav")), 0xcb34d379a6d1be19u);
    EXPECT_EQ(fingerprint(r.out), 0x0292952f1a8c79ccu);

    // Runs of whole vectors: 3200, 1920 and 3200 samples.
    const std::string head = "new 64\n0 5\n7 220 330\n0 bang\nrun 3200\n", tail = "0 lowcut 0\nrun 3200\n";
    Result plain = run(head + "run 1920\n" + tail, "-o plain.wav");
    Result on = run(head + "0 lowcut 50\nrun 1920\n" + tail, "-o on.wav");
    EXPECT_EQ(on.out, plain.out);
    const std::string a = read_file(dir_ / "plain.wav"), b = read_file(dir_ / "on.wav");
    ASSERT_EQ(a.size(), b.size());
    const size_t data = a.size() - 4 * 8320; // the samples end the file
    EXPECT_TRUE(a.substr(0, data + 4 * 3200) == b.substr(0, data + 4 * 3200));
    EXPECT_FALSE(a.substr(data + 4 * 3200, 4 * 1920) == b.substr(data + 4 * 3200, 4 * 1920));
    EXPECT_TRUE(a.substr(data + 4 * 5120) == b.substr(data + 4 * 5120));
}

TEST_F(CliBits, SimdListsTheSetsAndMarksTheOneInUse)
{
    const Result all = program("simd", "", "env -u LOOPMASS_SIMD");
    ASSERT_EQ(all.status, 0);
    const std::vector<std::string> lines = split(all.out, '\n');
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 8), "portable");
    // Without the switch the widest set runs; with it, the one named.
    EXPECT_NE(lines.back().find(" (in use)"), std::string::npos) << all.out;
    const Result plain = program("simd", "", "LOOPMASS_SIMD=portable");
    EXPECT_EQ(split(plain.out, '\n')[0], "portable (in use)");
    EXPECT_EQ(plain.err, "");
    // A name this machine cannot run is said on standard error, and the
    // widest set runs.
    const Result bogus = program("simd", "", "env LOOPMASS_SIMD=avx1024");
    EXPECT_EQ(bogus.status, 0);
    EXPECT_EQ(bogus.out, all.out);
    EXPECT_NE(bogus.err.find("LOOPMASS_SIMD=avx1024 is not a set this machine runs"), std::string::npos) << bogus.err;
    EXPECT_EQ(program("simd extra").status, 2);
}

} // namespace
