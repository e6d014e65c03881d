// libFuzzer target for the preset file reader: every input is written to a
// file and read by an object of 8 masses.  Whatever the file holds, the bank
// must either stay exactly as it was (and an error be reported) or describe
// the file's presets, resampled to 8 masses.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "headless.h"
#include "loopmass.h"
#include "store.h"

using loopmass::t_loopmass;
using patcher::t_atom;

namespace {

const int NMASSES = 8;

t_loopmass *object;
std::string path;
int errors;

struct Snapshot {
    int32_t fields[5];
    std::vector<int32_t> index;
    std::vector<uint8_t> atoms;
};

Snapshot snapshot(t_loopmass *x)
{
    Snapshot s;
    int32_t f[5] = {x->x_bank_nmasses, x->x_bank_version, x->x_bank_nentries, x->x_bank_ncleared, x->x_bank_nstored};
    std::memcpy(s.fields, f, sizeof f);
    for (int e = 0; e < x->x_bank_nentries && e < loopmass::INDEXSIZE; e++)
        s.index.insert(s.index.end(), {x->x_index[e].number, x->x_index[e].atoms, x->x_index[e].bytes});
    for (const t_atom &a : store::atoms(x->x_bank)) {
        // Type and value bits, without the padding between them.
        s.atoms.push_back((uint8_t)a.a_type);
        const uint8_t *v = (const uint8_t *)&a.a_w.w_long;
        s.atoms.insert(s.atoms.end(), v, v + 4);
    }
    return s;
}

bool same(const Snapshot &a, const Snapshot &b)
{
    return std::memcmp(a.fields, b.fields, sizeof a.fields) == 0 && a.index == b.index && a.atoms == b.atoms;
}

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_presetfile: %s\n", what);
        std::abort();
    }
}

// The bank after an accepted file: compact, laid out for 8 masses, and
// every index entry pointing at its group's number.
void check_accepted(t_loopmass *x)
{
    check(x->x_bank_nentries >= 0 && x->x_bank_nentries <= loopmass::INDEXSIZE, "entry count out of range");
    check(x->x_bank_nmasses == NMASSES, "bank not resampled to the object's masses");
    check(x->x_bank_ncleared == 0 && x->x_bank_nstored == x->x_bank_nentries, "counters of a read bank");
    std::vector<t_atom> atoms = store::atoms(x->x_bank);
    check(atoms.size() == (size_t)(4 + x->x_bank_nentries * (6 * NMASSES + 8)), "bank size");
    for (int e = 0; e < x->x_bank_nentries; e++) {
        check(x->x_index[e].number >= 0, "negative preset number");
        check(x->x_index[e].atoms == e * (6 * NMASSES + 8) + 4, "first cursor");
        check(x->x_index[e].bytes == e * (48 * NMASSES + 4) + 12, "second cursor");
        const t_atom &n = atoms[(size_t)x->x_index[e].atoms];
        check(n.a_type == patcher::A_LONG && n.a_w.w_long == x->x_index[e].number, "number at the cursor");
        for (int p = 0; p < 6; p++) {
            size_t at = (size_t)x->x_index[e].atoms + 2 + (size_t)p * (NMASSES + 1);
            for (int i = 0; i < NMASSES; i++)
                check(atoms[at + (size_t)i].a_type == patcher::A_FLOAT, "profile value not a float");
            check(atoms[at + NMASSES].a_type == patcher::A_SEMI, "profile not ended");
        }
    }
}

void setup()
{
    headless::Listener l;
    l.console = [](const char *channel, const std::string &) {
        if (std::strcmp(channel, "error") == 0)
            errors++;
    };
    headless::set_listener(l);
    headless::fix_calendar(1);
    headless::load(loopmass::main);
    t_atom n;
    n.a_type = patcher::A_LONG;
    n.a_w.w_long = NMASSES;
    object = (t_loopmass *)headless::create("loopmass~", 1, &n);
    char dir[] = "/tmp/loopmass-fuzz-XXXXXX";
    check(mkdtemp(dir) != nullptr, "no temporary directory");
    path = std::string(dir) + "/input.txt";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!object)
        setup();
    FILE *f = std::fopen(path.c_str(), "wb");
    check(f != nullptr, "cannot write the input file");
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    // Keep something in the bank so that a refused file has something to
    // lose.
    headless::send(object, 0, "store", 0, nullptr);
    Snapshot before = snapshot(object);
    errors = 0;
    t_atom name;
    name.a_type = patcher::A_SYM;
    name.a_w.w_sym = patcher::gensym(path.c_str());
    headless::send(object, 0, "read", 1, &name);

    if (errors > 0)
        check(same(before, snapshot(object)), "a refused file changed the bank");
    else
        check_accepted(object);

    // Keep the bank from growing across inputs.
    t_atom all;
    all.a_type = patcher::A_SYM;
    all.a_w.w_sym = patcher::gensym("all");
    headless::send(object, 0, "clear", 1, &all);
    return 0;
}
