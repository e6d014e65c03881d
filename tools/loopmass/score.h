// Scores: the text files of timed events that the loopmass command line
// runs.  The parser reads a whole score before anything runs, so that a
// score with a fault anywhere runs nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace score {

// A word of a score line, typed as the patcher's message box types it.
struct Atom {
    enum Type { LONG, FLOAT, SYMBOL };
    Type type;
    int32_t l;
    float f;
    std::string s;
};

enum EventKind {
    EV_NEW, // atoms: creation arguments
    EV_FREE,
    EV_VS,      // number: vector size
    EV_SEED,    // number: calendar seconds
    EV_MESSAGE, // number: inlet; text: selector; atoms: arguments
    EV_RUN,     // count: samples
    EV_WAIT,    // count: logical ticks (1/441 ms); number: scheduler ticks
    EV_DIALOG,  // text: path
    EV_DIALOG_CANCEL,
    EV_ASSIST, // text: "in" or "out"; number: inlet or outlet
    EV_PRINT   // text: item; number: kind for raw, prof and meta, else 0
};

struct Event {
    EventKind kind;
    int line;
    int32_t number;
    int64_t count;
    std::string text;
    std::vector<Atom> atoms;
};

struct ParseError {
    int line;
    int column; // from 1, in bytes
    std::string message;
};

// Parses a whole score.  On success fills events and returns true; on the
// first fault fills error and returns false.
bool parse(const std::string &text, std::vector<Event> &events, ParseError &error);

// The print items that take a profile kind (raw K, prof K, meta K).
bool print_takes_kind(const std::string &item);

// Largest wait, in milliseconds, so that any wait ends in bounded time.
const int64_t MAX_WAIT_MS = 2147483647;

} // namespace score
