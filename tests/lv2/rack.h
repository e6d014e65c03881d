// A small LV2 host on lilv for the tests: loads loopmass.lv2 from the build
// tree, feeds it MIDI, controls and bank loads in blocks of any size, runs
// its worker between blocks (synchronously, as a host may), and keeps its
// log.  Nothing it does inside run() allocates, so the allocations counted
// there are the plugin's.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

namespace rack {

// What happens at a sample time: MIDI bytes, a control value, a preset
// file given to the bank parameter, a question for it, the host's
// timeline (a time:Position with its frame and speed), or any atom as a
// window would send it (header and body).
struct Event {
    uint64_t time;
    std::vector<uint8_t> midi;
    std::string control;
    float value;
    std::string bank;
    bool position = false;
    int64_t frame = 0;
    float speed = 0;
    bool get = false; // patch:Get of the bank
    std::vector<uint8_t> atom = {};
};

// An event of the notify port: when it was sent, and the atom.
struct Note {
    uint64_t time;
    std::vector<uint8_t> atom;
};

Event midi(uint64_t time, std::vector<uint8_t> bytes);
Event control(uint64_t time, const std::string &symbol, float value);
Event bank(uint64_t time, const std::string &path);
Event ask_bank(uint64_t time);
Event position(uint64_t time, int64_t frame, float speed);
Event message(uint64_t time, std::vector<uint8_t> atom);

// The world, with the bundle loaded once per process.
LilvWorld *world();
const LilvPlugin *plugin();
LV2_URID_Map *map();
LV2_URID_Unmap *unmap();

class Player {
public:
    // Activated at once unless told otherwise; then activate() comes later.
    explicit Player(double rate = 44100, bool activated = true);
    ~Player();
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // Plays the events (sorted by time) for total samples, in blocks of the
    // sizes that block() gives in turn; returns the output.  A control
    // changes at the start of the first block that begins at or after its
    // time; applied() then tells where each control change took effect.
    std::vector<float> play(const std::vector<Event> &events, uint64_t total, const std::function<uint32_t()> &block);
    // The same, a block at a time: begin(), then next() until it returns
    // false, then output().
    void begin(const std::vector<Event> &events, uint64_t total);
    bool next(uint32_t block);
    std::vector<float> output();
    const std::vector<uint64_t> &applied() const { return applied_; }
    // The first sample of each block of the last play().
    const std::vector<uint64_t> &starts() const { return starts_; }
    // The start of the block after the one that holds time t: where a new
    // object asked for at t starts playing, as this host runs the worker
    // between blocks.
    uint64_t next_start(uint64_t t) const;

    // The preset files the plugin said it loaded, on its notify port.
    const std::vector<std::string> &told() const { return told_; }
    // Every event of the notify port during the last play().
    const std::vector<Note> &notes() const { return notes_; }
    // The notify buffer's room in bytes from now on (64 KiB at first), and
    // the runs that wrote past it.
    void notify_room(uint32_t bytes);
    long notify_overruns() const { return notify_overruns_; }

    float latency() const;
    const std::string &log() const { return log_; }
    // Heap allocations and file opens, on any thread, inside run() during
    // the last play().
    long run_allocations() const { return run_allocations_; }
    long run_opens() const { return run_opens_; }

    void activate();
    void deactivate();
    // While held, the worker's jobs wait; finish_work() runs them and hands
    // their replies to the plugin.
    void hold_work(bool hold) { hold_work_ = hold; }
    void finish_work();

    LilvState *save();
    void restore(const LilvState *state);
    float port(const std::string &symbol) const;

    // Host callbacks.
    void add_job(uint32_t size, const void *data);
    void add_reply(uint32_t size, const void *data);
    void add_log(const char *text);
    void set_port(const char *symbol, float value);

private:
    struct Message {
        uint32_t size;
        uint8_t data[8192];
    };
    void run_block(uint64_t start, uint32_t n, float *out, const std::vector<const Event *> &events);
    void run_worker();
    void read_notify(uint64_t start);

    LilvInstance *instance_;
    std::map<std::string, uint32_t> index_;
    std::vector<float> controls_;
    std::vector<uint64_t> midi_in_; // atom sequences, 8-byte aligned
    std::vector<uint64_t> notify_;
    float latency_;
    std::vector<float> audio_;
    Message jobs_[16];
    int njobs_;
    Message replies_[16];
    int nreplies_;
    std::string log_;
    std::vector<uint64_t> applied_;
    std::vector<uint64_t> starts_;
    std::vector<std::string> told_;
    std::vector<Note> notes_;
    uint32_t notify_room_;
    long notify_overruns_;
    long run_allocations_;
    long run_opens_;
    bool inside_run_;
    bool hold_work_;
    // What begin() laid out for next().
    std::vector<float> out_;
    uint64_t start_, total_;
    size_t next_control_, next_timed_;
    std::vector<const Event *> controls_by_time_, timed_, now_;
    std::vector<const LV2_Feature *> features_;
};

} // namespace rack
