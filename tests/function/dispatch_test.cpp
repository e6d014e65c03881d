// Every routine loopmass~ registers, called as the hosts call it, in a
// build under clang's check of the type a function is called through
// (-fsanitize=function, which stops the run at the first call through a
// pointer of another type): the messages of each argument type, the
// signal method, the help text, the clock, the creation and free routines.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classes.h"
#include "headless.h"
#include "loopmass.h"

namespace {

using patcher::t_atom;

t_atom L(int32_t v)
{
    t_atom a{};
    a.a_type = patcher::A_LONG;
    a.a_w.w_long = v;
    return a;
}

t_atom F(float v)
{
    t_atom a{};
    a.a_type = patcher::A_FLOAT;
    a.a_w.w_float = v;
    return a;
}

t_atom S(const char *name)
{
    t_atom a{};
    a.a_type = patcher::A_SYM;
    a.a_w.w_sym = patcher::gensym(name);
    return a;
}

// Arguments that the routine of a message of that argument type takes.
std::vector<t_atom> arguments(short argtype, const std::string &file)
{
    switch (argtype) {
    case patcher::A_LONG:
    case patcher::A_DEFLONG:
        return {L(2)};
    case patcher::A_FLOAT:
    case patcher::A_DEFFLOAT:
        return {F(0.5f)};
    case patcher::A_SYM:
    case patcher::A_DEFSYM:
        return {S(file.c_str())};
    case patcher::A_GIMME:
        return {L(1), F(0.5f)};
    default:
        return {};
    }
}

TEST(Dispatch, EveryRoutineIsCalledThroughItsOwnType)
{
    char folder[] = "/tmp/loopmass-dispatch-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/bank.txt";
    headless::set_listener(headless::Listener{[](const char *, const std::string &) {}, {}});

    headless::load(loopmass::main);
    patcher::t_class *c = classes::find("loopmass~");
    ASSERT_NE(c, nullptr);
    std::vector<t_atom> args = {L(8)};
    void *x = headless::create("loopmass~", (int)args.size(), args.data());
    ASSERT_NE(x, nullptr);
    headless::dsp_start(64);

    int sent = 0;
    for (const classes::Method &m : c->c_methods) {
        if (m.argtype == patcher::A_CANT)
            continue;
        std::vector<t_atom> atoms = arguments(m.argtype, file);
        EXPECT_EQ(headless::send(x, 0, m.name.c_str(), (int)atoms.size(), atoms.data()), 0) << m.name;
        // And with no argument: the defaults of A_DEFSYM and the others.
        if (m.argtype != patcher::A_SYM && m.argtype != patcher::A_LONG && m.argtype != patcher::A_FLOAT)
            EXPECT_EQ(headless::send(x, 0, m.name.c_str(), 0, nullptr), 0) << m.name;
        sent++;
    }
    EXPECT_GE(sent, 20);

    char text[512];
    EXPECT_EQ(headless::assist(x, 1, 0, text), 0);
    headless::set_now(headless::now() + 1000 * headless::TICKS_PER_MS);
    headless::run_clocks();
    headless::dsp_tick();
    headless::dsp_stop();
    headless::destroy(x);
    std::remove(file.c_str());
    std::remove(folder);
}

} // namespace
