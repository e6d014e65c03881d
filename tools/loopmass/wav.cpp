#include "wav.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "paths.h"

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
        std::remove(temp_.c_str());
    }
}

bool Wav::open(const std::string &path, std::string &error)
{
    discard();
    path_ = path;
    if (!paths::replaceable(path)) {
        error = "cannot write " + path + ": not a regular file";
        return false;
    }
    temp_ = path + ".tmp" + std::to_string((long)getpid());
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file_ = sf_open(temp_.c_str(), SFM_WRITE, &info);
    if (!file_) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
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
        write_error_ = "cannot write " + path_ + ": " + sf_strerror(file_);
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
    int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0 || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + (closed != 0 ? sf_error_number(closed) : std::strerror(errno));
        std::remove(temp_.c_str());
        return false;
    }
    return true;
}

} // namespace score
