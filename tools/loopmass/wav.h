// The sound of a score: a mono file, by default 32-bit float WAV at 44100
// Hz, or another format libsndfile writes (16- or 24-bit WAV, FLAC, Ogg
// Vorbis) at another rate.  A build without libsndfile (WebAssembly) writes
// the float WAV only, with the same bytes.  Written under a temporary name next to the
// target and renamed over it only when the run has finished, so that a
// failed run never leaves half a file.
#pragma once

#if LOOPMASS_SNDFILE
#include <sndfile.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "writer.h"

namespace score {

// A sound file format: its --format name and libsndfile's major format and
// subtype (0 in a build without libsndfile).
struct SoundFormat {
    const char *name;
    int sf_format;
};

// The formats --format names, the default (float) first.
extern const SoundFormat SOUND_FORMATS[];
extern const int NSOUND_FORMATS;
std::string sound_format_names();

// The format of the file `path`: the one `name` names (--format's value,
// null when not given), else the one its extension names (.wav float,
// .flac, .ogg, in any case; a name without an extension is a float WAV, as
// it always was).  False with a message for an unknown name or extension,
// and for a --format whose kind of file is not the one the extension names.
bool choose_format(const std::string &path, const char *name, SoundFormat &format, std::string &error);

class Wav {
public:
    Wav() = default;
    Wav(const Wav &) = delete;
    Wav &operator=(const Wav &) = delete;
    // An unfinished file is closed and its temporary removed.
    ~Wav();

    // Opens the temporary file for sound at `rate` Hz.  On failure fills
    // error and returns false.
    bool open(const std::string &path, const SoundFormat &format, int rate, std::string &error);
    // Appends samples (buffered).  False once a write has failed.
    bool write(const float *samples, size_t n);
    bool write_silence(size_t n);
    // Writes what is buffered, closes and renames the file to its name.
    bool finish(std::string &error);

private:
    bool flush();
    void discard();

    writer::Replacement out_;
#if LOOPMASS_SNDFILE
    SNDFILE *file_ = nullptr;
#else
    bool open_ = false;
    int rate_ = 0;
    uint64_t frames_ = 0;
#endif
    std::vector<float> buffer_;
    std::string write_error_;
};

} // namespace score
