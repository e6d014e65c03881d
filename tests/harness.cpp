#include "harness.h"

#include <cmath>

#include <gtest/gtest.h>

namespace test {

t_atom L(int32_t v)
{
    t_atom a;
    a.a_type = patcher::A_LONG;
    a.a_w.w_long = v;
    return a;
}

t_atom F(float v)
{
    t_atom a;
    a.a_type = patcher::A_FLOAT;
    a.a_w.w_float = v;
    return a;
}

t_atom S(const char *name)
{
    t_atom a;
    a.a_type = patcher::A_SYM;
    a.a_w.w_sym = patcher::gensym(name);
    return a;
}

std::vector<float> Event::floats() const
{
    std::vector<float> v;
    for (const t_atom &a : atoms)
        v.push_back(loopmass::atom_getfloat(&a));
    return v;
}

Harness::Harness()
{
    static bool loaded = false;
    headless::fix_calendar(1);
    if (!loaded) {
        headless::load(loopmass::main);
        loaded = true;
    }
    headless::Listener l;
    l.console = [this](const char *channel, const std::string &text) {
        events_.push_back(Event{channel, text, {}, headless::now()});
    };
    l.list = [this](void *, int outlet, int argc, const t_atom *argv) {
        events_.push_back(
            Event{outlet == 1 ? "out1" : "out2", "", std::vector<t_atom>(argv, argv + argc), headless::now()});
    };
    headless::set_listener(l);
    headless::set_now(0);
    headless::clear_dialogs();
    events_.clear();
}

Harness::~Harness()
{
    headless::dsp_stop();
    for (t_loopmass *x : objects_)
        headless::destroy(x);
    headless::set_listener(headless::Listener{});
}

t_loopmass *Harness::create(const std::vector<t_atom> &args)
{
    void *x = headless::create("loopmass~", (int)args.size(), args.data());
    objects_.push_back((t_loopmass *)x);
    return (t_loopmass *)x;
}

void Harness::destroy(t_loopmass *x)
{
    for (size_t i = 0; i < objects_.size(); i++)
        if (objects_[i] == x)
            objects_.erase(objects_.begin() + (long)i);
    headless::destroy(x);
}

int Harness::send(t_loopmass *x, int inlet, const char *selector, const std::vector<t_atom> &args)
{
    return headless::send(x, inlet, selector, (int)args.size(), args.data());
}

std::vector<Event> Harness::take()
{
    std::vector<Event> e;
    e.swap(events_);
    return e;
}

std::vector<Event> Harness::take(const std::string &channel)
{
    std::vector<Event> e;
    for (const Event &ev : take())
        if (ev.channel == channel)
            e.push_back(ev);
    return e;
}

void perform(t_loopmass *x, float *out, int n)
{
    patcher::t_int w[4] = {0, (patcher::t_int)out - (patcher::t_int)sizeof(float), (patcher::t_int)x,
                           (patcher::t_int)n + 1};
    EXPECT_EQ(loopmass::loopmass_perform(w), w + 4);
}

std::vector<float> play(t_loopmass *x, double seconds)
{
    const int vectors = (int)std::ceil(seconds * loopmass::SAMPLE_RATE / 64.0);
    std::vector<float> out((size_t)vectors * 64);
    for (int v = 0; v < vectors; v++)
        perform(x, out.data() + 64 * v, 64);
    return out;
}

} // namespace test
