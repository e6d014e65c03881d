// The sound of a score: a mono 32-bit float WAV file at 44100 Hz, written
// under a temporary name next to the target and renamed over it only when
// the run has finished, so that a failed run never leaves half a file.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

#include "writer.h"

namespace score {

class Wav {
public:
    Wav() = default;
    Wav(const Wav &) = delete;
    Wav &operator=(const Wav &) = delete;
    // An unfinished file is closed and its temporary removed.
    ~Wav();

    // Opens the temporary file.  On failure fills error and returns false.
    bool open(const std::string &path, std::string &error);
    // Appends samples (buffered).  False once a write has failed.
    bool write(const float *samples, size_t n);
    bool write_silence(size_t n);
    // Writes what is buffered, closes and renames the file to its name.
    bool finish(std::string &error);

private:
    bool flush();
    void discard();

    writer::Replacement out_;
    SNDFILE *file_ = nullptr;
    std::vector<float> buffer_;
    std::string write_error_;
};

} // namespace score
