#include "cli.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "headless.h"
#include "loopmass.h"
#include "loopmass_version.h"
#include "picture.h"
#include "runner.h"
#include "score.h"
#include "wav.h"

namespace score {

namespace {

const std::string VS_RANGE = "1 to " + std::to_string(headless::MAX_VECTOR);
const long MIN_RATE = 8000, MAX_RATE = 384000;
const std::string RATE_RANGE = std::to_string(MIN_RATE) + " to " + std::to_string(MAX_RATE);

// The sound files this build writes: every format of libsndfile's that the
// program offers, or, where it is built without libsndfile (WebAssembly),
// the float WAV it writes itself.
#if LOOPMASS_SNDFILE
const char *const OUTPUT_KINDS = ".wav (32-bit float), .flac or .ogg";
const char *const FORMATS_TEXT = "Formats: float is a 32-bit float WAV (the default), pcm16 and pcm24 16- and\n"
                                 "24-bit WAV, flac 24-bit FLAC, ogg Ogg Vorbis.  ";
#else
const char *const OUTPUT_KINDS = ".wav (32-bit float)";
const char *const FORMATS_TEXT = "Formats: float, a 32-bit float WAV (the only one).  ";
#endif

// The help: the usage, then every command and option on a line of its own.
std::string usage()
{
    return "usage: loopmass run SCORE [-o OUT.wav] [--seed S] [--vs N] [--quiet] [--picture FILE.png]\n"
           "                          [--rate HZ] [--format NAME]\n"
           "       loopmass simd\n"
           "       loopmass --help | --version\n"
           "Runs scores (timed messages) for the loopmass~ scanned-synthesis object.\n"
           "Commands:\n"
           "  run SCORE        run SCORE (a file, - for standard input); transcript to stdout\n"
           "  simd             list the engine's sets of vector units, the one in use marked\n"
           "Options of run:\n"
           "  -o FILE          write the sound to FILE: " +
           std::string(OUTPUT_KINDS) +
           "\n"
           "  --format NAME    the sound's format whatever its name: " +
           sound_format_names() +
           "\n"
           "  --rate HZ        sample rate, " +
           RATE_RANGE +
           " (default 44100), pitches in tune\n"
           "  --seed S         seed objects with S instead of the calendar time\n"
           "  --vs N           initial signal vector size, " +
           VS_RANGE +
           " (default 64)\n"
           "  --quiet          no transcript\n"
           "  --picture FILE   draw the ring's motion, the output's envelope and the profiles\n"
           "Options:\n"
           "  -h, --help       show this help and exit\n"
           "  --version        show the version and exit\n" +
           std::string(FORMATS_TEXT) +
           "LOOPMASS_SIMD=NAME runs the\n"
           "engine on another set of vector units (the sound is the same).\n"
           "Exit status: 0 the score ran, 1 an output could not be written, 2 bad\n"
           "arguments or score (nothing run).\n";
}

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "loopmass: %s\n%s", message.c_str(), usage().c_str());
    return 2;
}

// A whole decimal integer in lo..hi, nothing else.
bool read_integer(const char *text, long lo, long hi, long &out)
{
    if (!*text)
        return false;
    char *end;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (*end || errno == ERANGE || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool read_all(FILE *f, std::string &text)
{
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    return !std::ferror(f);
}

bool read_score(const std::string &name, std::string &text)
{
    if (name == "-")
        return read_all(stdin, text);
    FILE *f = std::fopen(name.c_str(), "rb");
    if (!f)
        return false;
    bool ok = read_all(f, text);
    std::fclose(f);
    return ok;
}

// One line per set of vector units, the one in use marked.
int list_simd()
{
    for (int i = 0; i < loopmass::loopmass_simd_count(); i++) {
        const char *name = loopmass::loopmass_simd_name(i);
        std::printf("%s%s\n", name, std::strcmp(name, loopmass::loopmass_simd_in_use()) == 0 ? " (in use)" : "");
    }
    return 0;
}

} // namespace

int command_line(int argc, char **argv)
{
    // A diagnostic switch that names a set this machine cannot run would
    // otherwise go unnoticed: the widest set runs instead.
    const char *asked = std::getenv("LOOPMASS_SIMD");
    if (asked && *asked && std::strcmp(asked, loopmass::loopmass_simd_in_use()) != 0)
        std::fprintf(stderr, "loopmass: LOOPMASS_SIMD=%s is not a set this machine runs; using %s\n", asked,
                     loopmass::loopmass_simd_in_use());

    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("loopmass " LOOPMASS_VERSION);
        return 0;
    }
    if (argc < 2)
        return usage_error("missing subcommand");
    if (std::strcmp(argv[1], "simd") == 0) {
        if (argc > 2)
            return usage_error(std::string("unexpected argument '") + argv[2] + "'");
        return list_simd();
    }
    if (std::strcmp(argv[1], "run") != 0)
        return usage_error(std::string("unknown subcommand '") + argv[1] + "'");

    Options options;
    std::string score_name, wav_name, picture_name;
    const char *format_name = nullptr;
    bool have_score = false;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        bool takes_value =
            a == "-o" || a == "--seed" || a == "--vs" || a == "--picture" || a == "--rate" || a == "--format";
        if (takes_value && i + 1 >= argc)
            return usage_error("missing value after " + a);
        long v;
        if (a == "-o") {
            wav_name = argv[++i];
            if (wav_name.empty())
                return usage_error("empty file name after -o");
        } else if (a == "--picture") {
            picture_name = argv[++i];
            if (picture_name.empty())
                return usage_error("empty file name after --picture");
        } else if (a == "--seed") {
            if (!read_integer(argv[++i], INT32_MIN, INT32_MAX, v))
                return usage_error(std::string("bad --seed value '") + argv[i] + "' (a 32-bit integer)");
            options.fix_seed = true;
            options.seed = v;
        } else if (a == "--vs") {
            if (!read_integer(argv[++i], 1, headless::MAX_VECTOR, v))
                return usage_error(std::string("bad --vs value '") + argv[i] + "' (" + VS_RANGE + ")");
            options.vs = (int)v;
        } else if (a == "--rate") {
            if (!read_integer(argv[++i], MIN_RATE, MAX_RATE, v))
                return usage_error(std::string("bad --rate value '") + argv[i] + "' (" + RATE_RANGE + " Hz)");
            options.rate = (int)v;
            options.hostrate = true;
        } else if (a == "--format") {
            format_name = argv[++i];
        } else if (a == "--quiet") {
            options.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error("unknown option " + a);
        } else if (have_score) {
            return usage_error("more than one score");
        } else {
            score_name = a;
            have_score = true;
        }
    }
    if (!have_score)
        return usage_error("missing score");
    if (format_name && wav_name.empty())
        return usage_error("--format without -o");
    SoundFormat format = SOUND_FORMATS[0];
    if (!wav_name.empty()) {
        std::string message;
        if (!choose_format(wav_name, format_name, format, message))
            return usage_error(message);
    }

    std::string text;
    if (!read_score(score_name, text)) {
        std::fprintf(stderr, "loopmass: cannot read %s: %s\n", score_name.c_str(), std::strerror(errno));
        return 2;
    }
    std::vector<Event> events;
    ParseError err;
    if (!parse(text, events, err)) {
        std::fprintf(stderr, "%s:%d:%d: error: %s\n", score_name.c_str(), err.line, err.column, err.message.c_str());
        return 2;
    }

    Wav wav;
    if (!wav_name.empty()) {
        std::string message;
        if (!wav.open(wav_name, format, options.rate, message)) {
            std::fprintf(stderr, "loopmass: %s\n", message.c_str());
            return 2;
        }
    }
    PictureFile picture_file;
    std::unique_ptr<Picture> picture;
    if (!picture_name.empty()) {
        std::string message;
        if (!picture_file.open(picture_name, message)) {
            std::fprintf(stderr, "loopmass: %s\n", message.c_str());
            return 2;
        }
        picture.reset(new Picture(output_samples(events, options.vs), PICTURE_COLUMNS, options.rate));
    }
    options.name = score_name;
    int status = run(events, options, wav_name.empty() ? nullptr : &wav, picture.get(), stdout);
    std::string message;
    if (!wav_name.empty() && !wav.finish(message)) {
        std::fprintf(stderr, "loopmass: %s\n", message.c_str());
        status = 1;
    }
    if (picture && !picture_file.finish(*picture, score_name == "-" ? "standard input" : score_name, message)) {
        std::fprintf(stderr, "loopmass: %s\n", message.c_str());
        status = 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "loopmass: cannot write the transcript: %s\n", std::strerror(errno));
        status = 1;
    }
    return status;
}

} // namespace score
