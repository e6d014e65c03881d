#include "score.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "headless.h"
#include "words.h"

namespace score {

namespace {

struct Word {
    std::string text;
    int column;
    bool quoted;
};

// Where the parser reports a fault: every helper fills it and returns
// false, and the parser stops at the first one.
struct Fault {
    ParseError *err;
    int line;
    bool set(int column, const std::string &message)
    {
        err->line = line;
        err->column = column;
        err->message = message;
        return false;
    }
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Length of the UTF-8 sequence that starts at s[i], or 0 when it is not a
// well-formed one (overlong forms, surrogates and code points above
// U+10FFFF included).
size_t utf8_length(const std::string &s, size_t i)
{
    unsigned char c = (unsigned char)s[i];
    size_t n;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
        cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        cp = c & 0x07;
    } else
        return 0;
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; k++) {
        unsigned char d = (unsigned char)s[i + k];
        if ((d & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (d & 0x3f);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return n;
}

// Every byte of a line must be text: no NUL, no control character other
// than tab and carriage return, and well-formed UTF-8.
bool check_bytes(const std::string &line, Fault &f)
{
    size_t i = 0;
    while (i < line.size()) {
        unsigned char c = (unsigned char)line[i];
        int column = (int)i + 1;
        if (c == 0)
            return f.set(column, "NUL byte");
        if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7f) {
            char msg[40];
            std::snprintf(msg, sizeof msg, "control character 0x%02x", c);
            return f.set(column, msg);
        }
        size_t n = utf8_length(line, i);
        if (n == 0)
            return f.set(column, "invalid UTF-8");
        i += n;
    }
    return true;
}

// Splits a line into words.  A word in double quotes may hold blanks and
// "#"; inside it, \" and \\ stand for " and \.
bool split_words(const std::string &line, std::vector<Word> &words, Fault &f)
{
    size_t i = 0;
    words.clear();
    while (i < line.size()) {
        char c = line[i];
        if (is_blank(c)) {
            i++;
            continue;
        }
        if (c == '#')
            break;
        Word w{"", (int)i + 1, c == '"'};
        if (w.quoted) {
            i++;
            for (;;) {
                if (i >= line.size())
                    return f.set(w.column, "unterminated quote");
                c = line[i];
                if (c == '"')
                    break;
                if (c == '\\') {
                    char e = i + 1 < line.size() ? line[i + 1] : '\0';
                    if (e != '"' && e != '\\')
                        return f.set((int)i + 1, "unknown escape in quotes (only \\\" and \\\\)");
                    w.text += e;
                    i += 2;
                } else {
                    w.text += c;
                    i++;
                }
            }
            i++;
            if (i < line.size() && !is_blank(line[i]) && line[i] != '#')
                return f.set((int)i + 1, "a closing quote must end the word");
        } else {
            while (i < line.size() && !is_blank(line[i]) && line[i] != '#') {
                if (line[i] == '"')
                    return f.set((int)i + 1, "quote inside a word");
                w.text += line[i];
                i++;
            }
        }
        words.push_back(w);
    }
    return true;
}

bool type_word(const Word &w, Atom &a, Fault &f)
{
    a = Atom{Atom::SYMBOL, 0, 0.0f, w.text};
    if (w.quoted)
        return true;
    patcher::t_atom n;
    switch (words::type(w.text, &n)) {
    case words::WORD_OUT_OF_RANGE:
        return f.set(w.column, "integer out of range");
    case words::WORD_LONG:
        a.type = Atom::LONG;
        a.l = n.a_w.w_long;
        a.s.clear();
        break;
    case words::WORD_FLOAT:
        a.type = Atom::FLOAT;
        a.f = n.a_w.w_float;
        a.s.clear();
        break;
    case words::WORD_SYMBOL:
        break;
    }
    return true;
}

bool type_words(const std::vector<Word> &words, size_t from, std::vector<Atom> &atoms, Fault &f)
{
    atoms.clear();
    for (size_t i = from; i < words.size(); i++) {
        Atom a;
        if (!type_word(words[i], a, f))
            return false;
        atoms.push_back(a);
    }
    return true;
}

// An event word that takes exactly `n` words after it.
bool expect_count(const std::vector<Word> &words, size_t n, const char *usage, Fault &f)
{
    if (words.size() < n + 1)
        return f.set(words[0].column, usage);
    if (words.size() > n + 1)
        return f.set(words[n + 1].column, "unexpected word after '" + words[0].text + "'");
    return true;
}

// Reads a long in lo..hi from a word; anything else gets `usage`.
bool read_long(const Word &w, int64_t lo, int64_t hi, const char *usage, int32_t &out, Fault &f)
{
    Atom a;
    if (!type_word(w, a, f))
        return false;
    if (a.type != Atom::LONG || a.l < lo || a.l > hi)
        return f.set(w.column, usage);
    out = a.l;
    return true;
}

bool parse_message(const std::vector<Word> &words, Event &e, Fault &f)
{
    if (!read_long(words[0], 0, 7, "inlet out of range (0 to 7)", e.number, f))
        return false;
    if (words.size() < 2)
        return f.set(words[0].column, "inlet " + words[0].text + " has no message");
    std::vector<Atom> atoms;
    if (!type_words(words, 1, atoms, f))
        return false;
    e.kind = EV_MESSAGE;
    if (atoms[0].type == Atom::SYMBOL) {
        e.text = atoms[0].s;
        e.atoms.assign(atoms.begin() + 1, atoms.end());
    } else if (atoms.size() == 1) {
        e.text = atoms[0].type == Atom::LONG ? "int" : "float";
        e.atoms = atoms;
    } else {
        e.text = "list";
        e.atoms = atoms;
    }
    return true;
}

bool parse_wait(const std::vector<Word> &words, Event &e, Fault &f)
{
    const char *usage = "'wait' needs a time in milliseconds, from 0 to 2147483647";
    if (!expect_count(words, 1, usage, f))
        return false;
    Atom a;
    if (!type_word(words[1], a, f))
        return false;
    double ms;
    if (a.type == Atom::LONG)
        ms = a.l;
    else if (a.type == Atom::FLOAT)
        ms = std::strtod(words[1].text.c_str(), nullptr);
    else
        return f.set(words[1].column, usage);
    if (!(ms >= 0.0 && ms <= (double)MAX_WAIT_MS))
        return f.set(words[1].column, usage);
    e.kind = EV_WAIT;
    e.count = std::llround(ms * (double)headless::TICKS_PER_MS);
    // The scheduler ticks at every whole millisecond before the exact end,
    // also when the end rounds onto the logical clock at or before it.
    e.number = (int32_t)std::ceil(ms);
    return true;
}

bool parse_print(const std::vector<Word> &words, Event &e, Fault &f)
{
    static const char *const items[] = {"nmasses",  "preset", "tick",  "inactive", "display", "disprate",
                                        "autonorm", "raw",    "prof",  "pos",      "pos1",    "pos2",
                                        "freq",     "gain",   "phase", "meta",     "bank",    "bankatoms"};
    const char *usage = "'print' needs one of nmasses, preset, tick, inactive, display, disprate, "
                        "autonorm, raw K, prof K, pos, pos1, pos2, freq, gain, phase, meta K, bank, bankatoms";
    if (words.size() < 2 || words[1].quoted)
        return f.set(words.size() < 2 ? words[0].column : words[1].column, usage);
    bool known = false;
    for (const char *item : items)
        known = known || words[1].text == item;
    if (!known)
        return f.set(words[1].column, usage);
    e.kind = EV_PRINT;
    e.text = words[1].text;
    e.number = 0;
    if (!print_takes_kind(e.text)) {
        if (words.size() > 2)
            return f.set(words[2].column, "unexpected word after 'print " + e.text + "'");
        return true;
    }
    std::string kind_usage = "'print " + e.text + "' needs a profile kind from 1 to 6";
    if (words.size() < 3)
        return f.set(words[1].column, kind_usage);
    if (words.size() > 3)
        return f.set(words[3].column, "unexpected word after 'print " + e.text + " " + words[2].text + "'");
    return read_long(words[2], 1, 6, kind_usage.c_str(), e.number, f);
}

bool parse_assist(const std::vector<Word> &words, Event &e, Fault &f)
{
    const char *usage = "'assist' needs 'in' or 'out' and a number";
    if (!expect_count(words, 2, usage, f))
        return false;
    if (words[1].quoted || (words[1].text != "in" && words[1].text != "out"))
        return f.set(words[1].column, usage);
    e.kind = EV_ASSIST;
    e.text = words[1].text;
    return read_long(words[2], INT32_MIN, INT32_MAX, usage, e.number, f);
}

// One non-blank line into one event.  `object` tells whether an object
// exists at this point of the score; freed_line is where it was freed (0
// when no object was ever made).
bool parse_event(const std::vector<Word> &words, bool object, int freed_line, Event &e, Fault &f)
{
    const std::string &w = words[0].text;
    e.number = 0;
    e.count = 0;
    if (words[0].quoted)
        return f.set(words[0].column, "unknown event '" + w + "'");
    if (w == "new") {
        e.kind = EV_NEW;
        if (!type_words(words, 1, e.atoms, f))
            return false;
        return true;
    }
    if (w == "vs") {
        e.kind = EV_VS;
        const std::string usage = "'vs' needs a vector size from 1 to " + std::to_string(headless::MAX_VECTOR);
        if (!expect_count(words, 1, usage.c_str(), f) ||
            !read_long(words[1], 1, headless::MAX_VECTOR, usage.c_str(), e.number, f))
            return false;
        return true;
    }
    if (w == "seed") {
        e.kind = EV_SEED;
        const char *usage = "'seed' needs an integer";
        if (!expect_count(words, 1, usage, f) || !read_long(words[1], INT32_MIN, INT32_MAX, usage, e.number, f))
            return false;
        return true;
    }
    if (w == "dialog") {
        // Only vs and seed may come before the first object.
        if (freed_line == 0 && !object)
            return f.set(words[0].column, "'dialog' before 'new'");
        if (!expect_count(words, 1, "'dialog' needs a file name or 'cancel'", f))
            return false;
        e.kind = words[1].text == "cancel" && !words[1].quoted ? EV_DIALOG_CANCEL : EV_DIALOG;
        e.text = words[1].text;
        return true;
    }
    if (w == "run" || w == "wait") {
        // Without an object, time still passes (and run writes silence);
        // before the first object there is nothing to run.
        if (freed_line == 0 && !object)
            return f.set(words[0].column, "'" + w + "' before 'new'");
        if (w == "wait")
            return parse_wait(words, e, f);
        e.kind = EV_RUN;
        int32_t n;
        const char *usage = "'run' needs a sample count from 0 to 2147483647";
        if (!expect_count(words, 1, usage, f) || !read_long(words[1], 0, INT32_MAX, usage, n, f))
            return false;
        e.count = n;
        return true;
    }
    if (!object) {
        bool known = w == "free" || w == "assist" || w == "print" || words::classify(w) == words::WORD_LONG;
        if (!known)
            return f.set(words[0].column, "unknown event '" + w + "'");
        if (freed_line == 0)
            return f.set(words[0].column, "'" + w + "' before 'new'");
        return f.set(words[0].column, "no object (freed on line " + std::to_string(freed_line) + ")");
    }
    if (w == "free") {
        e.kind = EV_FREE;
        return expect_count(words, 0, "", f);
    }
    if (w == "assist")
        return parse_assist(words, e, f);
    if (w == "print")
        return parse_print(words, e, f);
    if (words::classify(w) == words::WORD_LONG)
        return parse_message(words, e, f);
    return f.set(words[0].column, "unknown event '" + w + "'");
}

} // namespace

bool print_takes_kind(const std::string &item)
{
    return item == "raw" || item == "prof" || item == "meta";
}

bool parse(const std::string &text, std::vector<Event> &events, ParseError &error)
{
    std::vector<Event> out;
    std::vector<Word> words;
    bool object = false;
    int freed_line = 0;
    size_t start = 0;
    int line = 1;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string s = text.substr(start, end - start);
        // Editors that mark a file as UTF-8 with a byte order mark put it
        // before the first word; it counts as blanks.
        if (line == 1 && s.compare(0, 3, "\xef\xbb\xbf") == 0)
            s.replace(0, 3, "   ");
        Fault f{&error, line};
        if (!check_bytes(s, f) || !split_words(s, words, f))
            return false;
        if (!words.empty()) {
            Event e{};
            e.line = line;
            if (!parse_event(words, object, freed_line, e, f))
                return false;
            if (e.kind == EV_NEW)
                object = true;
            if (e.kind == EV_FREE) {
                object = false;
                freed_line = line;
            }
            out.push_back(e);
        }
        start = end + 1;
        line++;
    }
    events.swap(out);
    return true;
}

} // namespace score
