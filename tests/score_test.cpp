// The score parser and the transcript's text forms.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "harness.h"
#include "score.h"
#include "store_text.h"
#include "transcript.h"

namespace {

using score::Atom;
using score::Event;
using score::ParseError;

std::string atom_desc(const Atom &a)
{
    switch (a.type) {
    case Atom::LONG:
        return "L" + std::to_string(a.l);
    case Atom::FLOAT:
        return "F" + store::float_text(a.f);
    default:
        return "S<" + a.s + ">";
    }
}

// A compact text of an event, so that tables can state what a line gives.
std::string describe(const Event &e)
{
    static const char *const kinds[] = {"new",  "free",   "vs",     "seed",   "msg",  "run",
                                        "wait", "dialog", "cancel", "assist", "print"};
    std::string s = kinds[e.kind];
    switch (e.kind) {
    case score::EV_VS:
    case score::EV_SEED:
        s += " " + std::to_string(e.number);
        break;
    case score::EV_MESSAGE:
        s += " " + std::to_string(e.number) + " " + e.text;
        break;
    case score::EV_RUN:
    case score::EV_WAIT:
        s += " " + std::to_string(e.count);
        break;
    case score::EV_DIALOG:
        s += " <" + e.text + ">";
        break;
    case score::EV_ASSIST:
    case score::EV_PRINT:
        s += " " + e.text + " " + std::to_string(e.number);
        break;
    default:
        break;
    }
    for (const Atom &a : e.atoms)
        s += " " + atom_desc(a);
    return s;
}

std::vector<Event> parse_ok(const std::string &text)
{
    std::vector<Event> events;
    ParseError err{};
    EXPECT_TRUE(score::parse(text, events, err))
        << text << " -> " << err.line << ":" << err.column << ": " << err.message;
    return events;
}

TEST(ScoreAtoms, WordsAreTypedAsTheMessageBoxTypesThem)
{
    struct Case {
        const char *word;
        Atom::Type type;
        int32_t l;
        uint32_t fbits;
        const char *sym;
    };
    const Case cases[] = {
        {"3", Atom::LONG, 3, 0, ""},
        {"-42", Atom::LONG, -42, 0, ""},
        {"+7", Atom::LONG, 7, 0, ""},
        {"007", Atom::LONG, 7, 0, ""},
        {"2147483647", Atom::LONG, INT32_MAX, 0, ""},
        {"-2147483648", Atom::LONG, INT32_MIN, 0, ""},
        {"0.5", Atom::FLOAT, 0, test::bits(0.5f), ""},
        {"2.", Atom::FLOAT, 0, test::bits(2.0f), ""},
        {".25", Atom::FLOAT, 0, test::bits(0.25f), ""},
        {"-1e-3", Atom::FLOAT, 0, test::bits((float)-1e-3), ""},
        {"0.1", Atom::FLOAT, 0, test::bits((float)0.1), ""},
        {"1E+2", Atom::FLOAT, 0, test::bits(100.0f), ""},
        {"5e0", Atom::FLOAT, 0, test::bits(5.0f), ""},
        {"-0.0", Atom::FLOAT, 0, 0x80000000u, ""},
        {"1e-60", Atom::FLOAT, 0, 0, ""},
        {"1e39", Atom::FLOAT, 0, test::bits(INFINITY), ""},
        {"-1e400", Atom::FLOAT, 0, test::bits(-INFINITY), ""},
        // Just below and just above the point where rounding goes to
        // infinity (the largest float plus half its ulp).
        {"3.40282356e38", Atom::FLOAT, 0, test::bits(FLT_MAX), ""},
        {"3.40282357e38", Atom::FLOAT, 0, test::bits(INFINITY), ""},
        {"inf", Atom::SYMBOL, 0, 0, "inf"},
        {"nan", Atom::SYMBOL, 0, 0, "nan"},
        {"-", Atom::SYMBOL, 0, 0, "-"},
        {".", Atom::SYMBOL, 0, 0, "."},
        {"1e", Atom::SYMBOL, 0, 0, "1e"},
        {"e5", Atom::SYMBOL, 0, 0, "e5"},
        {"1.2.3", Atom::SYMBOL, 0, 0, "1.2.3"},
        {"0x10", Atom::SYMBOL, 0, 0, "0x10"},
        {"3a", Atom::SYMBOL, 0, 0, "3a"},
        {"bang", Atom::SYMBOL, 0, 0, "bang"},
        {"\"3\"", Atom::SYMBOL, 0, 0, "3"},
        {"\"a b\"", Atom::SYMBOL, 0, 0, "a b"},
        {"\"\"", Atom::SYMBOL, 0, 0, ""},
        {"\"say \\\"hi\\\"\"", Atom::SYMBOL, 0, 0, "say \"hi\""},
        {"\"c:\\\\x\"", Atom::SYMBOL, 0, 0, "c:\\x"},
        {"\"# not a comment\"", Atom::SYMBOL, 0, 0, "# not a comment"},
        {"\xc3\xa9t\xc3\xa9", Atom::SYMBOL, 0, 0, "\xc3\xa9t\xc3\xa9"},
    };
    for (const Case &c : cases) {
        std::vector<Event> ev = parse_ok(std::string("new ") + c.word);
        ASSERT_EQ(ev.size(), 1u) << c.word;
        ASSERT_EQ(ev[0].atoms.size(), 1u) << c.word;
        const Atom &a = ev[0].atoms[0];
        ASSERT_EQ(a.type, c.type) << c.word;
        if (c.type == Atom::LONG)
            EXPECT_EQ(a.l, c.l) << c.word;
        else if (c.type == Atom::FLOAT)
            EXPECT_EQ(test::bits(a.f), c.fbits) << c.word;
        else
            EXPECT_EQ(a.s, c.sym) << c.word;
    }
}

TEST(ScoreLines, BlanksCommentsAndLineNumbers)
{
    struct Case {
        const char *text;
        std::vector<std::string> events; // describe() of each
        std::vector<int> lines;
    };
    const std::vector<Case> cases = {
        {"", {}, {}},
        {"\n\n   \n\t\r\n", {}, {}},
        {"# a whole comment\nnew", {"new"}, {2}},
        {"new 1 2 # trailing comment 3", {"new L1 L2"}, {1}},
        {"new a#b c", {"new S<a>"}, {1}},
        {"new\t1\r\n\r\nnew  \t 2\r", {"new L1", "new L2"}, {1, 3}},
        {"new \"x # y\" z", {"new S<x # y> S<z>"}, {1}},
        {"new \"q\"# comment", {"new S<q>"}, {1}},
        {"new 1", {"new L1"}, {1}},
        {"\n\nnew 1\n", {"new L1"}, {3}},
        {"\xef\xbb\xbfnew 1\n", {"new L1"}, {1}},
    };
    for (const Case &c : cases) {
        std::vector<Event> ev = parse_ok(c.text);
        ASSERT_EQ(ev.size(), c.events.size()) << c.text;
        for (size_t i = 0; i < ev.size(); i++) {
            EXPECT_EQ(describe(ev[i]), c.events[i]) << c.text;
            EXPECT_EQ(ev[i].line, c.lines[i]) << c.text;
        }
    }
}

TEST(ScoreEvents, EveryEventForm)
{
    struct Case {
        const char *line; // follows a "new" line
        const char *event;
    };
    const Case cases[] = {
        {"new", "new"},
        {"new 64 presets.txt 1.5", "new L64 S<presets.txt> F1.5"},
        {"free", "free"},
        {"vs 1", "vs 1"},
        {"vs 2048", "vs 2048"},
        {"seed -2147483648", "seed -2147483648"},
        {"seed 7", "seed 7"},
        {"0 3", "msg 0 int L3"},
        {"3 0.5", "msg 3 float F0.5"},
        {"7 220 330", "msg 7 list L220 L330"},
        {"7 220.5 abc", "msg 7 list F220.5 S<abc>"},
        {"0 bang", "msg 0 bang"},
        {"2 gain 2", "msg 2 gain L2"},
        {"1 all 1 0 0.5 2", "msg 1 all L1 L0 F0.5 L2"},
        {"0 clear all", "msg 0 clear S<all>"},
        {"6 list 0.25 0.75", "msg 6 list F0.25 F0.75"},
        {"6 list", "msg 6 list"},
        {"0 int 3", "msg 0 int L3"},
        {"0 float 3", "msg 0 float L3"},
        {"0 \"3\"", "msg 0 3"},
        {"0 read \"my presets.txt\"", "msg 0 read S<my presets.txt>"},
        {"run 0", "run 0"},
        {"run 441000", "run 441000"},
        {"run 2147483647", "run 2147483647"},
        {"wait 0", "wait 0"},
        {"wait 1", "wait 441"},
        {"wait 120", "wait 52920"},
        {"wait 2.5", "wait 1103"},
        {"wait 0.001", "wait 0"},
        {"wait 1e3", "wait 441000"},
        {"wait 2147483647", "wait 947040288327"},
        {"dialog presets.txt", "dialog <presets.txt>"},
        {"dialog \"a b.txt\"", "dialog <a b.txt>"},
        {"dialog 42", "dialog <42>"},
        {"dialog cancel", "cancel"},
        {"dialog \"cancel\"", "dialog <cancel>"},
        {"assist in 0", "assist in 0"},
        {"assist out 2", "assist out 2"},
        {"assist in -1", "assist in -1"},
        {"print nmasses", "print nmasses 0"},
        {"print disprate", "print disprate 0"},
        {"print raw 3", "print raw 3"},
        {"print prof 6", "print prof 6"},
        {"print meta 1", "print meta 1"},
        {"print pos2", "print pos2 0"},
        {"print bankatoms", "print bankatoms 0"},
    };
    for (const Case &c : cases) {
        std::vector<Event> ev = parse_ok(std::string("new\n") + c.line);
        ASSERT_EQ(ev.size(), 2u) << c.line;
        EXPECT_EQ(describe(ev[1]), c.event) << c.line;
        EXPECT_EQ(ev[1].line, 2) << c.line;
    }
}

TEST(ScoreEvents, OnlySetupLinesBeforeTheObjectAndOnlyTimeWithoutIt)
{
    std::vector<Event> ev =
        parse_ok("vs 32\nseed 5\nnew\n"
                 "free\nrun 10\nwait 5\ndialog a.txt\ndialog cancel\nvs 16\nseed 1\nnew 8\n0 bang\n");
    std::vector<std::string> got;
    for (const Event &e : ev)
        got.push_back(describe(e));
    std::vector<std::string> want = {"vs 32",          "seed 5", "new",   "free",   "run 10", "wait 2205",
                                     "dialog <a.txt>", "cancel", "vs 16", "seed 1", "new L8", "msg 0 bang"};
    EXPECT_EQ(got, want);
}

TEST(ScoreErrors, EachFaultNamesItsLineAndColumn)
{
    struct Case {
        std::string text;
        int line;
        int column;
        const char *message; // a part of the message
    };
    const std::vector<Case> cases = {
        // Order of events.
        {"0 bang", 1, 1, "before 'new'"},
        {"# header\n\n  print pos", 3, 3, "before 'new'"},
        {"run 64", 1, 1, "before 'new'"},
        {"wait 10", 1, 1, "before 'new'"},
        {"free", 1, 1, "before 'new'"},
        {"assist in 0", 1, 1, "before 'new'"},
        {"dialog a.txt\nnew", 1, 1, "before 'new'"},
        {"vs 64\ndialog cancel\nnew", 2, 1, "before 'new'"},
        {"new\nfree\n0 bang", 3, 1, "no object (freed on line 2)"},
        {"new\nfree\nprint pos", 3, 1, "no object"},
        {"new\nfree\nassist in 0", 3, 1, "no object"},
        {"new\nfree\nfree", 3, 1, "no object"},
        // Event words and inlets.
        {"new\nbang", 2, 1, "unknown event 'bang'"},
        {"hello", 1, 1, "unknown event 'hello'"},
        {"new\n\"0\" bang", 2, 1, "unknown event '0'"},
        {"new\n1.5 bang", 2, 1, "unknown event '1.5'"},
        {"new\n8 bang", 2, 1, "inlet out of range"},
        {"new\n-1 bang", 2, 1, "inlet out of range"},
        {"new\n 3 ", 2, 2, "inlet 3 has no message"},
        {"new\n3 # comment", 2, 1, "has no message"},
        {"new\n99999999999 bang", 2, 1, "integer out of range"},
        // Arguments.
        {"new\nfree now", 2, 6, "unexpected word after 'free'"},
        {"vs", 1, 1, "'vs' needs"},
        {"vs 0", 1, 4, "1 to 2048"},
        {"vs 2049", 1, 4, "1 to 2048"},
        {"vs 64.0", 1, 4, "1 to 2048"},
        {"vs 64 32", 1, 7, "unexpected word"},
        {"seed", 1, 1, "'seed' needs an integer"},
        {"seed 1.0", 1, 6, "'seed' needs an integer"},
        {"seed now", 1, 6, "'seed' needs an integer"},
        {"seed 2147483648", 1, 6, "integer out of range"},
        {"new\nrun", 2, 1, "'run' needs"},
        {"new\nrun -1", 2, 5, "'run' needs"},
        {"new\nrun 1.5", 2, 5, "'run' needs"},
        {"new\nrun ten", 2, 5, "'run' needs"},
        {"new\nrun 1 2", 2, 7, "unexpected word"},
        {"new\nwait", 2, 1, "'wait' needs"},
        {"new\nwait -1", 2, 6, "'wait' needs"},
        {"new\nwait -0.5", 2, 6, "'wait' needs"},
        {"new\nwait soon", 2, 6, "'wait' needs"},
        {"new\nwait 1e10", 2, 6, "'wait' needs"},
        {"new\nwait 1e999", 2, 6, "'wait' needs"},
        {"new\ndialog", 2, 1, "'dialog' needs"},
        {"new\ndialog a b", 2, 10, "unexpected word"},
        {"new\nassist", 2, 1, "'assist' needs"},
        {"new\nassist up 1", 2, 8, "'assist' needs"},
        {"new\nassist in x", 2, 11, "'assist' needs"},
        {"new\nassist in 1 2", 2, 13, "unexpected word"},
        {"new\nprint", 2, 1, "'print' needs"},
        {"new\nprint everything", 2, 7, "'print' needs"},
        {"new\nprint \"pos\"", 2, 7, "'print' needs"},
        {"new\nprint raw", 2, 7, "'print raw' needs a profile kind"},
        {"new\nprint raw 0", 2, 11, "'print raw' needs a profile kind"},
        {"new\nprint meta 7", 2, 12, "'print meta' needs a profile kind"},
        {"new\nprint prof 1.0", 2, 12, "'print prof' needs a profile kind"},
        {"new\nprint pos 1", 2, 11, "unexpected word after 'print pos'"},
        {"new\nprint raw 1 2", 2, 13, "unexpected word after 'print raw 1'"},
        // Numbers that do not fit.
        {"new 2147483648", 1, 5, "integer out of range"},
        {"new -2147483649", 1, 5, "integer out of range"},
        {"new 1 " + std::string(400, '9'), 1, 7, "integer out of range"},
        // Quotes.
        {"new \"abc", 1, 5, "unterminated quote"},
        {"new \"", 1, 5, "unterminated quote"},
        {"new \"abc\\\"", 1, 5, "unterminated quote"},
        {"new \"a\\nb\"", 1, 7, "unknown escape"},
        {"new \"a\\", 1, 7, "unknown escape"},
        {"new a\"b\"", 1, 6, "quote inside a word"},
        {"new \"a\"b", 1, 8, "closing quote must end the word"},
        // Bytes that are not text.
        {std::string("new 1\n0 ba\0ng", 13), 2, 5, "NUL byte"},
        {std::string("# \0 in a comment", 16), 1, 3, "NUL byte"},
        {"new \x07", 1, 5, "control character 0x07"},
        {"new \x7f", 1, 5, "control character 0x7f"},
        {"new \xff", 1, 5, "invalid UTF-8"},
        {"new a\xc3", 1, 6, "invalid UTF-8"},
        {"new \xc0\xaf", 1, 5, "invalid UTF-8"},
        {"new \xed\xa0\x80", 1, 5, "invalid UTF-8"},
        {"new \xf4\x90\x80\x80", 1, 5, "invalid UTF-8"},
        {"new\r\nfoo\r\n", 2, 1, "unknown event"},
        {"\xef\xbb\xbf foo", 1, 5, "unknown event 'foo'"},
        {"new\n\xef\xbb\xbf"
         "0 bang",
         2, 1, "unknown event"},
    };
    for (const Case &c : cases) {
        std::vector<Event> events;
        ParseError err{};
        EXPECT_FALSE(score::parse(c.text, events, err)) << c.text;
        EXPECT_EQ(err.line, c.line) << c.text;
        EXPECT_EQ(err.column, c.column) << c.text;
        EXPECT_NE(err.message.find(c.message), std::string::npos) << c.text << " -> " << err.message;
        EXPECT_TRUE(events.empty()) << c.text;
    }
}

TEST(ScoreLines, VeryLongLinesAreFine)
{
    std::string text = "new";
    for (int i = 0; i < 100000; i++)
        text += " " + std::to_string(i);
    text += "\n0 \"" + std::string(200000, 'x') + "\"";
    std::vector<Event> ev = parse_ok(text);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].atoms.size(), 100000u);
    EXPECT_EQ(ev[0].atoms[99999].l, 99999);
    EXPECT_EQ(ev[1].text.size(), 200000u);
}

TEST(Transcript, TimesHaveThreeDecimalsRoundedToTheNearestThousandth)
{
    const std::pair<int64_t, const char *> cases[] = {
        {0, "0.000"},
        {640, "1.451"},  // one vector of 64 samples
        {441, "1.000"},  // one millisecond
        {220, "0.499"},  // 0.49887...
        {221, "0.501"},  // 0.50113...
        {1920, "4.354"}, // 4.35374...
        {44100, "100.000"},
        {441000 * 3600LL, "3600000.000"},
        {947040288327LL, "2147483647.000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(score::time_text(c.first), c.second) << c.first;
}

TEST(Transcript, DoublesAndAtomsReadBack)
{
    const std::pair<double, const char *> doubles[] = {
        {100.0, "100.0"},
        {50.0, "50.0"},
        {0.1, "0.1"},
        {2.7, "2.7"},
        {1e300, "1e+300"},
        {2.5e-7, "2.5e-07"},
        {-0.0, "-0.0"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
        {NAN, "nan"},
        // Not a float: all 17 digits are needed.
        {0.1 + 0.2, "0.30000000000000004"},
    };
    for (const auto &c : doubles)
        EXPECT_EQ(score::double_text(c.first), c.second) << c.second;

    const std::pair<float, const char *> floats[] = {
        {1.0f, "1.0"},
        {0.1f, "0.1"},
        {2.5e-7f, "2.5e-07"},
        {-0.0f, "-0.0"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
        // Every NaN is written the one way, whatever its sign bit.
        {std::nanf(""), "nan"},
        {-std::nanf(""), "nan"},
    };
    for (const auto &c : floats) {
        EXPECT_EQ(score::float_text(c.first), c.second) << c.second;
        EXPECT_EQ(score::atom_text(test::F(c.first)), c.second) << c.second;
    }

    patcher::t_atom semi;
    semi.a_type = patcher::A_SEMI;
    const patcher::t_atom atoms[] = {test::L(-3), test::F(1.0f), test::F(0.1f), test::S("all"), semi};
    EXPECT_EQ(score::atoms_text(5, atoms), "-3 1.0 0.1 all ;");
    EXPECT_EQ(score::atoms_text(0, atoms), "");
}

} // namespace
