// The message store: cursor units, the text form and its round trip, and
// files that are refused or written safely.

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "store.h"
#include "store_files.h"
#include "store_text.h"

using namespace patcher;
using test::bits;
using test::from_bits;
using test::F;
using test::L;
using test::S;

namespace {

t_atom SEMI()
{
    t_atom a;
    std::memset(&a, 0, sizeof a);
    a.a_type = A_SEMI;
    return a;
}

// Type and value bits of an atom, for exact comparisons.
std::string describe(const t_atom &a)
{
    switch (a.a_type) {
    case A_LONG:
        return "L" + std::to_string(a.a_w.w_long);
    case A_FLOAT:
        return "F" + std::to_string(bits(a.a_w.w_float));
    case A_SYM:
        return "S[" + std::string(a.a_w.w_sym->s_name) + "]";
    case A_SEMI:
        return ";";
    default:
        return "?" + std::to_string(a.a_type);
    }
}

std::vector<std::string> describe(const std::vector<t_atom> &atoms)
{
    std::vector<std::string> v;
    for (const t_atom &a : atoms)
        v.push_back(describe(a));
    return v;
}

t_binbuf *store_of(const std::vector<t_atom> &atoms)
{
    t_binbuf *b = binbuf_new();
    std::vector<t_atom> copy = atoms;
    binbuf_insert(b, nullptr, (short)copy.size(), copy.data());
    return b;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

TEST(Store, GetatomAdvancesCursorsInAtomsAndValueBytes)
{
    t_binbuf *b = binbuf_new();
    binbuf_vinsert(b, "lll", 8L, -2L, 0L);
    binbuf_vinsert(b, "fsl", 0.25, gensym("x"), LONG_MAX); // beyond 32 bits where long has 64
    t_atom args[2] = {F(1.5f), L(7)};
    binbuf_insert(b, gensym("sel"), 2, args);
    binbuf_insert(b, nullptr, 0, nullptr);

    struct Step {
        const char *atom;
        long p1, p2;
    };
    const std::vector<Step> steps = {
        {"L8", 1, 4},    {"L-2", 2, 8},          {"L0", 3, 12}, {";", 4, 12},      {"F1048576000", 5, 20},
        {"S[x]", 6, 24}, {"L2147483647", 7, 28}, {";", 8, 28},  {"S[sel]", 9, 32}, {"F1069547520", 10, 40},
        {"L7", 11, 44},  {";", 12, 44},          {";", 13, 44},
    };
    long p1 = 0, p2 = 0;
    for (const Step &s : steps) {
        t_atom a;
        ASSERT_EQ(binbuf_getatom(b, &p1, &p2, &a), 0);
        EXPECT_EQ(describe(a), s.atom);
        EXPECT_EQ(p1, s.p1);
        EXPECT_EQ(p2, s.p2);
    }
    // Past the end, before the start, or with the byte cursor at its limit:
    // nothing is read and nothing moves.
    const std::vector<std::array<long, 2>> outside = {{13, 44}, {1000, 0}, {-1, 0}, {LONG_MIN, 0}, {4, LONG_MAX}};
    for (const std::array<long, 2> &c : outside) {
        long q1 = c[0], q2 = c[1];
        t_atom a = L(99);
        EXPECT_EQ(binbuf_getatom(b, &q1, &q2, &a), 1);
        EXPECT_EQ(q1, c[0]);
        EXPECT_EQ(q2, c[1]);
        EXPECT_EQ(describe(a), "L99");
    }
    freeobject(b);
}

TEST(Store, FloatTextIsShortestAndAlwaysAFloat)
{
    const std::vector<std::pair<float, const char *>> cases = {
        {1.0f, "1.0"},
        {0.1f, "0.1"},
        {2.5e-07f, "2.5e-07"},
        {-0.0f, "-0.0"},
        {1e10f, "1e+10"},
        {16777216.0f, "16777216.0"},
        {from_bits(1), "1e-45"},
        {FLT_MAX, "3.4028235e+38"},
        {0.15857865f, "0.15857865"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
        {std::nanf(""), "nan"},
        {-std::nanf(""), "-nan"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(store::float_text(c.first), c.second) << bits(c.first);
}

TEST(Store, TextRoundTripsEveryAtomBitForBit)
{
    std::vector<t_atom> atoms = {
        L(0),
        L(-1),
        L(INT32_MAX),
        L(INT32_MIN),
        SEMI(),
        F(0.0f),
        F(-0.0f),
        F(from_bits(1)),
        F(from_bits(0x807fffff)),
        F(FLT_MIN),
        F(FLT_MAX),
        F(-FLT_MAX),
        F(INFINITY),
        F(-INFINITY),
        F(std::nanf("")),
        F(-std::nanf("")),
        F(0.1f),
        F(1e10f),
        F(1.0f / 3.0f),
        F(16777217.0f),
        SEMI(),
        SEMI(),
        S("plain"),
        S("a b"),
        S("say \"hi\""),
        S("back\\slash"),
        S(";"),
        S("x;y"),
        S(""),
        S("12"),
        S("-3"),
        S("+5"),
        S("1.5"),
        S("2."),
        S(".5"),
        S("1e5"),
        S("inf"),
        S("-nan"),
        S("tab\there"),
        S("line\nbreak"),
        S("cr\r"),
        S("ctl\x01\x7f"),
        S("#"),
        S("é"),
        S("-"),
        S("."),
        S("1e"),
        S("+inf"),
        SEMI(),
    };
    t_binbuf *b = store_of(atoms);
    std::vector<t_atom> back;
    ASSERT_TRUE(store::parse(store::text(b), back));
    // The store ends with the message end that insert adds.
    atoms.push_back(SEMI());
    EXPECT_EQ(describe(back), describe(atoms));

    // One message per line; the line holds only text characters.
    std::string text = store::text(b);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
    for (unsigned char c : text)
        EXPECT_TRUE(c >= 0x20 || c == '\n') << int(c);
    freeobject(b);

    t_binbuf *small = store_of({L(1), F(0.5f), S("a b"), SEMI(), S("x")});
    EXPECT_EQ(store::text(small), "1 0.5 \"a b\";\nx;\n");
    freeobject(small);
}

TEST(Store, ParseReadsWordsByTheirShape)
{
    const std::vector<std::pair<const char *, std::vector<std::string>>> cases = {
        {"1 2;", {"L1", "L2", ";"}},
        {"0.5;", {"F1056964608", ";"}},
        {"  2.\t.5\r\n-1e-3 1E2;;", {"F1073741824", "F1056964608", describe(F(-1e-3f)), "F1120403456", ";", ";"}},
        {"+3 -0 007", {"L3", "L0", "L7"}},
        {"-2147483648 2147483647", {"L-2147483648", "L2147483647"}},
        {"inf -inf nan -nan", {"F2139095040", "F4286578688", "F2143289344", "F4290772992"}},
        {"1e39 -1e400 1e-50", {"F2139095040", "F4286578688", "F0"}},
        {"- . 1e 1.2.3 e5 +inf 0x10 a\\b",
         {"S[-]", "S[.]", "S[1e]", "S[1.2.3]", "S[e5]", "S[+inf]", "S[0x10]", "S[a\\b]"}},
        {"\"a b\";\"\" \"\\x41\\t\"", {"S[a b]", ";", "S[]", "S[A\t]"}},
        {"", {}},
    };
    for (const auto &c : cases) {
        std::vector<t_atom> out;
        ASSERT_TRUE(store::parse(c.first, out)) << c.first;
        EXPECT_EQ(describe(out), c.second) << c.first;
    }
}

TEST(Store, ParseRefusesMalformedTextAndLeavesTheOutputAlone)
{
    const std::vector<std::string> cases = {
        "2147483648",
        "-2147483649",
        "99999999999999999999;",
        "1 \"abc",
        "\"a\\q\"",
        "\"a\\x00\"",
        "ab\"c\"",
        "\"a\"b",
        std::string("1 a\0b;", 6),
        std::string("\"a\0\"", 4),
        "\"ends in escape\\",
    };
    for (const std::string &text : cases) {
        std::vector<t_atom> out = {L(42)};
        EXPECT_FALSE(store::parse(text, out)) << text;
        EXPECT_EQ(describe(out), std::vector<std::string>{"L42"}) << text;
    }
}

class StoreFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/store_test.XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0); }
    // Names in the folder, to see that no temporary file is left behind.
    std::vector<std::string> listing(const std::string &d)
    {
        // Not readdir: a 32-bit one under qemu on a 64-bit kernel refuses
        // the 64-bit offsets ext4 gives there, and lists nothing.
        std::vector<std::string> names;
        std::error_code error;
        for (const std::filesystem::directory_entry &e : std::filesystem::directory_iterator(d, error))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string dir;
};

TEST_F(StoreFiles, ReadRefusesWhatIsNotAStoreAndKeepsTheOldContent)
{
    mkdir((dir + "/folder").c_str(), 0755);
    spit(dir + "/nul.txt", std::string("1 2;\n3\0;\n", 9));
    spit(dir + "/ctl.txt", "1 2;\n3\x01;\n");
    spit(dir + "/overflow.txt", "1 2;\n4294967296;\n");
    spit(dir + "/quote.txt", "1 \"open;\n");
    // A sparse file just over the limit: refused before it is read.
    int fd = open((dir + "/huge.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (64 << 20) + 1), 0);
    close(fd);
    mkfifo((dir + "/fifo.txt").c_str(), 0644);

    t_binbuf *b = store_of({L(8), L(-2), L(0)});
    const std::string before = store::text(b);
    for (const char *name :
         {"missing.txt", "folder", "nul.txt", "ctl.txt", "overflow.txt", "quote.txt", "huge.txt", "fifo.txt"}) {
        EXPECT_EQ(store::read_file(b, dir + "/" + name), 1) << name;
        EXPECT_EQ(store::text(b), before) << name;
    }

    spit(dir + "/good.txt", "3 -2 1;\r\n0;\r\n\t0.5 0.25 1.0;\r\n");
    EXPECT_EQ(store::read_file(b, dir + "/good.txt"), 0);
    EXPECT_EQ(store::text(b), "3 -2 1;\n0;\n0.5 0.25 1.0;\n");
    freeobject(b);
}

TEST_F(StoreFiles, WriteReplacesTheFileWholeOrNotAtAll)
{
    std::vector<t_atom> atoms;
    for (int i = 0; i < 200; i++)
        atoms.push_back(F(from_bits(0x3f800000u + 7919u * (uint32_t)i)));
    atoms.push_back(SEMI());
    t_binbuf *b = store_of(atoms);
    const std::string path = dir + "/bank.txt";

    spit(path, "old;\n");
    chmod(path.c_str(), 0640);
    ASSERT_EQ(store::write_file(b, path), 0);
    EXPECT_EQ(slurp(path), store::text(b));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // the old file's mode is kept
    t_binbuf *r = binbuf_new();
    ASSERT_EQ(store::read_file(r, path), 0);
    EXPECT_EQ(describe(store::atoms(r)), describe(store::atoms(b)));

    // Failures: no such folder, a folder where the file should be, and a
    // write cut short by the file size limit.  The old file stays whole
    // and no temporary file is left.
    spit(path, "old;\n");
    mkdir((dir + "/taken").c_str(), 0755);
    EXPECT_EQ(store::write_file(b, dir + "/nowhere/bank.txt"), 1);
    EXPECT_EQ(store::write_file(b, dir + "/taken"), 1);
    EXPECT_EQ(store::write_file(b, dir + "/"), 1);

    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 64;
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    short r_limited = store::write_file(b, path);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(r_limited, 1);

    EXPECT_EQ(slurp(path), "old;\n");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"bank.txt", "taken"}));
    EXPECT_TRUE(listing(dir + "/taken").empty());
    freeobject(b);
    freeobject(r);
}

} // namespace
