// The bytes libsndfile writes for a mono 32-bit float WAV without a PEAK
// chunk (the command line's default format), for the builds that have no
// libsndfile: the same file, byte for byte, from the same samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace float_wav {

// The header before the samples of a file of `frames` samples at `rate` Hz:
// RIFF, fmt (IEEE float), fact (the frame count), a PAD chunk that puts the
// samples where libsndfile puts them, and the data chunk's start.
std::string header(int rate, uint64_t frames);

// The samples as the file holds them: little-endian IEEE floats, bits kept.
void append_samples(std::string &bytes, const float *samples, size_t n);

} // namespace float_wav
