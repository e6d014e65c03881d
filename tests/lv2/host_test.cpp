// The rules the LV2 layer keeps for what an object can observe: when its
// clocks fire, where its files are found, how its vectors are paced.  A toy
// class counts its vectors and notes the vector at which its clock fires.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../../src/object/loopmass.h"
#include "classes.h"
#include "host.h"
#include "store_files.h"
#include "store_text.h"

namespace {

using namespace patcher;

struct Toy {
    t_object t_ob;
    t_clock *t_clk;
    double t_delay;            // the clock routine re-arms with this delay
    int t_vectors;             // vectors performed
    int t_n;                   // samples per vector, as dsp was told
    std::vector<int> *t_fired; // vectors performed when the clock fired
};

t_class *toy_class;

void toy_tick(Toy *t)
{
    t->t_fired->push_back(t->t_vectors);
    clock_fdelay(t->t_clk, t->t_delay);
}

t_int *toy_perform(t_int *w)
{
    ((Toy *)w[1])->t_vectors++;
    return w + 2;
}

void toy_dsp(Toy *t, t_signal **sp, short *)
{
    t->t_n = sp[0]->s_n;
    dsp_add(toy_perform, 1, (t_int)t);
}

void *toy_new(t_symbol *, short argc, t_atom *argv)
{
    Toy *t = (Toy *)newobject(toy_class);
    t->t_delay = argc > 0 ? argv[0].a_w.w_float : 0.0;
    t->t_clk = clock_new(t, (method)toy_tick);
    clock_fdelay(t->t_clk, 0.0);
    return t;
}

void toy_free(Toy *t)
{
    freeobject(t->t_clk);
}

t_class *toy()
{
    if (!toy_class) {
        classes::next_class_name("lv2toy");
        setup(&toy_class, (method)toy_new, (method)toy_free, sizeof(Toy), nullptr, A_GIMME, 0);
        addmess((method)toy_dsp, "dsp", A_CANT, 0);
        z_add_signalmethod();
    }
    return toy_class;
}

lv2host::Console quiet()
{
    return lv2host::Console{nullptr, nullptr};
}

TEST(Lv2Host, ClocksFireAtTheNextPassWhenTheirDelayFallsBeforeIt)
{
    // A vector is 64 / 44100 s, about 1.45 ms.
    struct Case {
        float delay;
        std::vector<int> fired;
    };
    const Case cases[] = {
        {0.0f, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {1.0f, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {1.45f, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {2.0f, {0, 2, 4, 6, 8}},
        {10.0f, {0, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.delay);
        std::vector<int> fired;
        float vector[lv2host::VECTOR];
        lv2host::Build b{quiet(), "", ""};
        t_atom arg;
        arg.a_type = A_FLOAT;
        arg.a_w.w_float = c.delay;
        lv2host::Object *o = lv2host::object_new(b, toy(), 1, &arg, vector, 44100);
        ASSERT_NE(o, nullptr);
        Toy *t = (Toy *)o->x;
        t->t_fired = &fired;
        EXPECT_EQ(t->t_n, lv2host::VECTOR);
        for (int i = 0; i < 10; i++)
            lv2host::object_vector(o, lv2host::VECTOR);
        EXPECT_EQ(fired, c.fired);
        EXPECT_EQ(t->t_vectors, 10);
        lv2host::object_free(o, quiet());
    }
}

TEST(Lv2Host, AClockArmedBetweenPassesCountsFromTheNextVector)
{
    std::vector<int> fired;
    float vector[lv2host::VECTOR];
    lv2host::Build b{quiet(), "", ""};
    t_atom arg;
    arg.a_type = A_FLOAT;
    arg.a_w.w_float = 1000.0f;
    lv2host::Object *o = lv2host::object_new(b, toy(), 1, &arg, vector, 44100);
    Toy *t = (Toy *)o->x;
    t->t_fired = &fired;
    lv2host::object_vector(o, lv2host::VECTOR); // fires, re-arms for a second later
    clock_fdelay(t->t_clk, 0.0);
    lv2host::object_vector(o, lv2host::VECTOR);
    clock_fdelay(t->t_clk, 2.0); // from the start of vector 2: due in vector 4
    clock_unset(t->t_clk);
    clock_fdelay(t->t_clk, 2.0);
    for (int i = 0; i < 4; i++)
        lv2host::object_vector(o, lv2host::VECTOR);
    EXPECT_EQ(fired, (std::vector<int>{0, 1, 4}));
    lv2host::object_free(o, quiet());
}

struct Lines {
    std::vector<std::string> lines;
    static void add(void *owner, bool is_error, const char *text)
    {
        ((Lines *)owner)->lines.push_back(std::string(is_error ? "error: " : "") + text);
    }
};

TEST(Lv2Host, AbsoluteNamesAreFilesAndRelativeNamesTheSessionBank)
{
    const std::string file = std::string(LOOPMASS_SOURCE_DIR) + "/hosts/pd/example-presets.txt";
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct Case {
        std::string bank; // the session's bank text
        std::string name;
        short status;
        std::string line; // the last console line
    };
    const Case cases[] = {
        {"", file, 0, ""},
        {text, "bank", 0, ""},
        {text, "any name", 0, ""},
        {"", "bank", 1, "error: loopmass~: can't find file bank"},
        {"64 -2 1;\n0;\n", "bank", 1, "error: loopmass~: error reading bank"},
        {"", "/nonexistent/file", 1, "error: loopmass~: can't find file /nonexistent/file"},
    };
    Lines lines;
    lv2host::Console console{Lines::add, &lines};
    t_class *c = lv2host::load(console);
    ASSERT_NE(c, nullptr);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        lines.lines.clear();
        float vector[lv2host::VECTOR];
        lv2host::Build b{console, k.bank, ""};
        t_atom arg;
        arg.a_type = A_LONG;
        arg.a_w.w_long = 64;
        lv2host::Object *o = lv2host::object_new(b, c, 1, &arg, vector, 44100);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(lv2host::object_read(o, b, k.name.c_str()), k.status);
        EXPECT_EQ(lines.lines.empty() ? "" : lines.lines.back(), k.line);
        // A file read from disk leaves its text, which reads back the same.
        if (k.bank.empty() && k.status == 0) {
            t_binbuf *a = binbuf_new(), *again = binbuf_new();
            ASSERT_EQ(store::read_file(a, file), 0);
            ASSERT_EQ(store::read_text(again, b.read), 0);
            EXPECT_EQ(store::text(again), store::text(a));
            freeobject(a);
            freeobject(again);
        }
        lv2host::object_free(o, console);
    }
}

// The host's haptic counter is the object's, whatever the vector sizes, and
// can be set to any value.
TEST(Lv2Host, TheHapticCounterIsTheObjectsAndCanBeSetAtRest)
{
    t_class *c = lv2host::load(quiet());
    ASSERT_NE(c, nullptr);
    float vector[lv2host::VECTOR];
    lv2host::Build b{quiet(), "", ""};
    t_atom arg;
    arg.a_type = A_LONG;
    arg.a_w.w_long = 37;
    lv2host::Object *o = lv2host::object_new(b, c, 1, &arg, vector, 44100);
    ASSERT_NE(o, nullptr);
    loopmass::t_loopmass *x = (loopmass::t_loopmass *)o->x;
    const int sizes[] = {64, 64, 40, 1, 1, 63, 17, 57, 56, 64, 3, 2, 64, 64, 64, 64, 24, 64, 9, 47};
    for (int round = 0; round < 3; round++)
        for (int n : sizes) {
            lv2host::object_vector(o, n);
            ASSERT_EQ(o->counter, x->x_tick) << "after a vector of " << n;
        }
    const int values[] = {0, 3, 1, 0, 10, 255, 4, 2, 2, 128, 0, 85};
    for (int v : values) {
        lv2host::object_count_to(o, v);
        EXPECT_EQ(x->x_tick, v);
        EXPECT_EQ(o->counter, v);
    }
    // Without forces (a fresh object's preset) a ring at rest stays
    // exactly at rest through all those steps.
    EXPECT_GT(x->x_nsteps, 10u);
    for (int i = 0; i < x->x_nmasses; i++) {
        uint32_t now, before;
        std::memcpy(&now, &x->x_pos[i], sizeof now);
        std::memcpy(&before, &x->x_pos1[i], sizeof before);
        EXPECT_EQ(now, 0u) << "mass " << i;
        EXPECT_EQ(before, 0u) << "mass " << i;
    }
    lv2host::object_free(o, quiet());
}

} // namespace
