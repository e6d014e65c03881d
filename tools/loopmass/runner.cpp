#include "runner.h"

#include <algorithm>

#include "headless.h"
#include "loopmass.h"
#include "store.h"
#include "transcript.h"
#include "view.h"

namespace score {

namespace {

using headless::t_ticks;
using loopmass::t_loopmass;
using patcher::t_atom;

std::string floats_text(const float *v, int n)
{
    std::string s;
    for (int i = 0; i < n; i++) {
        s += ' ';
        s += float_text(v[i]);
    }
    return s;
}

std::string floats_text(loopmass::t_floats v)
{
    return floats_text(v.v, v.n);
}

// The values of a print item, as the object's view shows them (each with a
// leading space).
std::string print_values(const t_loopmass *x, const std::string &item, int k)
{
    using namespace loopmass;
    if (item == "nmasses")
        return " " + std::to_string(loopmass_view_nmasses(x));
    if (item == "preset")
        return " " + std::to_string(loopmass_view_preset(x));
    if (item == "tick")
        return " " + std::to_string(loopmass_view_display(x).tick);
    if (item == "inactive")
        return " " + std::to_string(loopmass_view_display(x).inactive);
    if (item == "display")
        return " " + std::to_string(loopmass_view_display(x).display);
    if (item == "disprate")
        return " " + double_text(loopmass_view_display(x).disprate);
    if (item == "autonorm") {
        const float autonorm = loopmass_view_autonorm(x);
        return floats_text(&autonorm, 1);
    }
    if (item == "raw")
        return floats_text(loopmass_view_raw(x, k));
    if (item == "prof")
        return floats_text(loopmass_view_profile(x, k));
    if (item == "pos")
        return floats_text(loopmass_view_ring(x, 0));
    if (item == "pos1")
        return floats_text(loopmass_view_ring(x, 1));
    if (item == "pos2")
        return floats_text(loopmass_view_ring(x, 2));
    if (item == "freq")
        return floats_text(loopmass_view_pitches(x));
    if (item == "gain")
        return floats_text(loopmass_view_gains(x));
    if (item == "phase")
        return floats_text(loopmass_view_phases(x));
    if (item == "meta") {
        const t_meta m = loopmass_view_meta(x, k);
        const float meta[4] = {m.gain, m.offset, m.phase, m.extra};
        return floats_text(meta, 4);
    }
    const t_bankview bank = loopmass_view_bank(x);
    if (item == "bank") {
        std::string s;
        for (int32_t v : {bank.nmasses, bank.version, bank.entries, bank.cleared, bank.stored})
            s += " " + std::to_string(v);
        for (int i = 0; i < bank.nindex; i++) {
            const t_bankentry &e = bank.index[i];
            for (int32_t v : {e.number, e.atoms, e.bytes})
                s += " " + std::to_string(v);
        }
        return s;
    }
    // bankatoms
    std::vector<t_atom> atoms = store::atoms(bank.store);
    return atoms.empty() ? "" : " " + atoms_text((int)atoms.size(), atoms.data());
}

std::vector<t_atom> host_atoms(const std::vector<Atom> &atoms)
{
    std::vector<t_atom> v;
    for (const Atom &a : atoms) {
        t_atom t;
        t.a_type = a.type == Atom::LONG ? patcher::A_LONG : a.type == Atom::FLOAT ? patcher::A_FLOAT : patcher::A_SYM;
        if (a.type == Atom::LONG)
            t.a_w.w_long = a.l;
        else if (a.type == Atom::FLOAT)
            t.a_w.w_float = a.f;
        else
            t.a_w.w_sym = patcher::gensym(a.s.c_str());
        v.push_back(t);
    }
    return v;
}

class Runner {
public:
    Runner(const Options &options, Wav *wav, Picture *picture, FILE *out)
        : options_(options), wav_(wav), picture_(picture), out_(out), vs_(options.vs)
    {
    }

    int run(const std::vector<Event> &events)
    {
        headless::Listener l;
        l.console = [this](const char *channel, const std::string &text) { emit(channel, text); };
        l.list = [this](void *, int outlet, int argc, const t_atom *argv) {
            // A quiet run writes no transcript: spare it the text of every
            // motion list.
            if (!options_.quiet)
                emit("out" + std::to_string(outlet), atoms_text(argc, argv));
        };
        headless::set_listener(l);
        if (options_.fix_seed)
            headless::fix_calendar(options_.seed);
        headless::set_now(0);
        headless::load(loopmass::main);
        for (const Event &e : events)
            if (!event(e))
                break;
        free_object();
        headless::set_listener(headless::Listener{});
        return failed_ ? 1 : 0;
    }

private:
    void emit(const std::string &channel, const std::string &payload)
    {
        if (options_.quiet)
            return;
        line_ = time_text(headless::now());
        line_ += '\t';
        line_ += channel;
        line_ += '\t';
        line_ += payload;
        line_ += '\n';
        std::fwrite(line_.data(), 1, line_.size(), out_);
    }

    void warn(const Event &e, const std::string &message)
    {
        std::fprintf(stderr, "%s:%d: warning: %s\n", options_.name.c_str(), e.line, message.c_str());
    }

    // Returns false when the run cannot go on.
    bool event(const Event &e)
    {
        switch (e.kind) {
        case EV_NEW: {
            free_object();
            std::vector<t_atom> args = host_atoms(e.atoms);
            x_ = headless::create("loopmass~", (int)args.size(), args.data());
            if (!x_)
                warn(e, "no class loopmass~ to create");
            else if (options_.hostrate)
                tune_to_rate();
            return true;
        }
        case EV_FREE:
            free_object();
            return true;
        case EV_VS:
            vs_ = e.number;
            return true;
        case EV_SEED:
            headless::fix_calendar(e.number);
            return true;
        case EV_MESSAGE:
            if (x_) {
                std::vector<t_atom> args = host_atoms(e.atoms);
                if (headless::send(x_, e.number, e.text.c_str(), (int)args.size(), args.data()) != 0)
                    warn(e, "loopmass~ does not understand '" + e.text + "' on inlet " + std::to_string(e.number));
            }
            return true;
        case EV_RUN:
            return run_samples(e.count);
        case EV_WAIT:
            wait_ticks(e.count, e.number);
            return true;
        case EV_DIALOG:
            headless::queue_dialog(e.text);
            return true;
        case EV_DIALOG_CANCEL:
            headless::queue_dialog_cancel();
            return true;
        case EV_ASSIST:
            if (x_) {
                char text[512] = "";
                headless::assist(x_, e.text == "in" ? 1 : 2, e.number, text);
                text[sizeof text - 1] = '\0';
                emit("assist", text);
            }
            return true;
        case EV_PRINT:
            if (x_) {
                std::string what = e.text;
                if (print_takes_kind(e.text))
                    what += " " + std::to_string(e.number);
                emit("print", what + print_values((const t_loopmass *)x_, e.text, e.number));
            }
            return true;
        }
        return true;
    }

    // Before any message of the score, which may still send "hostrate 0".
    void tune_to_rate()
    {
        t_atom on;
        on.a_type = patcher::A_LONG;
        on.a_w.w_long = 1;
        headless::send(x_, 0, "hostrate", 1, &on);
    }

    // The logical time `samples` after the start of a run: exact at 44100
    // Hz (10 ticks a sample), else rounded to the nearest tick.
    t_ticks ticks_after(int64_t samples) const
    {
        return (samples * headless::TICKS_PER_SECOND + options_.rate / 2) / options_.rate;
    }

    void free_object()
    {
        if (!x_)
            return;
        if (picture_)
            picture_->keep_profiles((const t_loopmass *)x_);
        headless::destroy(x_);
        x_ = nullptr;
    }

    // ceil(n / vs) whole vectors; before each, the clocks due by its start
    // fire, stamped with that start.
    bool run_samples(int64_t n)
    {
        if (n == 0)
            return true;
        int64_t vectors = (n + vs_ - 1) / vs_;
        const t_ticks start = headless::now();
        int64_t done = 0;
        headless::dsp_start(vs_, options_.rate);
        for (int64_t v = 0; v < vectors; v++) {
            headless::set_now(start + ticks_after(done));
            headless::run_clocks();
            if (picture_)
                picture_->before_vector((const t_loopmass *)x_, vs_);
            headless::dsp_tick();
            const float *samples = x_ ? headless::signal_out(x_) : nullptr;
            if (picture_)
                picture_->after_vector((const t_loopmass *)x_, samples, vs_);
            bool written = !wav_ || (samples ? wav_->write(samples, (size_t)vs_) : wav_->write_silence((size_t)vs_));
            done += vs_;
            if (!written) {
                failed_ = true;
                break;
            }
        }
        headless::dsp_stop();
        headless::set_now(start + ticks_after(done));
        return !failed_;
    }

    // `scheduled` scheduler ticks every millisecond from now (those before
    // the exact end of the wait), then time moves to its end.
    void wait_ticks(int64_t ticks, int64_t scheduled)
    {
        t_ticks start = headless::now();
        for (int64_t k = 0; k < scheduled; k++) {
            headless::set_now(start + k * headless::TICKS_PER_MS);
            headless::run_clocks();
        }
        headless::set_now(start + ticks);
    }

    const Options &options_;
    Wav *wav_;
    Picture *picture_;
    FILE *out_;
    int vs_;
    void *x_ = nullptr;
    bool failed_ = false;
    std::string line_;
};

} // namespace

int run(const std::vector<Event> &events, const Options &options, Wav *wav, Picture *picture, FILE *out)
{
    Runner r(options, wav, picture, out);
    return r.run(events);
}

} // namespace score
