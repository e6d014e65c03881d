// The in-process host on its own, driven through toy classes: dispatch by
// argument types and inlet, outlet order, clocks on logical time, the signal
// chain and the console. Its files are in headless_files_test.cpp.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"

using namespace patcher;
using test::F;
using test::L;
using test::S;

namespace {

struct Toy {
    t_pxobject t_ob;
    int32_t t_in;
    int32_t t_id;
    t_outlet *t_signal, *t_params, *t_motion;
    t_clock *t_clk;
    t_proxy *t_proxies[2];
    int t_rearm;       // the clock routine re-arms its own clock with delay 0
    Toy *t_unset;      // the clock routine unsets that object's clock
    bool t_badperform; // the perform routine returns a wrong pointer
    int t_performs;
    short t_dsp_count;
    double t_dsp_sr;
};

std::vector<std::string> calls;

void logf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void logf(const char *fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    calls.push_back(buf);
}

t_class *toy_class, *toyint_class, *toyfloat_class, *toyquiet_class;

void *toy_new(t_symbol *s, short argc, t_atom *argv)
{
    std::string name = s->s_name;
    Toy *x = (Toy *)newobject(name == "toyint~"     ? toyint_class
                              : name == "toyfloat~" ? toyfloat_class
                              : name == "toyquiet~" ? toyquiet_class
                                                    : toy_class);
    z_dsp_setup(&x->t_ob, 0);
    x->t_id = argc > 0 && argv[0].a_type == A_LONG ? argv[0].a_w.w_long : 0;
    x->t_motion = listout(x);
    x->t_params = listout(x);
    x->t_signal = outlet_new(x, "signal");
    x->t_clk = clock_new(
        x, (method) + [](Toy *t) {
            logf("tick %d", t->t_id);
            if (t->t_rearm)
                clock_fdelay(t->t_clk, 0.0);
            if (t->t_unset)
                clock_unset(t->t_unset->t_clk);
        });
    x->t_proxies[0] = proxy_new(x, 2, &x->t_in);
    x->t_proxies[1] = proxy_new(x, 1, &x->t_in);
    return x;
}

void toy_free(Toy *x)
{
    if (x->t_clk)
        freeobject(x->t_clk);
}

void toy_int(Toy *x, int32_t n)
{
    logf("int %d in%d", n, x->t_in);
}
void toy_float(Toy *x, double f)
{
    logf("float %a in%d", f, x->t_in);
}
void toy_bang(Toy *x)
{
    logf("bang in%d", x->t_in);
}
void toy_stop(Toy *)
{
    logf("stop");
}
void toy_name(Toy *, t_symbol *s)
{
    logf("name '%s'", s->s_name);
}
void toy_count(Toy *, int32_t n)
{
    logf("count %d", n);
}
void toy_level(Toy *, double f)
{
    logf("level %a", f);
}
void toy_gimme(Toy *, t_symbol *s, short argc, t_atom *)
{
    logf("%s %d", s->s_name, argc);
}
void toy_emit(Toy *x, t_symbol *, short, t_atom *)
{
    t_outlet *outs[3] = {x->t_signal, x->t_params, x->t_motion};
    for (int i = 0; i < 3; i++) {
        t_atom a = L(i);
        outlet_list(outs[i], nullptr, 1, &a);
    }
}
void toy_dspfree(Toy *x)
{
    z_dsp_free(&x->t_ob);
}

t_int *toy_perform(t_int *w)
{
    Toy *x = (Toy *)w[1];
    float *out = (float *)w[2];
    int n = (int)w[3];
    x->t_performs++;
    for (int i = 0; i < n; i++)
        out[i] = (float)(x->t_id * 1000 + x->t_performs * 100 + i);
    return x->t_badperform ? w + 3 : w + 4;
}

void toy_dsp(Toy *x, t_signal **sp, short *count)
{
    x->t_dsp_count = count[0];
    x->t_dsp_sr = sp[0]->s_sr;
    dsp_add(toy_perform, 3, x, sp[0]->s_vec, (t_int)sp[0]->s_n);
}

void toy_assist(Toy *x, void *, long kind, long number, char *text)
{
    std::snprintf(text, 512, "toy %d kind %ld number %ld", x->t_id, kind, number);
}

void register_class(const char *name, t_class **c, bool with_int, bool with_float, bool with_dsp)
{
    headless::next_class_name(name);
    setup(c, (method)toy_new, (method)toy_free, sizeof(Toy), nullptr, A_GIMME, 0);
    if (with_dsp)
        addmess((method)toy_dsp, "dsp", A_CANT, 0);
    addbang((method)toy_bang);
    addmess((method)toy_gimme, "list", A_GIMME, 0);
    addmess((method)toy_gimme, "reset", A_GIMME, 0);
    addmess((method)toy_emit, "emit", A_GIMME, 0);
    addmess((method)toy_name, "name", A_DEFSYM, 0);
    addmess((method)toy_count, "count", A_LONG, 0);
    addmess((method)toy_level, "level", A_FLOAT, 0);
    addmess((method)toy_stop, "stop", 0);
    addmess((method)toy_dspfree, "dspfree", 0);
    if (with_float)
        addfloat((method)toy_float);
    if (with_int)
        addint((method)toy_int);
    addmess((method)toy_assist, "assist", A_CANT, 0);
    z_add_signalmethod();
}

class Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            register_class("toy~", &toy_class, true, true, true);
            register_class("toyint~", &toyint_class, true, false, true);
            register_class("toyfloat~", &toyfloat_class, false, true, true);
            register_class("toyquiet~", &toyquiet_class, true, true, false);
            registered = true;
        }
        calls.clear();
        headless::set_now(0);
        headless::Listener l;
        l.console = [this](const char *channel, const std::string &text) {
            console.push_back(std::string(channel) + ": " + text);
        };
        l.list = [this](void *x, int outlet, int argc, const t_atom *argv) {
            lists.push_back({((Toy *)x)->t_id, outlet, argc > 0 ? argv[0].a_w.w_long : -1});
        };
        headless::set_listener(l);
    }
    void TearDown() override
    {
        headless::dsp_stop();
        for (Toy *x : toys)
            headless::destroy(x);
        headless::set_listener(headless::Listener{});
        headless::set_now(0);
    }
    Toy *make(const char *name = "toy~", int32_t id = 0)
    {
        t_atom a = L(id);
        Toy *x = (Toy *)headless::create(name, 1, &a);
        toys.push_back(x);
        return x;
    }

    std::vector<Toy *> toys;
    std::vector<std::string> console;
    std::vector<std::array<int, 3>> lists; // object id, outlet, first atom
};

struct DispatchCase {
    const char *cls;
    int inlet;
    const char *selector;
    std::vector<t_atom> args;
    int result;
    const char *call; // nullptr: no method called
};

TEST_F(Host, DispatchConvertsArgumentsByTypeAndWritesTheInlet)
{
    const float nan = std::nanf("");
    const std::vector<DispatchCase> cases = {
        {"toy~", 0, "int", {L(3)}, 0, "int 3 in0"},
        {"toy~", 2, "int", {F(2.9f)}, 0, "int 2 in2"},
        {"toy~", 1, "int", {F(-2.9f)}, 0, "int -2 in1"},
        {"toy~", 0, "int", {F(-1e10f)}, 0, "int -2147483648 in0"},
        {"toy~", 0, "int", {F(3e9f)}, 0, "int 2147483647 in0"},
        {"toy~", 0, "int", {F(INFINITY)}, 0, "int 2147483647 in0"},
        {"toy~", 0, "int", {F(nan)}, 0, "int 0 in0"},
        {"toy~", 0, "int", {}, 0, "int 0 in0"},
        {"toy~", 0, "int", {S("a")}, 1, nullptr},
        {"toy~", 1, "float", {F(0.1f)}, 0, "float 0x1.99999ap-4 in1"},
        {"toy~", 0, "float", {L(-7)}, 0, "float -0x1.cp+2 in0"},
        {"toyint~", 2, "float", {F(-2.5f)}, 0, "int -2 in2"},
        {"toyint~", 0, "float", {F(1e20f)}, 0, "int 2147483647 in0"},
        {"toyfloat~", 0, "int", {L(5)}, 0, "float 0x1.4p+2 in0"},
        {"toyfloat~", 0, "int", {F(0.5f)}, 0, "float 0x1p-1 in0"},
        {"toy~", 0, "bang", {}, 0, "bang in0"},
        {"toy~", 1, "bang", {L(1)}, 0, "bang in1"},
        {"toy~", 2, "list", {L(1), F(2), S("x")}, 0, "list 3"},
        {"toy~", 0, "list", {}, 0, "list 0"},
        {"toy~", 0, "reset", {S("all")}, 0, "reset 1"},
        {"toy~", 0, "name", {}, 0, "name ''"},
        {"toy~", 0, "name", {S("bank.txt"), L(2)}, 0, "name 'bank.txt'"},
        {"toy~", 0, "name", {L(1)}, 1, nullptr},
        {"toy~", 0, "name", {F(1)}, 1, nullptr},
        {"toy~", 0, "count", {F(2.5f)}, 0, "count 2"},
        {"toy~", 0, "count", {}, 0, "count 0"},
        {"toy~", 0, "count", {S("x")}, 1, nullptr},
        {"toy~", 0, "level", {L(3)}, 0, "level 0x1.8p+1"},
        {"toy~", 0, "level", {S("x")}, 1, nullptr},
        {"toy~", 0, "stop", {L(1), S("x")}, 0, "stop"},
        {"toy~", 0, "dsp", {}, 1, nullptr},
        {"toy~", 0, "assist", {}, 1, nullptr},
        {"toy~", 0, "nonsense", {L(1)}, 1, nullptr},
        {"toy~", 3, "bang", {}, 1, nullptr},
        {"toy~", -1, "bang", {}, 1, nullptr},
    };
    Toy *objects[] = {make("toy~"), make("toyint~"), make("toyfloat~")};
    for (const DispatchCase &c : cases) {
        SCOPED_TRACE(std::string(c.cls) + " " + c.selector + " on inlet " + std::to_string(c.inlet));
        Toy *x = objects[std::string(c.cls) == "toy~" ? 0 : std::string(c.cls) == "toyint~" ? 1 : 2];
        x->t_in = 99;
        calls.clear();
        EXPECT_EQ(headless::send(x, c.inlet, c.selector, (int)c.args.size(), c.args.data()), c.result);
        EXPECT_EQ(calls, c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{});
    }
    EXPECT_TRUE(console.empty());
}

TEST_F(Host, GimmeArgumentCountIsLimitedToAShort)
{
    Toy *x = make();
    std::vector<t_atom> many(40000, L(1));
    EXPECT_EQ(headless::send(x, 0, "list", (int)many.size(), many.data()), 0);
    EXPECT_EQ(calls, std::vector<std::string>{"list 32767"});
}

TEST_F(Host, OutletsAreNumberedFromTheLastCreated)
{
    Toy *x = make("toy~", 7);
    EXPECT_EQ(headless::ninlets(x), 3);
    EXPECT_EQ(headless::noutlets(x), 3);
    EXPECT_EQ(headless::send(x, 0, "emit", 0, nullptr), 0);
    // emit sends k on the signal outlet, params and motion in that order.
    std::vector<std::array<int, 3>> expected = {{7, 0, 0}, {7, 1, 1}, {7, 2, 2}};
    EXPECT_EQ(lists, expected);

    char text[512];
    EXPECT_EQ(headless::assist(x, 2, 1, text), 0);
    EXPECT_STREQ(text, "toy 7 kind 2 number 1");
}

TEST_F(Host, ClocksFireInDueOrderOnLogicalTime)
{
    Toy *a = make("toy~", 1), *b = make("toy~", 2), *c = make("toy~", 3), *d = make("toy~", 4);
    clock_fdelay(a->t_clk, 10.0);   // 4410 ticks
    clock_fdelay(c->t_clk, 5.0);    // 2205, armed before b: fires first
    clock_delay(b->t_clk, 5);       // 2205
    clock_fdelay(d->t_clk, 0.0011); // 0.4851 ticks round to 0
    headless::run_clocks();
    EXPECT_EQ(calls, std::vector<std::string>{"tick 4"});

    calls.clear();
    headless::set_now(2204);
    headless::run_clocks();
    EXPECT_TRUE(calls.empty());
    headless::set_now(5000);
    headless::run_clocks();
    EXPECT_EQ(calls, (std::vector<std::string>{"tick 3", "tick 2", "tick 1"}));

    // Each fires once: nothing is left armed.
    calls.clear();
    headless::run_clocks();
    EXPECT_TRUE(calls.empty());

    // A new delay replaces the pending one; unset disarms; a negative or NaN
    // delay counts as none; a huge one never comes.
    clock_fdelay(a->t_clk, 100.0);
    clock_delay(a->t_clk, 1);
    clock_delay(b->t_clk, 0);
    clock_unset(b->t_clk);
    clock_fdelay(c->t_clk, -5.0);
    clock_fdelay(d->t_clk, std::nan(""));
    headless::run_clocks();
    EXPECT_EQ(calls, (std::vector<std::string>{"tick 3", "tick 4"}));
    calls.clear();
    clock_delay(b->t_clk, LONG_MAX);
    clock_fdelay(c->t_clk, 1e300);
    headless::set_now(5000 + 441);
    headless::run_clocks();
    headless::set_now(INT64_MAX - 1);
    headless::run_clocks();
    // Where long has 32 bits the longest delay is some 25 days, which comes.
    if (sizeof(long) > 4)
        EXPECT_EQ(calls, (std::vector<std::string>{"tick 1"}));
    else
        EXPECT_EQ(calls, (std::vector<std::string>{"tick 1", "tick 2"}));
}

TEST_F(Host, ClocksArmedOrUnsetDuringAPassWaitForTheNext)
{
    Toy *a = make("toy~", 1), *b = make("toy~", 2), *c = make("toy~", 3);
    a->t_rearm = 1; // re-arms itself with delay 0
    a->t_unset = c; // and unsets c, which is due in the same pass
    clock_delay(a->t_clk, 0);
    clock_delay(c->t_clk, 0);
    headless::run_clocks();
    EXPECT_EQ(calls, std::vector<std::string>{"tick 1"});
    calls.clear();
    headless::run_clocks();
    EXPECT_EQ(calls, std::vector<std::string>{"tick 1"});

    // A clock whose object is destroyed does not fire.
    calls.clear();
    a->t_rearm = 0;
    a->t_unset = nullptr;
    t_clock *kept = b->t_clk;
    b->t_clk = nullptr; // the free routine leaves it to us
    clock_delay(kept, 0);
    headless::destroy(b);
    toys.erase(toys.begin() + 1);
    headless::run_clocks();
    EXPECT_EQ(calls, std::vector<std::string>{"tick 1"});
    freeobject(kept);
}

TEST_F(Host, SignalChainRunsEachPerformWithItsArguments)
{
    Toy *a = make("toy~", 1), *quiet = make("toyquiet~", 2), *freed = make("toy~", 3), *bad = make("toy~", 4);
    headless::send(freed, 0, "dspfree", 0, nullptr);
    bad->t_badperform = true;
    EXPECT_EQ(headless::signal_out(a), nullptr);

    headless::dsp_start(4);
    EXPECT_EQ(a->t_dsp_count, 1);
    EXPECT_EQ(a->t_dsp_sr, 44100.0);
    ASSERT_NE(headless::signal_out(a), nullptr);
    EXPECT_EQ(headless::signal_out(quiet), nullptr);
    EXPECT_EQ(headless::signal_out(freed), nullptr);
    EXPECT_EQ(std::vector<float>(headless::signal_out(a), headless::signal_out(a) + 4), std::vector<float>(4, 0.0f));

    headless::dsp_tick();
    headless::dsp_tick();
    EXPECT_EQ(std::vector<float>(headless::signal_out(a), headless::signal_out(a) + 4),
              (std::vector<float>{1200, 1201, 1202, 1203}));
    EXPECT_EQ(a->t_performs, 2);
    EXPECT_EQ(freed->t_performs, 0);
    EXPECT_EQ(bad->t_performs, 1); // its wrong return pointer took it out of the chain

    headless::dsp_stop();
    headless::dsp_tick();
    EXPECT_EQ(a->t_performs, 2);
    EXPECT_EQ(headless::signal_out(a), nullptr);
}

TEST_F(Host, ConsoleLinesOfAnyLength)
{
    std::string word(5000, 'w');
    post("%s %d", word.c_str(), 3);
    error("can't find %s", "x");
    EXPECT_EQ(console, (std::vector<std::string>{"post: " + word + " 3", "error: can't find x"}));
    // Around the room the console formats in before it takes more.
    for (size_t n : {1022, 1023, 1024, 1025}) {
        console.clear();
        std::string line(n, 'l');
        post("%s", line.c_str());
        EXPECT_EQ(console, (std::vector<std::string>{"post: " + line})) << n;
    }
}

TEST_F(Host, CalendarCanBeFixed)
{
    headless::fix_calendar(12345);
    EXPECT_EQ(calendar_seconds(), 12345);
    headless::unfix_calendar();
    EXPECT_GT(calendar_seconds(), 12345);
}

} // namespace
