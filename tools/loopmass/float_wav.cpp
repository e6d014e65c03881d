#include "float_wav.h"

#include <cstring>

namespace float_wav {

namespace {

const uint32_t BYTES_PER_SAMPLE = 4;
// The PAD chunk's contents: libsndfile starts the samples 80 bytes in.
const uint32_t PAD_BYTES = 16;

void put32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        s += (char)((v >> (8 * i)) & 0xff);
}

void put16(std::string &s, uint16_t v)
{
    s += (char)(v & 0xff);
    s += (char)(v >> 8);
}

} // namespace

std::string header(int rate, uint64_t frames)
{
    const uint32_t data = (uint32_t)(frames * BYTES_PER_SAMPLE);
    std::string s = "RIFF";
    put32(s, 4 + (8 + 16) + (8 + 4) + (8 + PAD_BYTES) + 8 + data);
    s += "WAVEfmt ";
    put32(s, 16);
    put16(s, 3); // IEEE float
    put16(s, 1); // channels
    put32(s, (uint32_t)rate);
    put32(s, (uint32_t)rate * BYTES_PER_SAMPLE);
    put16(s, BYTES_PER_SAMPLE);
    put16(s, 8 * BYTES_PER_SAMPLE);
    s += "fact";
    put32(s, 4);
    put32(s, (uint32_t)frames);
    s += "PAD ";
    put32(s, PAD_BYTES);
    s += std::string(PAD_BYTES, '\0');
    s += "data";
    put32(s, data);
    return s;
}

void append_samples(std::string &bytes, const float *samples, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        uint32_t bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        put32(bytes, bits);
    }
}

} // namespace float_wav
