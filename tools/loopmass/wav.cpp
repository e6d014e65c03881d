#include "wav.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "float_wav.h"

namespace score {

#if LOOPMASS_SNDFILE
const SoundFormat SOUND_FORMATS[] = {
    {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},  {"pcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24}, {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
};
#else
const SoundFormat SOUND_FORMATS[] = {{"float", 0}};
#endif
const int NSOUND_FORMATS = sizeof SOUND_FORMATS / sizeof SOUND_FORMATS[0];

namespace {

// Samples gathered before each write, so that small vectors do not cost a
// write each.
const size_t BUFFER_SAMPLES = 65536;

// The extensions that name a format.
struct Extension {
    const char *text;
    const char *format;
};
const Extension EXTENSIONS[] = {{"wav", "float"}, {"flac", "flac"}, {"ogg", "ogg"}};

const SoundFormat *find_format(const std::string &name)
{
    for (const SoundFormat &f : SOUND_FORMATS)
        if (name == f.name)
            return &f;
    return nullptr;
}

const Extension *find_extension(const std::string &ext)
{
    std::string lower;
    for (char c : ext)
        lower += (char)std::tolower((unsigned char)c);
    for (const Extension &e : EXTENSIONS)
        if (lower == e.text)
            return &e;
    return nullptr;
}

// What follows the last dot of the file's own name; "" when it has none
// (a leading dot starts a hidden name, not an extension).
std::string extension_of(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? "" : base.substr(dot + 1);
}

#if LOOPMASS_SNDFILE
int kind(const SoundFormat &f)
{
    return f.sf_format & SF_FORMAT_TYPEMASK;
}

const char *kind_of(const SoundFormat &f)
{
    switch (f.sf_format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
        return "a FLAC";
    case SF_FORMAT_OGG:
        return "an Ogg Vorbis";
    default:
        return "a WAV";
    }
}
#else
int kind(const SoundFormat &)
{
    return 0;
}

const char *kind_of(const SoundFormat &)
{
    return "a WAV";
}
#endif

} // namespace

std::string sound_format_names()
{
    std::string s;
    for (int i = 0; i < NSOUND_FORMATS; i++)
        s += std::string(i == 0 ? "" : i + 1 < NSOUND_FORMATS ? ", " : " or ") + SOUND_FORMATS[i].name;
    return s;
}

bool choose_format(const std::string &path, const char *name, SoundFormat &format, std::string &error)
{
    const std::string ext = extension_of(path);
    const Extension *named = ext.empty() ? nullptr : find_extension(ext);
    if (!name) {
        if (!ext.empty() && !named) {
            error = "cannot tell the format of " + path + " from '." + ext +
                    "': name it .wav, .flac or .ogg, or give --format";
            return false;
        }
        if (named && !find_format(named->format)) {
            error = "cannot write " + path + ": this loopmass was built without libsndfile and writes float WAV only";
            return false;
        }
        format = *find_format(named ? named->format : "float");
        return true;
    }
    const SoundFormat *f = find_format(name);
    if (!f) {
        error = std::string("unknown --format '") + name + "' (" + sound_format_names() + ")";
        return false;
    }
    const SoundFormat *by_name = named ? find_format(named->format) : nullptr;
    if (named && !by_name) {
        error = "cannot write " + path + ": this loopmass was built without libsndfile and writes float WAV only";
        return false;
    }
    if (by_name && kind(*by_name) != kind(*f)) {
        error = path + " names " + kind_of(*by_name) + " file, --format " + name + " writes " + kind_of(*f) + " file";
        return false;
    }
    format = *f;
    return true;
}

#if !LOOPMASS_SNDFILE

// The float WAV as libsndfile writes it (float_wav), its header written
// again with the sizes when the file is finished.

Wav::~Wav()
{
    discard();
}

void Wav::discard()
{
    open_ = false;
    out_.discard();
}

bool Wav::open(const std::string &path, const SoundFormat &, int rate, std::string &error)
{
    discard();
    if (!out_.open(path, error) || !out_.append(float_wav::header(rate, 0), error))
        return false;
    open_ = true;
    rate_ = rate;
    frames_ = 0;
    buffer_.clear();
    buffer_.reserve(BUFFER_SAMPLES);
    write_error_.clear();
    return true;
}

bool Wav::flush()
{
    if (!write_error_.empty())
        return false;
    std::string bytes;
    float_wav::append_samples(bytes, buffer_.data(), buffer_.size());
    if (!out_.append(bytes, write_error_)) {
        open_ = false;
        return false;
    }
    frames_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool Wav::finish(std::string &error)
{
    if (!open_) {
        error = write_error_.empty() ? "no file open" : write_error_;
        return false;
    }
    if (!flush()) {
        error = write_error_;
        discard();
        return false;
    }
    open_ = false;
    if (lseek(out_.fd(), 0, SEEK_SET) != 0) {
        error = "cannot write " + out_.path() + ": " + std::strerror(errno);
        out_.discard();
        return false;
    }
    return out_.append(float_wav::header(rate_, frames_), error) && out_.commit(error);
}

#else

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

bool Wav::open(const std::string &path, const SoundFormat &format, int rate, std::string &error)
{
    discard();
    if (!out_.open(path, error))
        return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = rate;
    info.channels = 1;
    info.format = format.sf_format;
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
    // A sample beyond full scale saturates in a file of whole numbers,
    // where libsndfile would otherwise let it wrap around to the other sign.
    const int subtype = format.sf_format & SF_FORMAT_SUBMASK;
    if (subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24)
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
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

#endif

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

} // namespace score
