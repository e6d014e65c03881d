// The float WAV written without libsndfile has libsndfile's bytes: the
// header for every rate and length, and the samples' bits (negative zero,
// infinities, a NaN's payload, subnormals).

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "float_wav.h"

namespace {

std::string libsndfile_bytes(int rate, const std::vector<float> &samples)
{
    char name[] = "/tmp/loopmass-float-wav.XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *f = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    EXPECT_NE(f, nullptr);
    sf_command(f, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    if (!samples.empty()) {
        EXPECT_EQ(sf_writef_float(f, samples.data(), (sf_count_t)samples.size()), (sf_count_t)samples.size());
    }
    sf_close(f);
    std::ifstream in(name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    unlink(name);
    return bytes.str();
}

std::string own_bytes(int rate, const std::vector<float> &samples)
{
    std::string bytes = float_wav::header(rate, samples.size());
    float_wav::append_samples(bytes, samples.data(), samples.size());
    return bytes;
}

float float_of(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

TEST(FloatWav, SameBytesAsLibsndfile)
{
    std::vector<float> odd = {0.0f,
                              -0.0f,
                              1.0f,
                              -1.5f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              float_of(0x7fc12345),
                              float_of(0xffc00001),
                              float_of(1),
                              std::numeric_limits<float>::max(),
                              3.0f};
    std::vector<float> long_sound(100003);
    for (size_t i = 0; i < long_sound.size(); i++)
        long_sound[i] = (float)std::sin((double)i * 0.01) * 1.25f;
    struct Case {
        int rate;
        std::vector<float> samples;
    } cases[] = {{44100, {}}, {44100, {0.25f}}, {48000, odd}, {1, odd}, {96000, long_sound}, {8000, long_sound}};
    for (const Case &c : cases) {
        const std::string theirs = libsndfile_bytes(c.rate, c.samples), ours = own_bytes(c.rate, c.samples);
        EXPECT_EQ(ours.size(), theirs.size()) << c.rate << " Hz, " << c.samples.size() << " samples";
        EXPECT_TRUE(ours == theirs) << c.rate << " Hz, " << c.samples.size() << " samples";
    }
}

} // namespace
