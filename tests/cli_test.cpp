// The loopmass command line running scores, in a temporary folder: what
// the transcript says, clocks and objects, seeds, standard input, malformed
// scores and usage errors. The files it writes, its formats and rates and
// the bits of every path are in cli_*_test.cpp beside this one.
#include <gtest/gtest.h>

#include "program.h"

namespace {

using namespace test::cli;

TEST_F(Cli, CreationListsRebuildsAndPrints)
{
    Result r = run("new 64\n2 gain 2\n1 phase 0.25\nprint prof 1\nprint meta 1\n", "--seed 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.lines.size(), 13u) << r.out;
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(r.lines[i].channel, "post");
    std::vector<std::vector<std::string>> lists;
    for (int i = 3; i < 11; i++) {
        ASSERT_EQ(r.lines[i].channel, "out1");
        lists.push_back(split(r.lines[i].payload, ' '));
        ASSERT_EQ(lists.back().size(), 65u);
    }
    const char *kinds[] = {"1.0", "2.0", "3.0", "4.0", "5.0", "6.0", "2.0", "1.0"};
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(lists[i][0], kinds[i]);
    // The phase 0.25 is a shift of 48 masses: effective mass i is raw mass
    // (i + 48) mod 64, and the print shows the same values as the list.
    std::string rotated = "prof 1";
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(lists[7][1 + i], lists[0][1 + (i + 48) % 64]) << i;
        rotated += " " + lists[7][1 + i];
    }
    EXPECT_EQ(r.lines[11].payload, rotated);
    EXPECT_EQ(r.lines[12].payload, "meta 1 1.0 0.0 48.0 0.0");
    for (const Line &l : r.lines)
        EXPECT_EQ(l.time, "0.000");
}

TEST_F(Cli, DisplayClockDuringWaitsTicksEveryMillisecondUpToTheEnd)
{
    Result r = run("new 8\n0 disprate 50\nwait 120\nwait 30\nprint tick\nwait 1\nwait 2.5\nassist in 0\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.times("out2"), (std::vector<std::string>{"0.000", "50.000", "100.000", "150.000"}));
    // A wait ends before its last millisecond: the tick due at 150 ms
    // comes with the next wait, after the print.
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[r.lines.size() - 2].channel, "out2");
    EXPECT_EQ(r.lines[r.lines.size() - 3].channel, "print");
    // 2.5 ms are 1102.5 ticks of 1/441 ms, rounded to 1103.
    EXPECT_EQ(r.lines.back().time, "153.501");
    EXPECT_EQ(r.channel("out2")[0].payload, "0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5");
}

TEST_F(Cli, AWaitTicksAtEveryWholeMillisecondBeforeItsEnd)
{
    // A display clock re-armed every millisecond shows each scheduler tick,
    // also those that fall less than a tick of the logical clock before the
    // end of the wait.
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"0", {}},
        {"0.001", {"0.000"}},
        {"1", {"0.000"}},
        {"1.001", {"0.000", "1.000"}},
        {"2.5", {"0.000", "1.000", "2.000"}},
    };
    for (const auto &c : cases) {
        Result r = run(std::string("new 8\n0 disprate 1\nwait ") + c.first + "\n");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.times("out2"), c.second) << "wait " << c.first;
    }
}

TEST_F(Cli, ClocksDuringRunFireAtVectorStarts)
{
    // 200 samples in vectors of 64 are four whole vectors.  A display clock
    // that re-arms itself for a time before the next vector, 0 included,
    // fires once per vector: the clock rule of every host.
    for (const char *interval : {"1", "0.9", "0.5"}) {
        Result r = run(std::string("new 8\n0 disprate ") + interval + "\nvs 64\nrun 200\n");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.times("out2"), (std::vector<std::string>{"0.000", "1.451", "2.902", "4.354"})) << interval;
    }
    Result r = run("new 8\n0 disprate 1\nvs 64\nrun 200\nassist out 2\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.channel("assist").size(), 1u);
    EXPECT_EQ(r.channel("assist")[0].time, "5.805");
    EXPECT_EQ(r.channel("assist")[0].payload, "(list) Display string motion");
}

TEST_F(Cli, ObjectsAreReplacedAndFreed)
{
    // Freeing stops the first object's clock; time passes without an
    // object; a second new replaces the object it finds.
    Result r = run("new 8\nfree\nrun 64\nwait 2\nnew 8\nnew 16\nwait 1\nprint nmasses\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Line> motion = r.channel("out2");
    ASSERT_EQ(motion.size(), 1u);
    EXPECT_EQ(motion[0].time, "3.451");
    EXPECT_EQ(split(motion[0].payload, ' ').size(), 16u);
    EXPECT_EQ(r.lines.back().time, "4.451");
    EXPECT_EQ(r.lines.back().payload, "nmasses 16");
    EXPECT_EQ(r.channel("out1").size(), 18u);
}

TEST_F(Cli, PrintShowsTheRecord)
{
    struct Case {
        const char *lines; // after "new 8"
        const char *payload;
    };
    const Case cases[] = {
        {"print nmasses", "nmasses 8"},
        {"print preset", "preset 0"},
        {"0 4\nprint preset", "preset 4"},
        {"print tick", "tick 0"},
        {"print inactive", "inactive 0"},
        {"0 inactive 1\nprint inactive", "inactive -1"},
        {"print display", "display 1"},
        {"print disprate", "disprate 100.0"},
        // The interval is a double made from a float.
        {"0 disprate 2.7\nprint disprate", "disprate 2.700000047683716"},
        {"print autonorm", "autonorm 1.0"},
        {"print freq", "freq 0.0 0.0 0.0 0.0 0.0"},
        {"7 220 330.5\nprint freq", "freq 220.0 330.5 0.0 0.0 0.0"},
        {"print gain", "gain 1.0 1.0 1.0 1.0 1.0"},
        {"print phase", "phase 0.0 0.0 0.0 0.0 0.0"},
        {"print pos", "pos 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0"},
        {"print pos1", "pos1 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0"},
        {"print meta 6", "meta 6 1.0 0.0 0.0 0.0"},
        {"4 all 2 0.5 0.5 -1\nprint meta 4", "meta 4 2.0 0.5 4.0 -1.0"},
        {"print bank", "bank 8 -2 0 0 0"},
        {"print bankatoms", "bankatoms 8 -2 0 ;"},
        {"0 store 5\n0 store 2\n0 clear 5\nprint bank", "bank 8 -2 2 1 2 -1 4 12 2 60 400"},
        // Halfway between presets of infinite opposite masses: not a number,
        // written the one way whatever sign the arithmetic gave it.
        {"1 list 1e39 1e39 1e39 1e39 1e39 1e39 1e39 1e39\n0 store 11\n"
         "1 list -1e39 -1e39 -1e39 -1e39 -1e39 -1e39 -1e39 -1e39\n0 store 12\n0 11.5\nprint raw 1",
         "raw 1 nan nan nan nan nan nan nan nan"},
        {"assist in 0", "Control inlet"},
        {"assist in 7", "Pitches: (float) pitch, (list) pitches"},
        {"assist out 0", "(signal) Sound Out"},
        {"assist out 3", ""},
        {"assist in -1", ""},
    };
    for (const Case &c : cases) {
        Result r = run(std::string("new 8\n") + c.lines + "\n", "--seed 1");
        ASSERT_EQ(r.status, 0) << c.lines << r.err;
        ASSERT_FALSE(r.lines.empty()) << c.lines;
        EXPECT_EQ(r.lines.back().payload, c.payload) << c.lines;
    }

    // Raw values as stored; bank atoms with message ends.
    Result r = run("new 8\nprint raw 1\n0 store\nprint bankatoms\n", "--seed 1");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> list = split(r.channel("out1")[0].payload, ' ');
    std::vector<std::string> raw = split(r.channel("print")[0].payload, ' ');
    ASSERT_EQ(raw.size(), 10u);
    EXPECT_EQ(raw[1], "1");
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(raw[2 + i], list[1 + i]);
    std::vector<std::string> atoms = split(r.channel("print")[1].payload, ' ');
    // The word, the header (4), the group's number (2), six lists of 8
    // masses each ended by a semicolon (6 x 9): 61.
    ASSERT_EQ(atoms.size(), 61u);
    EXPECT_EQ(std::vector<std::string>(atoms.begin(), atoms.begin() + 7),
              (std::vector<std::string>{"bankatoms", "8", "-2", "0", ";", "0", ";"}));
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(atoms[7 + i], list[1 + i]);
}

TEST_F(Cli, ConsoleErrorsAndUnknownMessages)
{
    Result r = run("new nosuch.txt\nprint nmasses\n0 frobnicate 3\n");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.channel("error").size(), 1u);
    EXPECT_EQ(r.channel("error")[0].payload, "loopmass~: can't find file nosuch.txt");
    EXPECT_EQ(r.channel("print")[0].payload, "nmasses 256");
    EXPECT_EQ(r.err, "score.txt:3: warning: loopmass~ does not understand 'frobnicate' on inlet 0\n");
}

// "antialias" is understood on every inlet, with any argument, and changes
// nothing that can be heard or seen.
TEST_F(Cli, AntialiasIsUnderstoodAndChangesNothing)
{
    const std::string played[] = {"new 16\n0 5\n7 220 330\n0 bang\n", "run 3000\n", "print pos\nprint raw 6\n"};
    std::string plain, with;
    const char *const antialias[] = {"0 antialias", "0 antialias 1", "3 antialias 0", "7 antialias on 2.5"};
    for (int i = 0; i < 3; i++) {
        plain += played[i];
        with += played[i];
        for (const char *line : antialias)
            with += std::string(line) + "\n";
    }
    Result a = run(plain, "--seed 2 -o plain.wav");
    Result b = run(with, "--seed 2 -o with.wav");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.err, "");
    EXPECT_EQ(b.out, a.out);
    EXPECT_TRUE(read_file(dir_ / "with.wav") == read_file(dir_ / "plain.wav"));
}

TEST_F(Cli, SeedsMakeRandomPresetsReproducible)
{
    const std::string body = "new 16\n0 3\nprint raw 1\nprint raw 6\n";
    Result a = run(body, "--seed 7");
    Result b = run(body, "--seed 7");
    Result c = run("seed 7\n" + body, "--seed 8");
    Result d = run(body, "--seed 8");
    Result e = run("seed 8\n" + body + "seed 7\n" + body, "--seed 1");
    for (const Result *x : {&a, &b, &c, &d, &e})
        ASSERT_EQ(x->status, 0) << x->err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.out, c.out);
    EXPECT_NE(a.out, d.out);
    ASSERT_EQ(e.channel("print").size(), 4u);
    EXPECT_EQ(e.channel("print")[0].payload, d.channel("print")[0].payload);
    EXPECT_EQ(e.channel("print")[2].payload, a.channel("print")[0].payload);
}

TEST_F(Cli, StandardInputIsNamedDash)
{
    const std::string score = "new 8\n0 disprate 10\nwait 25\nprint pos\n";
    Result file = run(score);
    Result piped = run(score, "", true);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, file.out);
    Result bad = run("new 8\n\n  run x\n", "", true);
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "-:3:7: error: 'run' needs a sample count from 0 to 2147483647\n");
    EXPECT_EQ(bad.out, "");
}

TEST_F(Cli, DialogAnswersComeFromTheScore)
{
    Result r = run("new 8\n0 store 1\ndialog saved.txt\n0 write\ndialog cancel\n0 write\n0 write\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"saved.txt", "score.txt"}));
}

TEST_F(Cli, MalformedScoresExitWithTheirPlace)
{
    std::vector<std::string> scores = {
        "0 bang\n",
        "new\nrun 64\nplay\n",
        std::string("new\n0 \0\n", 8),
        "new 99999999999999999999999999999999\n",
        "new\nwait 1e400\n",
        "new\nvs 100000\n",
        "new \"\n",
        "\"\n",
        "new\n0 read \"unterminated\n",
        "new\n9 bang\n",
        "new\n7\n",
        "\xff\xfe\n",
    };
    // Random bytes, the same every run.
    uint32_t state = 12345;
    for (int n = 0; n < 8; n++) {
        std::string s;
        for (int i = 0; i < 300; i++) {
            state = state * 1103515245u + 12345u;
            s += (char)(state >> 24);
        }
        scores.push_back(s);
    }
    static const std::regex place("score\\.txt:[0-9]+:[0-9]+: error: [^\n]+\n");
    for (const std::string &s : scores) {
        Result r = run(s);
        EXPECT_EQ(r.status, 2) << s;
        EXPECT_EQ(r.out, "") << s;
        EXPECT_TRUE(std::regex_match(r.err, place)) << s << " -> " << r.err;
    }
}

TEST_F(Cli, UsageErrors)
{
    std::ofstream(dir_ / "score.txt") << "new 8\n";
    const char *cases[] = {
        "",
        "play score.txt",
        "run",
        "run score.txt extra.txt",
        "run score.txt --vs 0",
        "run score.txt --vs 2049",
        "run score.txt --vs 64x",
        "run score.txt --vs",
        "run score.txt --seed 1.5",
        "run score.txt --seed 99999999999",
        "run score.txt --loud",
        "run score.txt -o",
        "run score.txt --picture",
        "run score.txt --picture ''",
    };
    for (const char *args : cases) {
        Result r = program(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err.find("usage: loopmass run SCORE"), std::string::npos) << args;
    }
    Result missing = program("run nosuch.txt");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot read nosuch.txt"), std::string::npos);
    Result help = program("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
}

} // namespace
