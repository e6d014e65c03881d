// mathcheck: every input the object and its instrument give the C
// library's cos and pow, and the results they keep from them, digested.
// Everything else the object computes is IEEE arithmetic with one rounding
// per operation, the same on every machine; these functions are not
// correctly rounded, and each C library rounds some results its own way.
// The same digests from two builds (another processor, another C library,
// WebAssembly) show that the object keeps the same bits from them on
// every input it can give them.
//
//   mathcheck [--part K] [--expect FILE] [USE...]
//                                   one line per use: inputs and digest;
//                                   with FILE (lines of the same form), exits
//                                   1 when one differs from its line there
//   mathcheck --blocks [--part K] USE...
//                                   one digest per block of 65536 inputs
//   mathcheck --list USE BLOCK      each input of a block and what is kept
//   mathcheck --margin [USE...]     for mass, tension and damping: the
//                                   inputs whose power of ten lies within
//                                   one double of rounding to another float
//
// --part K takes one block in K (blocks 0, K, 2K ...), spread over the
// whole domain in order: a bounded run for CI.  The uses:
//   presets  the ten factory presets at every ring size (cos), as floats
//   window   the stretch's window, 1 - ((2i/n) - 1)^4, as the double kept
//   mass, tension, damping
//            the ring's constant (pow of ten) of every float a profile of
//            that kind can hold; centering is tension's formula
//   pitch    the LV2 keyboard's pitch (pow of two) of every note and bend
//            for whole bend ranges 0 to 24 at seven common rates
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../hosts/lv2/keys.h"
#include "loopmass.h"

using namespace loopmass;

namespace {

const uint64_t BLOCK = 65536;

// A 64-bit FNV-1a over 32-bit words: the same on every machine, and any
// change of one bit of one result changes it.
struct Digest {
    uint64_t h = 14695981039346656037ull;
    void word(uint32_t w) { h = (h ^ w) * 1099511628211ull; }
    void f(float v)
    {
        uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        word(b);
    }
    void d(double v)
    {
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        word((uint32_t)b);
        word((uint32_t)(b >> 32));
    }
};

// The results kept for one input, both digested and, for --list, written.
struct Kept {
    Digest *digest;
    std::string *text;
    void f(float v)
    {
        digest->f(v);
        if (text) {
            uint32_t b;
            std::memcpy(&b, &v, sizeof b);
            char s[16];
            std::snprintf(s, sizeof s, " %08" PRIx32, b);
            *text += s;
        }
    }
    void d(double v)
    {
        digest->d(v);
        if (text) {
            uint64_t b;
            std::memcpy(&b, &v, sizeof b);
            char s[24];
            std::snprintf(s, sizeof s, " %016" PRIx64, b);
            *text += s;
        }
    }
};

float from_bits(uint32_t b)
{
    float v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// A domain of floats: ranges of bit patterns, inclusive, in order.
struct Range {
    uint32_t first, last;
};

// Masses are clamped to 0 to 1; tension, centering and damping to at most
// 1.  A NaN passes the clamp (every comparison is false), so every NaN is
// an input; -0 reaches the masses through a stretch of a profile.
const Range MASS_FLOATS[] = {{0x00000000, 0x3f800000}, {0x7f800001, 0x80000000}, {0xff800001, 0xffffffff}};
const Range AT_MOST_ONE[] = {{0x00000000, 0x3f800000}, {0x7f800001, 0xffffffff}};

uint64_t domain_size(const Range *r, int n)
{
    uint64_t s = 0;
    for (int k = 0; k < n; k++)
        s += (uint64_t)r[k].last - r[k].first + 1;
    return s;
}

uint32_t domain_at(const Range *r, int n, uint64_t index)
{
    for (int k = 0; k < n; k++) {
        uint64_t size = (uint64_t)r[k].last - r[k].first + 1;
        if (index < size)
            return (uint32_t)(r[k].first + index);
        index -= size;
    }
    return 0;
}

struct Use {
    const char *name;
    uint64_t (*count)();
    // Evaluates inputs first .. first + n - 1, in order.
    void (*eval)(uint64_t first, uint64_t n, Kept &kept);
    // Names input i for --list.
    std::string (*label)(uint64_t i);
};

const int MINMASSES = 3;
const int NPRESETS = 10;

uint64_t presets_count()
{
    return (uint64_t)(MAXMASSES - MINMASSES + 1) * NPRESETS;
}

void presets_eval(uint64_t first, uint64_t n, Kept &kept)
{
    static t_block block;
    for (uint64_t i = first; i < first + n; i++) {
        int nm = MINMASSES + (int)(i / NPRESETS);
        // Two presets draw from the generator: the same seed each time.
        loopmass_srand(1);
        loopmass_factory(block, nm, (int32_t)(i % NPRESETS));
        for (int p = 0; p < NKINDS; p++)
            for (int m = 0; m < nm; m++)
                kept.f(block[p][m]);
    }
}

std::string presets_label(uint64_t i)
{
    return "n " + std::to_string(MINMASSES + i / NPRESETS) + " preset " + std::to_string(i % NPRESETS);
}

// Input (n, i) for i < n, ring sizes in order.
void window_input(uint64_t index, int *n, int *i)
{
    int size = MINMASSES;
    while (index >= (uint64_t)size)
        index -= (uint64_t)size++;
    *n = size;
    *i = (int)index;
}

uint64_t window_count()
{
    uint64_t s = 0;
    for (int n = MINMASSES; n <= MAXMASSES; n++)
        s += (uint64_t)n;
    return s;
}

// A stretch by 0 of a profile of ones keeps exactly 1 - w: the one value
// through which the window's pow reaches the profile.
void window_eval(uint64_t first, uint64_t n, Kept &kept)
{
    static float ones[MAXMASSES];
    for (float &v : ones)
        v = 1.0f;
    for (uint64_t k = first; k < first + n; k++) {
        int size, i;
        window_input(k, &size, &i);
        kept.d(loopmass_stretch(ones, 0.0f, i, size));
    }
}

std::string window_label(uint64_t k)
{
    int n, i;
    window_input(k, &n, &i);
    return "n " + std::to_string(n) + " i " + std::to_string(i);
}

template <int KIND, const Range *R, int NR> struct Constant {
    static uint64_t count() { return domain_size(R, NR); }
    static void eval(uint64_t first, uint64_t n, Kept &kept)
    {
        for (uint64_t i = first; i < first + n; i++)
            kept.f(loopmass_constant(KIND, from_bits(domain_at(R, NR, i))));
    }
    static std::string label(uint64_t i)
    {
        char s[16];
        std::snprintf(s, sizeof s, "%08" PRIx32, domain_at(R, NR, i));
        return s;
    }
};
// The number of doubles from d (0 or more, finite) to the nearest double
// that rounds to another float than d does, a tie included.  Another C
// library's pow that is off by less than one unit in the last place (as
// glibc's is) gives a result next to d or d itself: it can only change the
// float kept where this is 1 or 0.
uint64_t steps_to_other_float(double d)
{
    float f = (float)d;
    uint64_t bd, bu, bl;
    double up = ((double)f + (double)std::nextafter(f, INFINITY)) / 2;
    std::memcpy(&bd, &d, sizeof bd);
    std::memcpy(&bu, &up, sizeof bu);
    uint64_t steps = bu - bd;
    if (f > 0) {
        double low = ((double)f + (double)std::nextafter(f, 0.0f)) / 2;
        std::memcpy(&bl, &low, sizeof bl);
        if (bd - bl < steps)
            steps = bd - bl;
    }
    return steps;
}

// The inputs of a use within one double of another float, each named, and
// how many lie within 1, 2 and 4.
template <int KIND, const Range *R, int NR> void print_margins(const char *name)
{
    uint64_t within[3] = {0, 0, 0};
    uint64_t n = domain_size(R, NR);
    for (uint64_t i = 0; i < n; i++) {
        uint32_t b = domain_at(R, NR, i);
        double d = loopmass_power(KIND, from_bits(b));
        if (!(d >= 0 && d <= 3.4e38))
            continue;
        uint64_t steps = steps_to_other_float(d);
        for (int k = 0; k < 3; k++)
            within[k] += steps <= (uint64_t)1 << k;
        if (steps <= 1)
            std::printf("%s %08" PRIx32 " %a %" PRIu64 "\n", name, b, d, steps);
    }
    std::printf("%s: %" PRIu64 " inputs within 1 double of another float, %" PRIu64 " within 2, %" PRIu64 " within 4\n",
                name, within[0], within[1], within[2]);
    std::fflush(stdout);
}

using Mass = Constant<PROF_MASSES, MASS_FLOATS, 3>;
using Tension = Constant<PROF_TENSION, AT_MOST_ONE, 2>;
using Damping = Constant<PROF_DAMPING, AT_MOST_ONE, 2>;

// The pitch: the rates of sound cards and browsers' audio contexts, whole
// bend ranges, wheel positions, and the notes in groups of one per voice.
const double RATES[] = {22050, 32000, 44100, 48000, 88200, 96000, 192000};
const int NRATES = 7, NRANGES = 25, NBENDS = 16384;
const int NGROUPS = (128 + lv2keys::MAXNOTES - 1) / lv2keys::MAXNOTES;

struct PitchInput {
    int rate, range, bend, group;
};

PitchInput pitch_input(uint64_t i)
{
    PitchInput p;
    p.group = (int)(i % NGROUPS);
    i /= NGROUPS;
    p.bend = (int)(i % NBENDS);
    i /= NBENDS;
    p.range = (int)(i % NRANGES);
    p.rate = (int)(i / NRANGES);
    return p;
}

uint64_t pitch_count()
{
    return (uint64_t)NRATES * NRANGES * NBENDS * NGROUPS;
}

void pitch_eval(uint64_t first, uint64_t n, Kept &kept)
{
    for (uint64_t i = first; i < first + n; i++) {
        PitchInput p = pitch_input(i);
        lv2keys::Keys k;
        lv2keys::keys_clear(&k);
        k.bend = p.bend;
        int voices = 0;
        for (int v = 0; v < lv2keys::MAXNOTES; v++) {
            int note = p.group * lv2keys::MAXNOTES + v;
            if (note > 127)
                break;
            k.voice[v].state = lv2keys::HELD;
            k.voice[v].note = (uint8_t)note;
            voices++;
        }
        float pitch[lv2keys::MAXNOTES], gain[lv2keys::MAXNOTES];
        lv2keys::keys_pairs(&k, p.range, 1.0, RATES[p.rate], pitch, gain);
        for (int v = 0; v < voices; v++)
            kept.f(pitch[v]);
    }
}

std::string pitch_label(uint64_t i)
{
    PitchInput p = pitch_input(i);
    char s[80];
    std::snprintf(s, sizeof s, "rate %g range %d bend %d notes from %d", RATES[p.rate], p.range, p.bend,
                  p.group * lv2keys::MAXNOTES);
    return s;
}

const Use USES[] = {
    {"presets", presets_count, presets_eval, presets_label},
    {"window", window_count, window_eval, window_label},
    {"mass", Mass::count, Mass::eval, Mass::label},
    {"tension", Tension::count, Tension::eval, Tension::label},
    {"damping", Damping::count, Damping::eval, Damping::label},
    {"pitch", pitch_count, pitch_eval, pitch_label},
};

const Use *find_use(const char *name)
{
    for (const Use &u : USES)
        if (std::strcmp(u.name, name) == 0)
            return &u;
    return nullptr;
}

uint64_t block_count(const Use &u)
{
    return (u.count() + BLOCK - 1) / BLOCK;
}

uint64_t block_digest(const Use &u, uint64_t b)
{
    Digest d;
    Kept kept{&d, nullptr};
    uint64_t first = b * BLOCK;
    uint64_t n = u.count() - first < BLOCK ? u.count() - first : BLOCK;
    u.eval(first, n, kept);
    return d.h;
}

struct Line {
    std::string name;
    uint64_t inputs, digest;
};

// The lines of an expected file; false when it cannot be read.
bool read_expected(const char *path, std::vector<Line> &lines)
{
    FILE *f = std::fopen(path, "r");
    if (!f)
        return false;
    char name[32];
    uint64_t inputs, digest;
    while (std::fscanf(f, "%31s %" SCNu64 " %" SCNx64, name, &inputs, &digest) == 3)
        lines.push_back({name, inputs, digest});
    bool ok = std::feof(f) && !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The digest of a use: of its blocks' digests, one block in `part`.
Line digest_use(const Use &u, uint64_t part, bool blocks)
{
    Digest all;
    uint64_t inputs = 0;
    for (uint64_t b = 0; b < block_count(u); b += part) {
        uint64_t h = block_digest(u, b);
        all.word((uint32_t)h);
        all.word((uint32_t)(h >> 32));
        uint64_t left = u.count() - b * BLOCK;
        inputs += left < BLOCK ? left : BLOCK;
        if (blocks)
            std::printf("%s %" PRIu64 " %016" PRIx64 "\n", u.name, b, h);
    }
    if (!blocks)
        std::printf("%-8s %11" PRIu64 " %016" PRIx64 "\n", u.name, inputs, all.h);
    std::fflush(stdout);
    return {u.name, inputs, all.h};
}

// Whether the line of a use is the expected one (a use with no line is
// not).
bool as_expected(const Line &got, const std::vector<Line> &expected)
{
    for (const Line &e : expected)
        if (e.name == got.name) {
            if (e.inputs == got.inputs && e.digest == got.digest)
                return true;
            std::fprintf(stderr,
                         "mathcheck: %s: %" PRIu64 " inputs, digest %016" PRIx64 ", expected %" PRIu64
                         " inputs, digest %016" PRIx64 "\n",
                         got.name.c_str(), got.inputs, got.digest, e.inputs, e.digest);
            return false;
        }
    std::fprintf(stderr, "mathcheck: %s: no expected digest\n", got.name.c_str());
    return false;
}

void print_block(const Use &u, uint64_t b)
{
    Digest d;
    std::string text;
    Kept kept{&d, &text};
    uint64_t end = (b + 1) * BLOCK < u.count() ? (b + 1) * BLOCK : u.count();
    for (uint64_t i = b * BLOCK; i < end; i++) {
        text.clear();
        u.eval(i, 1, kept);
        std::printf("%s:%s\n", u.label(i).c_str(), text.c_str());
    }
}

int usage()
{
    std::fprintf(stderr, "usage: mathcheck [--part K] [--expect FILE] [USE...]\n"
                         "       mathcheck --blocks [--part K] USE...\n"
                         "       mathcheck --list USE BLOCK\n"
                         "       mathcheck --margin mass|tension|damping...\n"
                         "uses:");
    for (const Use &u : USES)
        std::fprintf(stderr, " %s", u.name);
    std::fprintf(stderr, "\n");
    return 2;
}

// A whole number from 0 to max, or -1.
long long whole(const char *s, unsigned long long max)
{
    char *end;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (*s < '0' || *s > '9' || *end != '\0' || v > max)
        return -1;
    return (long long)v;
}

} // namespace

int main(int argc, char **argv)
{
    bool blocks = false;
    uint64_t part = 1;
    int a = 1;
    if (a < argc && std::strcmp(argv[a], "--list") == 0) {
        if (argc != 4)
            return usage();
        const Use *u = find_use(argv[2]);
        long long b = u ? whole(argv[3], block_count(*u) - 1) : -1;
        if (!u || b < 0) {
            std::fprintf(stderr, "mathcheck: no use %s with a block %s\n", argv[2], argv[3]);
            return 2;
        }
        print_block(*u, (uint64_t)b);
        return 0;
    }
    if (a < argc && std::strcmp(argv[a], "--margin") == 0) {
        for (a++; a < argc; a++) {
            if (std::strcmp(argv[a], "mass") == 0)
                print_margins<PROF_MASSES, MASS_FLOATS, 3>("mass");
            else if (std::strcmp(argv[a], "tension") == 0)
                print_margins<PROF_TENSION, AT_MOST_ONE, 2>("tension");
            else if (std::strcmp(argv[a], "damping") == 0)
                print_margins<PROF_DAMPING, AT_MOST_ONE, 2>("damping");
            else
                return usage();
        }
        return 0;
    }
    if (a < argc && std::strcmp(argv[a], "--blocks") == 0)
        blocks = true, a++;
    if (a < argc && std::strcmp(argv[a], "--part") == 0) {
        long long k = a + 1 < argc ? whole(argv[a + 1], 1u << 30) : -1;
        if (k < 1) {
            std::fprintf(stderr, "mathcheck: --part needs a whole number from 1\n");
            return 2;
        }
        part = (uint64_t)k;
        a += 2;
    }
    std::vector<Line> expected;
    const char *expect = nullptr;
    if (!blocks && a < argc && std::strcmp(argv[a], "--expect") == 0) {
        if (a + 1 >= argc)
            return usage();
        expect = argv[a + 1];
        if (!read_expected(expect, expected)) {
            std::fprintf(stderr, "mathcheck: cannot read the digests in %s\n", expect);
            return 2;
        }
        a += 2;
    }
    std::vector<const Use *> chosen;
    for (; a < argc; a++) {
        const Use *u = find_use(argv[a]);
        if (!u) {
            std::fprintf(stderr, "mathcheck: unknown use %s\n", argv[a]);
            return usage();
        }
        chosen.push_back(u);
    }
    if (chosen.empty()) {
        if (blocks)
            return usage();
        for (const Use &u : USES)
            chosen.push_back(&u);
    }
    bool same = true;
    for (const Use *u : chosen) {
        Line got = digest_use(*u, part, blocks);
        if (expect && !as_expected(got, expected))
            same = false;
    }
    return same ? 0 : 1;
}
