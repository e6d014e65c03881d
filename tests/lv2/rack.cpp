#include "rack.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/worker/worker.h>

#include "counting.h"

namespace rack {

namespace {

// URIDs: the plugin maps at instantiation only, so a plain table will do.
struct Uris {
    std::vector<std::string> names;
    std::mutex lock;
};
Uris &uris()
{
    static Uris u;
    return u;
}

LV2_URID map_uri(LV2_URID_Map_Handle, const char *uri)
{
    Uris &u = uris();
    std::lock_guard<std::mutex> g(u.lock);
    for (size_t i = 0; i < u.names.size(); i++)
        if (u.names[i] == uri)
            return (LV2_URID)(i + 1);
    u.names.push_back(uri);
    return (LV2_URID)u.names.size();
}

const char *unmap_uri(LV2_URID_Unmap_Handle, LV2_URID urid)
{
    Uris &u = uris();
    std::lock_guard<std::mutex> g(u.lock);
    return urid >= 1 && urid <= u.names.size() ? u.names[urid - 1].c_str() : nullptr;
}

LV2_URID_Map map_feature = {nullptr, map_uri};
LV2_URID_Unmap unmap_feature = {nullptr, unmap_uri};

LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle h, uint32_t size, const void *data)
{
    ((Player *)h)->add_job(size, data);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status respond(LV2_Worker_Respond_Handle h, uint32_t size, const void *data)
{
    ((Player *)h)->add_reply(size, data);
    return LV2_WORKER_SUCCESS;
}

int log_vprintf(LV2_Log_Handle h, LV2_URID, const char *fmt, va_list ap)
{
    char text[2048];
    int n = std::vsnprintf(text, sizeof text, fmt, ap);
    ((Player *)h)->add_log(text);
    return n;
}

int log_printf(LV2_Log_Handle h, LV2_URID type, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = log_vprintf(h, type, fmt, ap);
    va_end(ap);
    return n;
}

void set_value(const char *symbol, void *user, const void *value, uint32_t size, uint32_t type)
{
    if (size == sizeof(float) && type == map_uri(nullptr, LV2_ATOM__Float))
        ((Player *)user)->set_port(symbol, *(const float *)value);
}

const void *get_value(const char *symbol, void *user, uint32_t *size, uint32_t *type)
{
    static thread_local float value;
    value = ((Player *)user)->port(symbol);
    *size = sizeof(float);
    *type = map_uri(nullptr, LV2_ATOM__Float);
    return &value;
}

const size_t SEQUENCE_BYTES = 64 * 1024;
// Bytes past the notify buffer's room that the plugin must leave alone.
const size_t GUARD = 256;
const uint8_t GUARD_BYTE = 0xa5;
const uint32_t MAXBLOCK = 8192;

} // namespace

Event midi(uint64_t time, std::vector<uint8_t> bytes)
{
    return Event{time, std::move(bytes), "", 0, ""};
}
Event control(uint64_t time, const std::string &symbol, float value)
{
    return Event{time, {}, symbol, value, ""};
}
Event bank(uint64_t time, const std::string &path)
{
    return Event{time, {}, "", 0, path};
}
Event ask_bank(uint64_t time)
{
    Event e{time, {}, "", 0, ""};
    e.get = true;
    return e;
}
Event position(uint64_t time, int64_t frame, float speed)
{
    Event e{time, {}, "", 0, ""};
    e.position = true;
    e.frame = frame;
    e.speed = speed;
    return e;
}

Event message(uint64_t time, std::vector<uint8_t> atom)
{
    Event e{time, {}, "", 0, ""};
    e.atom = std::move(atom);
    return e;
}

LilvWorld *world()
{
    static LilvWorld *w = [] {
        LilvWorld *lw = lilv_world_new();
        lilv_world_load_specifications(lw);
        lilv_world_load_plugin_classes(lw);
        LilvNode *bundle = lilv_new_file_uri(lw, nullptr, LOOPMASS_LV2_BUNDLE);
        lilv_world_load_bundle(lw, bundle);
        lilv_node_free(bundle);
        return lw;
    }();
    return w;
}

const LilvPlugin *plugin()
{
    LilvNode *uri = lilv_new_uri(world(), "urn:loopmass:lv2");
    const LilvPlugin *p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world()), uri);
    lilv_node_free(uri);
    return p;
}

LV2_URID_Map *map()
{
    return &map_feature;
}
LV2_URID_Unmap *unmap()
{
    return &unmap_feature;
}

Player::Player(double rate, bool activated)
    : instance_(nullptr), midi_in_(SEQUENCE_BYTES / 8), notify_(SEQUENCE_BYTES / 8), latency_(-1), audio_(MAXBLOCK),
      njobs_(0), nreplies_(0), notify_room_((uint32_t)(SEQUENCE_BYTES - sizeof(LV2_Atom) - GUARD)), notify_overruns_(0),
      run_allocations_(0), run_opens_(0), inside_run_(false), hold_work_(false), start_(0), total_(0), next_control_(0),
      next_timed_(0)
{
    static LV2_Feature map_f = {LV2_URID__map, &map_feature};
    static LV2_Feature unmap_f = {LV2_URID__unmap, &unmap_feature};
    // The worker and the log answer to this player.
    auto *sched = new LV2_Worker_Schedule{this, schedule};
    auto *log = new LV2_Log_Log{this, log_printf, log_vprintf};
    features_ = {&map_f, &unmap_f, new LV2_Feature{LV2_WORKER__schedule, sched}, new LV2_Feature{LV2_LOG__log, log},
                 nullptr};

    const LilvPlugin *p = plugin();
    if (!p)
        throw std::runtime_error("loopmass.lv2 not found in " LOOPMASS_LV2_BUNDLE);
    instance_ = lilv_plugin_instantiate(p, rate, features_.data());
    if (!instance_)
        throw std::runtime_error("loopmass did not instantiate");
    uint32_t nports = lilv_plugin_get_num_ports(p);
    controls_.assign(nports, 0.0f);
    std::vector<float> defaults(nports);
    lilv_plugin_get_port_ranges_float(p, nullptr, nullptr, defaults.data());
    for (uint32_t i = 0; i < nports; i++) {
        const LilvPort *port = lilv_plugin_get_port_by_index(p, i);
        std::string symbol = lilv_node_as_string(lilv_port_get_symbol(p, port));
        index_[symbol] = i;
        if (symbol == "midi_in")
            lilv_instance_connect_port(instance_, i, midi_in_.data());
        else if (symbol == "notify")
            lilv_instance_connect_port(instance_, i, notify_.data());
        else if (symbol == "out")
            lilv_instance_connect_port(instance_, i, audio_.data());
        else if (symbol == "latency")
            lilv_instance_connect_port(instance_, i, &latency_);
        else {
            controls_[i] = defaults[i];
            lilv_instance_connect_port(instance_, i, &controls_[i]);
        }
    }
    if (activated)
        activate();
}

void Player::activate()
{
    lilv_instance_activate(instance_);
}

void Player::deactivate()
{
    lilv_instance_deactivate(instance_);
}

void Player::finish_work()
{
    bool held = hold_work_;
    hold_work_ = false;
    run_worker();
    hold_work_ = held;
}

Player::~Player()
{
    if (instance_) {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
    delete (LV2_Worker_Schedule *)features_[2]->data;
    delete (LV2_Log_Log *)features_[3]->data;
    delete features_[2];
    delete features_[3];
}

void Player::add_job(uint32_t size, const void *data)
{
    if (njobs_ == 16 || size > sizeof jobs_[0].data)
        throw std::runtime_error("worker queue full");
    jobs_[njobs_].size = size;
    std::memcpy(jobs_[njobs_++].data, data, size);
}

void Player::add_reply(uint32_t size, const void *data)
{
    if (nreplies_ == 16 || size > sizeof replies_[0].data)
        throw std::runtime_error("worker replies full");
    replies_[nreplies_].size = size;
    std::memcpy(replies_[nreplies_++].data, data, size);
}

void Player::add_log(const char *text)
{
    if (inside_run_)
        log_ += "(from run) ";
    log_ += text;
}

void Player::set_port(const char *symbol, float value)
{
    auto it = index_.find(symbol);
    if (it != index_.end())
        controls_[it->second] = value;
}

float Player::port(const std::string &symbol) const
{
    return controls_.at(index_.at(symbol));
}

float Player::latency() const
{
    return latency_;
}

void Player::notify_room(uint32_t bytes)
{
    notify_room_ = (uint32_t)std::min<size_t>(bytes, SEQUENCE_BYTES - sizeof(LV2_Atom) - GUARD);
}

void Player::read_notify(uint64_t start)
{
    const LV2_Atom_Sequence *seq = (const LV2_Atom_Sequence *)notify_.data();
    LV2_ATOM_SEQUENCE_FOREACH (seq, ev) {
        const uint8_t *atom = (const uint8_t *)&ev->body;
        notes_.push_back(Note{start + (uint64_t)ev->time.frames,
                              std::vector<uint8_t>(atom, atom + sizeof(LV2_Atom) + ev->body.size)});
        if (ev->body.type != map_uri(nullptr, LV2_ATOM__Object))
            continue;
        const LV2_Atom *value = nullptr;
        lv2_atom_object_get((const LV2_Atom_Object *)&ev->body, map_uri(nullptr, LV2_PATCH__value), &value, 0);
        if (value && value->type == map_uri(nullptr, LV2_ATOM__Path))
            told_.push_back((const char *)LV2_ATOM_BODY_CONST(value));
    }
}

void Player::run_worker()
{
    if (hold_work_)
        return;
    const LV2_Worker_Interface *w =
        (const LV2_Worker_Interface *)lilv_instance_get_extension_data(instance_, LV2_WORKER__interface);
    // The work runs on a thread of its own, as in a real host, so that the
    // plugin cannot rely on sharing thread-local state with its audio thread.
    if (njobs_ > 0) {
        std::thread worker([this, w] {
            for (int i = 0; i < njobs_; i++)
                w->work(lilv_instance_get_handle(instance_), respond, this, jobs_[i].size, jobs_[i].data);
        });
        worker.join();
    }
    njobs_ = 0;
    for (int i = 0; i < nreplies_; i++)
        w->work_response(lilv_instance_get_handle(instance_), replies_[i].size, replies_[i].data);
    nreplies_ = 0;
}

// One block: the sequence is laid out before run(), so that nothing of the
// host allocates while the plugin runs.
void Player::run_block(uint64_t start, uint32_t n, float *out, const std::vector<const Event *> &events)
{
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &map_feature);
    lv2_atom_forge_set_buffer(&forge, (uint8_t *)midi_in_.data(), SEQUENCE_BYTES);
    LV2_Atom_Forge_Frame seq;
    lv2_atom_forge_sequence_head(&forge, &seq, 0);
    for (const Event *e : events) {
        lv2_atom_forge_frame_time(&forge, (int64_t)(e->time - start));
        if (!e->midi.empty()) {
            lv2_atom_forge_atom(&forge, (uint32_t)e->midi.size(), map_uri(nullptr, LV2_MIDI__MidiEvent));
            lv2_atom_forge_write(&forge, e->midi.data(), (uint32_t)e->midi.size());
        } else if (e->position) {
            LV2_Atom_Forge_Frame obj;
            lv2_atom_forge_object(&forge, &obj, 0, map_uri(nullptr, LV2_TIME__Position));
            lv2_atom_forge_key(&forge, map_uri(nullptr, LV2_TIME__frame));
            lv2_atom_forge_long(&forge, e->frame);
            lv2_atom_forge_key(&forge, map_uri(nullptr, LV2_TIME__speed));
            lv2_atom_forge_float(&forge, e->speed);
            lv2_atom_forge_pop(&forge, &obj);
        } else if (!e->atom.empty()) {
            lv2_atom_forge_write(&forge, e->atom.data(), (uint32_t)e->atom.size());
        } else if (e->get) {
            LV2_Atom_Forge_Frame obj;
            lv2_atom_forge_object(&forge, &obj, 0, map_uri(nullptr, LV2_PATCH__Get));
            lv2_atom_forge_key(&forge, map_uri(nullptr, LV2_PATCH__property));
            lv2_atom_forge_urid(&forge, map_uri(nullptr, "urn:loopmass:lv2#bank"));
            lv2_atom_forge_pop(&forge, &obj);
        } else {
            LV2_Atom_Forge_Frame obj;
            lv2_atom_forge_object(&forge, &obj, 0, map_uri(nullptr, LV2_PATCH__Set));
            lv2_atom_forge_key(&forge, map_uri(nullptr, LV2_PATCH__property));
            lv2_atom_forge_urid(&forge, map_uri(nullptr, "urn:loopmass:lv2#bank"));
            lv2_atom_forge_key(&forge, map_uri(nullptr, LV2_PATCH__value));
            lv2_atom_forge_path(&forge, e->bank.c_str(), (uint32_t)e->bank.size());
            lv2_atom_forge_pop(&forge, &obj);
        }
    }
    lv2_atom_forge_pop(&forge, &seq);
    LV2_Atom *notify = (LV2_Atom *)notify_.data();
    notify->type = map_uri(nullptr, LV2_ATOM__Chunk);
    notify->size = notify_room_;
    uint8_t *guard = (uint8_t *)notify_.data() + sizeof(LV2_Atom) + notify_room_;
    std::memset(guard, GUARD_BYTE, GUARD);

    inside_run_ = true;
    const long allocations = counting::allocations(), opens = counting::opens();
    lilv_instance_run(instance_, n);
    run_allocations_ += counting::allocations() - allocations;
    run_opens_ += counting::opens() - opens;
    inside_run_ = false;
    std::copy(audio_.begin(), audio_.begin() + n, out);
    if (std::any_of(guard, guard + GUARD, [](uint8_t b) { return b != GUARD_BYTE; }))
        notify_overruns_++;
    read_notify(start);
    run_worker();
}

std::vector<float> Player::play(const std::vector<Event> &events, uint64_t total,
                                const std::function<uint32_t()> &block)
{
    begin(events, total);
    while (next(block()))
        ;
    return output();
}

void Player::begin(const std::vector<Event> &events, uint64_t total)
{
    out_.assign(total, 0.0f);
    start_ = 0;
    total_ = total;
    applied_.clear();
    starts_.clear();
    run_allocations_ = 0;
    run_opens_ = 0;
    notes_.clear();
    notify_overruns_ = 0;
    next_control_ = next_timed_ = 0;
    controls_by_time_.clear();
    timed_.clear();
    for (const Event &e : events)
        (e.control.empty() ? timed_ : controls_by_time_).push_back(&e);
    auto by_time = [](const Event *a, const Event *b) { return a->time < b->time; };
    std::stable_sort(controls_by_time_.begin(), controls_by_time_.end(), by_time);
    std::stable_sort(timed_.begin(), timed_.end(), by_time);
    now_.clear();
    now_.reserve(timed_.size());
}

bool Player::next(uint32_t block)
{
    if (start_ >= total_)
        return false;
    uint32_t n = (uint32_t)std::min<uint64_t>(std::min(block, MAXBLOCK), total_ - start_);
    for (; next_control_ < controls_by_time_.size() && controls_by_time_[next_control_]->time <= start_;
         next_control_++) {
        set_port(controls_by_time_[next_control_]->control.c_str(), controls_by_time_[next_control_]->value);
        applied_.push_back(start_);
    }
    now_.clear();
    for (; next_timed_ < timed_.size() && timed_[next_timed_]->time < start_ + n; next_timed_++)
        now_.push_back(timed_[next_timed_]);
    starts_.push_back(start_);
    counting::enable(true);
    run_block(start_, n, out_.data() + start_, now_);
    counting::enable(false);
    start_ += n;
    return start_ < total_;
}

std::vector<float> Player::output()
{
    return out_;
}

} // namespace rack

namespace rack {

LilvState *Player::save()
{
    return lilv_state_new_from_instance(plugin(), instance_, &map_feature, nullptr, nullptr, nullptr, nullptr,
                                        get_value, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features_.data());
}

void Player::restore(const LilvState *state)
{
    lilv_state_restore(state, instance_, set_value, this, 0, features_.data());
}

} // namespace rack

namespace rack {

uint64_t Player::next_start(uint64_t t) const
{
    for (uint64_t s : starts_)
        if (s > t)
            return s;
    return UINT64_MAX;
}

} // namespace rack
