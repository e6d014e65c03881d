#include "wav.h"

#include <cstring>

namespace score {

namespace {
// Samples gathered before each write, so that small vectors do not cost a
// write each.
const size_t BUFFER_SAMPLES = 65536;
} // namespace

Wav::~Wav()
{
    discard();
}

void Wav::discard()
{
    if (file_) {
        sf_close(file_);
        file_ = nullptr;
    }
    out_.discard();
}

bool Wav::open(const std::string &path, std::string &error)
{
    discard();
    if (!out_.open(path, error))
        return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    // libsndfile writes through the temporary file's descriptor and leaves
    // closing it to out_.
    file_ = sf_open_fd(out_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        out_.discard();
        return false;
    }
    // The PEAK chunk carries the time of writing; without it the same score
    // gives the same file, byte for byte, whenever it is rendered.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    buffer_.clear();
    buffer_.reserve(BUFFER_SAMPLES);
    write_error_.clear();
    return true;
}

bool Wav::flush()
{
    if (!write_error_.empty())
        return false;
    sf_count_t n = (sf_count_t)buffer_.size();
    if (n > 0 && sf_writef_float(file_, buffer_.data(), n) != n) {
        write_error_ = "cannot write " + out_.path() + ": " + sf_strerror(file_);
        return false;
    }
    buffer_.clear();
    return true;
}

bool Wav::write(const float *samples, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (buffer_.size() == BUFFER_SAMPLES && !flush())
            return false;
        buffer_.push_back(samples[i]);
    }
    return write_error_.empty();
}

bool Wav::write_silence(size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (buffer_.size() == BUFFER_SAMPLES && !flush())
            return false;
        buffer_.push_back(0.0f);
    }
    return write_error_.empty();
}

bool Wav::finish(std::string &error)
{
    if (!file_) {
        error = "no file open";
        return false;
    }
    if (!flush()) {
        error = write_error_;
        discard();
        return false;
    }
    // libsndfile writes the header's sizes when the file is closed.
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        error = "cannot write " + out_.path() + ": " + sf_error_number(closed);
        out_.discard();
        return false;
    }
    return out_.commit(error);
}

} // namespace score
