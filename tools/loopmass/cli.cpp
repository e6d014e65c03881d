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
#include "picture.h"
#include "runner.h"
#include "score.h"
#include "wav.h"

namespace score {

namespace {

const std::string VS_RANGE = "1 to " + std::to_string(headless::MAX_VECTOR);
const std::string USAGE = "usage: loopmass run SCORE [-o OUT.wav] [--seed S] [--vs N] [--quiet] [--picture FILE.png]\n"
                          "       loopmass simd\n"
                          "  SCORE    score file, or - for standard input\n"
                          "  -o FILE  write the sound as a mono 32-bit float WAV file at 44100 Hz\n"
                          "  --seed S seed objects with S instead of the calendar time\n"
                          "  --vs N   initial signal vector size, " + VS_RANGE + " (default 64)\n"
                          "  --quiet  no transcript\n"
                          "  --picture FILE\n"
                          "           draw the ring's motion, the output's envelope and the\n"
                          "           profiles at the end as a PNG picture\n"
                          "simd lists the vector units this machine can run the engine on, the one\n"
                          "in use marked; LOOPMASS_SIMD=NAME runs another (the sound is the same).\n";

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "loopmass: %s\n%s", message.c_str(), USAGE.c_str());
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
        std::fputs(USAGE.c_str(), stdout);
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
    bool have_score = false;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        bool takes_value = a == "-o" || a == "--seed" || a == "--vs" || a == "--picture";
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
        if (!wav.open(wav_name, message)) {
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
        picture.reset(new Picture(output_samples(events, options.vs), PICTURE_COLUMNS));
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
