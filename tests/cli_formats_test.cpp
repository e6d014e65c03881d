// The loopmass command line's version and help, and the rates and formats
// it writes sound at.
#include <gtest/gtest.h>

#include "loopmass_version.h"

#include <algorithm>
#include <cmath>

#include "program.h"

namespace {

using namespace test::cli;

// The program run as a user runs it: the program's options: version, help, rates and sound formats.
class CliFormats : public Cli {};

TEST_F(CliFormats, VersionAndHelpGoToStandardOutput)
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
    const char *const entries[] = {"run SCORE", "simd",    "-o FILE",        "--format NAME", "--rate HZ", "--seed S",
                                   "--vs N",    "--quiet", "--picture FILE", "-h, --help",    "--version"};
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
TEST_F(CliFormats, RateRendersInTuneAtThatRate)
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
TEST_F(CliFormats, FormatsHoldTheSameSound)
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
TEST_F(CliFormats, BadRatesAndFormatsAreRefused)
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

} // namespace
