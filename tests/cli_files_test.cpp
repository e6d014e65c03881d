// The files the loopmass command line writes: the WAV of every run, preset
// files, pictures, and outputs that cannot be written or must not replace
// what is there.
#include <gtest/gtest.h>

#if LOOPMASS_PICTURES
#include <cairo.h>
#endif
#include <sys/stat.h>

#include <cstring>

#include "program.h"

namespace {

using namespace test::cli;

// The program run as a user runs it: the files a run writes.
class CliFiles : public Cli {};

TEST_F(CliFiles, WavHoldsEveryVectorOfEveryRun)
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
TEST_F(CliFiles, PresetFilesAndTranscriptAreThoseOfEarlierBuilds)
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

TEST_F(CliFiles, WavThatCannotBeWrittenStopsBeforeRunning)
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
TEST_F(CliFiles, TranscriptLostDuringTheRunExitsWithOne)
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
TEST_F(CliFiles, OutputsNeverReplaceWhatIsNotAFile)
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
TEST_F(CliFiles, OutputsKeepTheModeOfTheFilesTheyReplace)
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
        EXPECT_EQ(fs::status(dir_ / name).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
            << name;
    }
    names.insert("score.txt");
    EXPECT_EQ(files(), names);
}

#if LOOPMASS_PICTURES
// Drawing the run changes nothing else it writes, whatever the vector size
// and whoever comes and goes.
TEST_F(CliFiles, PictureLeavesTranscriptAndSoundAsTheyWere)
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

TEST_F(CliFiles, PictureThatCannotBeWrittenStopsBeforeRunning)
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
TEST_F(CliFiles, PictureWithoutCairoStopsBeforeRunning)
{
    Result r = run("new 8\nrun 64\n", "--picture run.png -o out.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot draw run.png: this loopmass was built without Cairo"), std::string::npos) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"score.txt"}));
}
#endif

} // namespace
