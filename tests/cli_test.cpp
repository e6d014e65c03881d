// The loopmass command line, run as a program on small scores in a
// temporary folder.
#include <gtest/gtest.h>

#if LOOPMASS_PICTURES
#include <cairo.h>
#endif
#include <sndfile.h>

#include "loopmass_version.h"
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Line {
    std::string time;
    std::string channel;
    std::string payload;
};

struct Result {
    int status; // exit status, or 128 + signal when the program was killed
    std::string out;
    std::string err;
    std::vector<Line> lines;

    std::vector<Line> channel(const std::string &name) const
    {
        std::vector<Line> v;
        for (const Line &l : lines)
            if (l.channel == name)
                v.push_back(l);
        return v;
    }
    std::vector<std::string> times(const std::string &name) const
    {
        std::vector<std::string> v;
        for (const Line &l : channel(name))
            v.push_back(l.time);
        return v;
    }
};

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> v;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep))
        v.push_back(part);
    return v;
}

// FNV-1a, 64 bits: a fingerprint of a file's bytes.
uint64_t fingerprint(const std::string &bytes)
{
    uint64_t h = 0xcbf29ce484222325u;
    for (unsigned char c : bytes)
        h = (h ^ c) * 0x100000001b3u;
    return h;
}

std::string read_file(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A sound file as libsndfile reads it: its header, and its samples as
// floats and as whole numbers left-justified in 32 bits.
struct Sound {
    SF_INFO info{};
    std::vector<float> floats;
    std::vector<int> ints;
};

bool read_sound(const fs::path &p, Sound &s)
{
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &s.info);
    if (!f)
        return false;
    s.floats.resize((size_t)s.info.frames);
    s.ints.resize((size_t)s.info.frames);
    bool whole = sf_readf_float(f, s.floats.data(), s.info.frames) == s.info.frames;
    sf_seek(f, 0, SEEK_SET);
    whole = whole && sf_readf_int(f, s.ints.data(), s.info.frames) == s.info.frames;
    sf_close(f);
    return whole;
}

// The pitch of a sound at `rate` Hz, from its rising zero crossings.
double pitch_of(const std::vector<float> &s, int rate)
{
    std::vector<double> at;
    for (size_t i = 1; i < s.size(); i++)
        if (s[i - 1] < 0 && s[i] >= 0)
            at.push_back((double)(i - 1) + s[i - 1] / (double)(s[i - 1] - s[i]));
    if (at.size() < 2)
        return 0;
    return (double)(at.size() - 1) / (at.back() - at.front()) * rate;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/loopmass_cli_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs `loopmass ARGS` in the temporary folder, with the environment
    // assignments `env` ("NAME=VALUE ...") before it.
    Result program(const std::string &args, const std::string &input_redirect = "", const std::string &env = "")
    {
        std::string cmd = "cd '" + dir_.string() + "' && " + env + " '" LOOPMASS_BINARY "' " + args +
                          " >stdout.txt 2>stderr.txt" + input_redirect;
        int w = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : 128 + (WIFSIGNALED(w) ? WTERMSIG(w) : 0);
        r.out = read_file(dir_ / "stdout.txt");
        r.err = read_file(dir_ / "stderr.txt");
        fs::remove(dir_ / "stdout.txt");
        fs::remove(dir_ / "stderr.txt");
        for (const std::string &l : split(r.out, '\n')) {
            std::vector<std::string> f = split(l, '\t');
            f.resize(3);
            r.lines.push_back(Line{f[0], f[1], f[2]});
        }
        return r;
    }

    // Writes the score to score.txt and runs it (from standard input when
    // `piped`).
    Result run(const std::string &score, const std::string &options = "", bool piped = false,
               const std::string &env = "")
    {
        std::ofstream(dir_ / "score.txt", std::ios::binary) << score;
        Result r = piped ? program("run - " + options, " <score.txt", env) : program("run score.txt " + options, "", env);
        static const std::regex form("[0-9]+\\.[0-9]{3}\t(post|error|out1|out2|assist|print)\t.*");
        for (const std::string &l : split(r.out, '\n'))
            EXPECT_TRUE(std::regex_match(l, form)) << "transcript line: " << l;
        return r;
    }

    std::set<std::string> files()
    {
        std::set<std::string> names;
        for (const fs::directory_entry &e : fs::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }

    fs::path dir_;
};

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

TEST_F(Cli, WavHoldsEveryVectorOfEveryRun)
{
    const std::string score = "new 16\n7 220\n0 bang\nrun 1000\nfree\nvs 10\nrun 5\nnew 16\nrun 1\n";
    Result r = run(score, "-o out.wav --vs 64");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.out.empty());
    EXPECT_EQ(files(), (std::set<std::string>{"out.wav", "score.txt"}));

    SF_INFO info{};
    SNDFILE *f = sf_open((dir_ / "out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    // 16 vectors of 64, then a vector of 10 without an object, then one.
    EXPECT_EQ(info.frames, 1024 + 10 + 10);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> s((size_t)info.frames);
    ASSERT_EQ(sf_readf_float(f, s.data(), info.frames), info.frames);
    sf_close(f);
    int sounding = 0;
    for (int i = 0; i < 1024; i++)
        sounding += s[(size_t)i] != 0.0f;
    EXPECT_GT(sounding, 512);
    for (size_t i = 1024; i < s.size(); i++)
        EXPECT_EQ(s[i], 0.0f) << i;

    // --quiet: the same sound, no transcript.
    Result q = run(score, "--quiet -o quiet.wav --vs 64");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_EQ(q.out, "");
    EXPECT_EQ(read_file(dir_ / "quiet.wav"), read_file(dir_ / "out.wav"));

    // Nothing in the file depends on when it was written (a PEAK chunk would
    // carry a timestamp), so the same score always gives the same bytes.
    const std::string bytes = read_file(dir_ / "out.wav");
    std::set<std::string> chunks;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        chunks.insert(bytes.substr(at, 4));
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(chunks, (std::set<std::string>{"fmt ", "fact", "PAD ", "data"}));
}

// A bank of tricky stored values, written at three mass counts and read
// back: the files and the transcript are those an earlier build made, byte
// for byte, so stored presets stay readable and the same everywhere.
TEST_F(Cli, PresetFilesAndTranscriptAreThoseOfEarlierBuilds)
{
    const fs::path fixtures = fs::path(LOOPMASS_SOURCE_DIR) / "tests" / "written";
    const std::string score = read_file(fixtures / "bank.score");
    ASSERT_FALSE(score.empty());
    Result r = run(score);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, read_file(fixtures / "transcript.txt"));
    const struct {
        const char *written, *fixture;
    } files[] = {
        {"bank37.txt", "bank37.txt"},
        {"bank100.txt", "bank100.txt"}, // resampled up
        {"bank5.txt", "bank5.txt"},     // resampled down
        {"again37.txt", "bank37.txt"},  // read at creation and written again
    };
    for (const auto &f : files) {
        ASSERT_TRUE(fs::exists(dir_ / f.written)) << f.written;
        EXPECT_TRUE(read_file(dir_ / f.written) == read_file(fixtures / f.fixture)) << f.written;
    }
}

TEST_F(Cli, WavThatCannotBeWrittenStopsBeforeRunning)
{
    Result r = run("new 8\nrun 64\n", "-o missing/out.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot write missing/out.wav"), std::string::npos) << r.err;

    // A score that does not parse writes nothing at all.
    r = run("new 8\nrun 64\nbogus\n", "-o out.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(files(), (std::set<std::string>{"score.txt"}));
}

// A transcript that cannot be written whole fails the run: status 1 and
// the reason.
TEST_F(Cli, TranscriptLostDuringTheRunExitsWithOne)
{
    std::ofstream(dir_ / "score.txt") << "new 8\n7 440\nrun 64\n";
    const std::string cmd = "cd '" + dir_.string() + "' && '" LOOPMASS_BINARY "' run score.txt >/dev/full 2>stderr.txt";
    const int w = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == 1);
    const std::string err = read_file(dir_ / "stderr.txt");
    EXPECT_NE(err.find("cannot write the transcript"), std::string::npos) << err;
}

// Files are written by replacing them, which must never replace a device,
// a pipe or a folder of the same name: the sound, the picture and the bank
// all refuse such a name and leave it as it was.
TEST_F(Cli, OutputsNeverReplaceWhatIsNotAFile)
{
    ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0600), 0);
    fs::create_directory(dir_ / "folder");
    for (const char *name : {"pipe", "folder"}) {
        const std::string n = name;
        Result r = run("new 8\nrun 64\n", "-o " + n);
        EXPECT_EQ(r.status, 2) << n;
        EXPECT_NE(r.err.find("cannot write " + n + ": not a regular file"), std::string::npos) << r.err;
        if (LOOPMASS_PICTURES) {
            r = run("new 8\nrun 64\n", "--picture " + n);
            EXPECT_EQ(r.status, 2) << n;
            EXPECT_NE(r.err.find("cannot write " + n + ": not a regular file"), std::string::npos) << r.err;
        }
        r = run("new 8\n0 write " + n + "\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("error\tloopmass~: error writing " + n), std::string::npos) << r.out;
    }
    EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
}

// The sound, the picture and the bank replace a file with one of the old
// file's mode, as every file the program writes is replaced.
TEST_F(Cli, OutputsKeepTheModeOfTheFilesTheyReplace)
{
    std::set<std::string> names = {"out.wav", "bank.txt"};
    std::string options = "-o out.wav";
    if (LOOPMASS_PICTURES) {
        names.insert("run.png");
        options += " --picture run.png";
    }
    for (const std::string &name : names) {
        std::ofstream(dir_ / name) << "old";
        fs::permissions(dir_ / name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    Result r = run("new 8\n0 write bank.txt\nrun 64\n", options);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string &name : names) {
        EXPECT_NE(read_file(dir_ / name), "old") << name;
        EXPECT_EQ(fs::status(dir_ / name).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                             fs::perms::group_read) << name;
    }
    names.insert("score.txt");
    EXPECT_EQ(files(), names);
}

#if LOOPMASS_PICTURES
// Drawing the run changes nothing else it writes, whatever the vector size
// and whoever comes and goes.
TEST_F(Cli, PictureLeavesTranscriptAndSoundAsTheyWere)
{
    const std::string score = "new 32\n7 fg 220 0.3 330 0.3\n0 5\n0 bang\nrun 3000\n0 inactive 1\nrun 700\n"
                              "0 inactive 0\nvs 2048\nrun 5000\nfree\nrun 100\nnew 3\n7 440\n0 bang\nvs 100\n"
                              "run 1000\nwait 20\nprint pos\n";
    for (const char *vs : {"64", "1", "512", "2048"}) {
        const std::string options = std::string("--seed 3 --vs ") + vs;
        Result plain = run(score, options + " -o plain.wav");
        Result drawn = run(score, options + " -o drawn.wav --picture run.png");
        ASSERT_EQ(plain.status, 0) << plain.err;
        ASSERT_EQ(drawn.status, 0) << drawn.err;
        EXPECT_EQ(drawn.err, "");
        EXPECT_EQ(drawn.out, plain.out) << "vs " << vs;
        EXPECT_EQ(read_file(dir_ / "drawn.wav"), read_file(dir_ / "plain.wav")) << "vs " << vs;

        cairo_surface_t *png = cairo_image_surface_create_from_png((dir_ / "run.png").c_str());
        EXPECT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS) << "vs " << vs;
        EXPECT_EQ(cairo_image_surface_get_width(png), 1000);
        EXPECT_EQ(cairo_image_surface_get_height(png), 720);
        cairo_surface_destroy(png);
    }
    EXPECT_EQ(files(), (std::set<std::string>{"plain.wav", "drawn.wav", "run.png", "score.txt"}));
}

TEST_F(Cli, PictureThatCannotBeWrittenStopsBeforeRunning)
{
    Result r = run("new 8\nrun 64\n", "--picture missing/run.png -o out.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot write missing/run.png"), std::string::npos) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"score.txt"}));

    // A picture of a run without sound is still a picture.
    r = run("new 8\nprint nmasses\n", "--picture still.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"score.txt", "still.png"}));
}

#else

// A build without Cairo refuses a picture before the run: nothing runs and
// nothing is written.
TEST_F(Cli, PictureWithoutCairoStopsBeforeRunning)
{
    Result r = run("new 8\nrun 64\n", "--picture run.png -o out.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot draw run.png: this loopmass was built without Cairo"), std::string::npos) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"score.txt"}));
}
#endif

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

TEST_F(Cli, VersionAndHelpGoToStandardOutput)
{
    Result version = program("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.out, "loopmass " LOOPMASS_VERSION "\n");
    EXPECT_TRUE(std::regex_match(version.out, std::regex("loopmass [0-9]+\\.[0-9]+\\.[0-9]+\n")));

    Result help = program("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(program("-h").out, help.out);
    // Every command and option starts a line of its own, its meaning beside it.
    const char *const entries[] = {"run SCORE", "simd",   "-o FILE", "--format NAME",  "--rate HZ", "--seed S",
                                   "--vs N",    "--quiet", "--picture FILE", "-h, --help", "--version"};
    for (const char *entry : entries) {
        bool found = false;
        for (const std::string &line : split(help.out, '\n'))
            found = found || line.rfind(std::string("  ") + entry + "  ", 0) == 0;
        EXPECT_TRUE(found) << entry;
    }
    EXPECT_NE(help.out.find("float, pcm16, pcm24, flac or ogg"), std::string::npos) << help.out;
    // A usage error shows the same help, after its reason.
    Result bad = program("run");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "loopmass: missing score\n" + help.out);
}

// At another rate the oscillators stay in tune, the file says the rate,
// run N still counts samples and time follows the rate.  The ring holds
// one period of a sine and stands still, so the output is a sine at the
// oscillator's pitch.
TEST_F(Cli, RateRendersInTuneAtThatRate)
{
    std::string score = "new 64\n2 offset -10\n3 offset -10\n6 list";
    for (int i = 0; i < 64; i++)
        score += " " + std::to_string(0.5 + 0.5 * std::sin(2 * M_PI * i / 64));
    score += "\n0 bang\n7 441\n";
    const struct {
        const char *options;
        const char *lines; // after the pitch
        int rate;
        double pitch;
        const char *end; // the time after 48000 samples
    } cases[] = {
        {"", "", 44100, 441, "1088.435"},
        {"--rate 44100", "", 44100, 441, "1088.435"},
        {"--rate 48000", "", 48000, 441, "1000.000"},
        {"--rate 96000", "", 96000, 441, "500.000"},
        {"--rate 8000", "", 8000, 441, "6000.000"},
        // The score may still ask for pitches at 44100 Hz: 48000/44100 too high.
        {"--rate 48000", "0 hostrate 0\n", 48000, 480, "1000.000"},
    };
    for (const auto &c : cases) {
        Result r = run(score + c.lines + "run 48000\nprint nmasses\n", std::string("-o sound.wav ") + c.options);
        ASSERT_EQ(r.status, 0) << c.options << r.err;
        EXPECT_EQ(r.lines.back().time, c.end) << c.options;
        Sound s;
        ASSERT_TRUE(read_sound(dir_ / "sound.wav", s)) << c.options;
        EXPECT_EQ(s.info.samplerate, c.rate) << c.options;
        EXPECT_EQ(s.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT) << c.options;
        EXPECT_EQ(s.info.frames, 48000) << c.options;
        EXPECT_NEAR(pitch_of(s.floats, c.rate), c.pitch, c.pitch * 1e-4) << c.options << " " << c.lines;
    }

    // At 44100 Hz, asked for or not, the run is the same to the byte.
    const std::string chord = "new 32\n0 5\n0 disprate 3\n7 220 331 440\n0 bang\nrun 5000\nvs 100\nrun 3000\n";
    Result plain = run(chord, "--seed 4 -o plain.wav");
    Result asked = run(chord, "--seed 4 -o asked.wav --rate 44100");
    EXPECT_EQ(asked.out, plain.out);
    EXPECT_TRUE(read_file(dir_ / "asked.wav") == read_file(dir_ / "plain.wav"));
}

// Each format holds the samples of the float WAV: bit for bit in float,
// within one step of libsndfile's own rounding, saturated, in whole numbers,
// close in Ogg Vorbis.
TEST_F(Cli, FormatsHoldTheSameSound)
{
    // Three loud voices: some samples lie beyond full scale.
    const std::string score = "new 64\n0 5\n7 fg 220 0.9 330 0.9 441 0.9\n0 bang\nrun 20000\n";
    ASSERT_EQ(run(score, "--quiet --seed 1 --rate 48000 -o reference.wav").status, 0);
    Sound ref;
    ASSERT_TRUE(read_sound(dir_ / "reference.wav", ref));
    int beyond = 0;
    for (float v : ref.floats)
        beyond += std::fabs(v) > 1.0f;
    ASSERT_GT(beyond, 100);

    enum Check { SAME, WHOLE16, WHOLE24, LOSSY };
    const struct {
        const char *options;
        const char *file;
        int format;
        Check check;
    } cases[] = {
        {"", "float.WAV", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SAME},
        {"--format float", "float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SAME},
        {"--format float", "float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SAME},
        {"--format pcm16", "pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, WHOLE16},
        {"--format pcm24", "pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, WHOLE24},
        {"", "sound.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, WHOLE24},
        {"--format flac", "sound.take1", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, WHOLE24},
        {"", "sound.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, LOSSY},
        {"--format ogg", "sound.Ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, LOSSY},
    };
    for (const auto &c : cases) {
        const std::string what = std::string(c.file) + " " + c.options;
        Result r = run(score, std::string("--quiet --seed 1 --rate 48000 -o ") + c.file + " " + c.options);
        ASSERT_EQ(r.status, 0) << what << r.err;
        Sound s;
        ASSERT_TRUE(read_sound(dir_ / c.file, s)) << what;
        EXPECT_EQ(s.info.format, c.format) << what;
        EXPECT_EQ(s.info.samplerate, 48000) << what;
        EXPECT_EQ(s.info.channels, 1) << what;
        ASSERT_EQ(s.info.frames, ref.info.frames) << what;
        if (c.check == SAME) {
            EXPECT_TRUE(read_file(dir_ / c.file) == read_file(dir_ / "reference.wav")) << what;
            continue;
        }
        if (c.check == LOSSY) {
            double signal = 0, noise = 0;
            for (size_t i = 0; i < s.floats.size(); i++) {
                signal += (double)ref.floats[i] * ref.floats[i];
                noise += ((double)s.floats[i] - ref.floats[i]) * ((double)s.floats[i] - ref.floats[i]);
            }
            EXPECT_GT(10 * std::log10(signal / noise), 20.0) << what;
            continue;
        }
        // Full scale is 2^(bits - 1) steps; libsndfile may round or truncate,
        // scale by it or by one step less, but never by more than a step.
        const int bits = c.check == WHOLE16 ? 16 : 24;
        const double full = std::ldexp(1.0, bits - 1);
        double worst = 0;
        for (size_t i = 0; i < s.floats.size(); i++) {
            const double exact = std::clamp(ref.floats[i] * full, -full, full - 1);
            worst = std::max(worst, std::fabs((s.ints[i] >> (32 - bits)) - exact));
        }
        EXPECT_LE(worst, 1.0) << what;
    }

    // FLAC, like WAV, is the same file whenever it is rendered.
    ASSERT_EQ(run(score, "--quiet --seed 1 --rate 48000 -o again.flac").status, 0);
    EXPECT_TRUE(read_file(dir_ / "again.flac") == read_file(dir_ / "sound.flac"));
}

// A rate or a format the program cannot write is refused before anything
// runs: status 2, the reason and the usage, and no file.
TEST_F(Cli, BadRatesAndFormatsAreRefused)
{
    const struct {
        const char *options;
        const char *reason;
    } cases[] = {
        {"--rate 7999", "bad --rate value '7999' (8000 to 384000 Hz)"},
        {"--rate 384001", "bad --rate value '384001' (8000 to 384000 Hz)"},
        {"--rate 0", "bad --rate value '0'"},
        {"--rate -48000", "bad --rate value '-48000'"},
        {"--rate 48000.5", "bad --rate value '48000.5'"},
        {"--rate 48k", "bad --rate value '48k'"},
        {"-o out.wav --rate", "missing value after --rate"},
        {"-o out.mp3", "cannot tell the format of out.mp3 from '.mp3': name it .wav, .flac or .ogg, or give --format"},
        {"-o out.wav.tmp", "cannot tell the format of out.wav.tmp from '.tmp'"},
        {"-o out --format mp3", "unknown --format 'mp3' (float, pcm16, pcm24, flac or ogg)"},
        {"-o out.wav --format ''", "unknown --format ''"},
        {"-o out.wav --format flac", "out.wav names a WAV file, --format flac writes a FLAC file"},
        {"-o out.flac --format pcm16", "out.flac names a FLAC file, --format pcm16 writes a WAV file"},
        {"-o out.ogg --format float", "out.ogg names an Ogg Vorbis file, --format float writes a WAV file"},
        {"--format float", "--format without -o"},
        {"-o out.wav --format", "missing value after --format"},
    };
    for (const auto &c : cases) {
        Result r = run("new 8\n7 440\nrun 64\n", c.options);
        EXPECT_EQ(r.status, 2) << c.options;
        EXPECT_EQ(r.out, "") << c.options;
        EXPECT_EQ(r.err.rfind(std::string("loopmass: ") + c.reason, 0), 0u) << c.options << "\n" << r.err;
        EXPECT_NE(r.err.find("usage: loopmass run SCORE"), std::string::npos) << c.options;
        EXPECT_EQ(files(), (std::set<std::string>{"score.txt"})) << c.options;
    }
}

// Every ring size class, vector size class and kind of pitch and gain the
// engine treats apart, rendered on every set of vector units this machine
// runs.  The fingerprints are those of the sound and transcript before the
// engine ran in vector passes: not one bit may change.
TEST_F(Cli, EveryPathRendersTheSameBitsAsBefore)
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
TEST_F(Cli, RampZeroAndLowcutOffLeaveTheSoundAsItWas)
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

TEST_F(Cli, SimdListsTheSetsAndMarksTheOneInUse)
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
