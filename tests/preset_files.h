// Test support for preset files: files written by hand, the bank an object
// holds after reading one, and the checks that a read resamples as it should
// or refuses a broken file and changes nothing.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bank_state.h"
#include "harness.h"
#include "store.h"
#include "store_text.h"

namespace test::files {

using loopmass::loopmass_view_bank;
using loopmass::loopmass_view_nmasses;
using loopmass::t_loopmass;
using patcher::t_atom;

inline void write_text(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

inline std::vector<std::string> file_atoms(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::vector<t_atom> atoms;
    EXPECT_TRUE(store::parse(ss.str(), atoms)) << path;
    return atom_texts(atoms);
}

// Profile value j of kind p (0 to 5) of preset k in the files made here.
inline float source_value(int k, int p, int j)
{
    return (float)((j * 37 + p * 11 + k * 5) % 101) / 100.0f + 0.001f * (float)p;
}

// The text of a preset file with m values per profile.
inline std::string preset_file(int m, int version, const std::vector<int> &numbers)
{
    std::string t = std::to_string(m) + " " + std::to_string(version) + " " + std::to_string(numbers.size()) + ";\n";
    for (size_t k = 0; k < numbers.size(); k++) {
        t += std::to_string(numbers[k]) + ";\n";
        for (int p = 0; p < 6; p++) {
            for (int j = 0; j < m; j++)
                t += store::float_text(source_value((int)k, p, j)) + (j + 1 < m ? " " : ";\n");
        }
    }
    return t;
}

// The first N values of profile p (0 to 5) of the group at index entry e,
// read at the entry's first cursor.
inline std::vector<float> group_profile(t_loopmass *x, int e, int p)
{
    const loopmass::t_bankview bank = loopmass_view_bank(x);
    const int n = loopmass_view_nmasses(x);
    std::vector<t_atom> a = store::atoms(bank.store);
    size_t at = (size_t)bank.index[e].atoms + 2 + (size_t)p * (size_t)(n + 1);
    std::vector<float> v;
    for (int i = 0; i < n; i++) {
        EXPECT_EQ(a[at + i].a_type, patcher::A_FLOAT);
        v.push_back(a[at + i].a_w.w_float);
    }
    EXPECT_EQ(a[at + n].a_type, patcher::A_SEMI);
    return v;
}

inline void fill_raw(t_loopmass *x, int seed)
{
    for (int k = 0; k < loopmass::NKINDS; k++)
        for (int i = 0; i < loopmass_view_nmasses(x); i++)
            x->x_raw[k][i] = (float)(((seed * 131 + k * 17 + i * 7) % 200) - 100) / 128.0f;
}

inline std::vector<std::string> lines(const std::vector<test::Event> &events)
{
    std::vector<std::string> v;
    for (const test::Event &e : events)
        if (e.channel == "post" || e.channel == "error")
            v.push_back(e.channel + ": " + e.text);
    return v;
}

// A bank with presets 0, 5 and 3 stored and 3 cleared.
inline void store_cleared(test::Harness &h, t_loopmass *x)
{
    fill_raw(x, 1);
    h.send(x, 0, "store", {L(0)});
    fill_raw(x, 2);
    h.send(x, 0, "store", {L(5)});
    fill_raw(x, 3);
    h.send(x, 0, "store", {L(3)});
    h.send(x, 0, "clear", {L(3)});
}

// Reads a file of m masses into an object of n and checks what the console
// says, the bank's layout and that value i of every resampled profile is
// expected(src, i) for the source profile src.
inline void check_resample(int m, int n, const std::function<float(const std::vector<float> &, int)> &expected)
{
    TempDir dir;
    test::Harness h;
    t_loopmass *x = h.create({L(n)});
    write_text(dir / "src.txt", preset_file(m, -5, {7, 1}));
    h.take();
    h.send(x, 0, "read", {S((dir / "src.txt").c_str())});

    EXPECT_EQ(lines(h.take()),
              (std::vector<std::string>{"post: loopmass~: number of masses in the file: " + std::to_string(m),
                                        "post: Data have been resized to " + std::to_string(n) + " masses"}));
    EXPECT_EQ(loopmass_view_bank(x).nmasses, n);
    EXPECT_EQ(loopmass_view_bank(x).version, -5);
    EXPECT_EQ(loopmass_view_bank(x).entries, 2);
    EXPECT_EQ(loopmass_view_bank(x).stored, 2);
    EXPECT_EQ(loopmass_view_bank(x).cleared, 0);
    // A group of n masses: its number and a semicolon, then six lists of n
    // floats each ended by a semicolon (6n + 8 atoms, 4 + 48n bytes),
    // after a header of 4 atoms and 12 bytes.
    struct Layout {
        int n, group_atoms, group_bytes;
    };
    const Layout layouts[] = {{8, 56, 388}, {100, 608, 4804}, {256, 1544, 12292}};
    const Layout *layout = nullptr;
    for (const Layout &l : layouts)
        if (l.n == n)
            layout = &l;
    ASSERT_NE(layout, nullptr) << n << " masses";
    std::vector<std::string> a = store_atoms(loopmass_view_bank(x).store);
    ASSERT_EQ(a.size(), (size_t)(4 + 2 * layout->group_atoms));
    EXPECT_EQ(std::vector<std::string>(a.begin(), a.begin() + 4),
              (std::vector<std::string>{"L" + std::to_string(n), "L-5", "L2", ";"}));
    for (int k = 0; k < 2; k++) {
        EXPECT_EQ(loopmass_view_bank(x).index[k].number, k == 0 ? 7 : 1);
        EXPECT_EQ(loopmass_view_bank(x).index[k].atoms, 4 + k * layout->group_atoms);
        EXPECT_EQ(loopmass_view_bank(x).index[k].bytes, 12 + k * layout->group_bytes);
        for (int p = 0; p < 6; p++) {
            std::vector<float> src;
            for (int j = 0; j < m; j++)
                src.push_back(source_value(k, p, j));
            std::vector<float> out = group_profile(x, k, p);
            for (int i = 0; i < n; i++)
                ASSERT_EQ(test::bits(out[(size_t)i]), test::bits(expected(src, i)))
                    << m << " -> " << n << ", preset " << k << ", profile " << p << ", value " << i;
        }
    }
}

// An object with a bank worth keeping: two live presets, one cleared, a
// superseded group and a version word of its own.
inline t_loopmass *object_with_bank(test::Harness &h, int n)
{
    t_loopmass *x = h.create({L(n)});
    store_cleared(h, x);
    fill_raw(x, 4);
    h.send(x, 0, "store", {L(5)});
    x->x_bank_version = -7;
    h.take();
    return x;
}

// Sends selector with name to an object with a bank and checks the one
// console line and that the bank, its index and counters, the profiles and
// the path stay exactly as they were.
inline void expect_refused(const char *selector, const std::string &name, const std::string &line)
{
    test::Harness h;
    t_loopmass *x = object_with_bank(h, 3);
    BankState before = bank_state(x);
    std::vector<uint32_t> raw = raw_bits(x);
    short vol = x->x_filevol;
    h.send(x, 0, selector, {S(name.c_str())});
    EXPECT_EQ(lines(h.take()), (std::vector<std::string>{"error: loopmass~: " + line + " " + name})) << name;
    EXPECT_EQ(bank_state(x), before) << name;
    EXPECT_EQ(raw_bits(x), raw) << name;
    EXPECT_EQ(x->x_filevol, vol) << name;
}

// Values a raw profile may hold, the extremes of single precision included.
inline float random_value(std::mt19937 &rng)
{
    static const float extremes[] = {0.0f,     -0.0f,        1.0f,          -1.0f,    FLT_MAX,   -FLT_MAX, FLT_MIN,
                                     -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, INFINITY, -INFINITY, 1e-30f,   3e38f};
    if (rng() % 4 == 0)
        return extremes[rng() % (sizeof extremes / sizeof extremes[0])];
    uint32_t u = rng();
    float f;
    std::memcpy(&f, &u, sizeof f);
    return std::isnan(f) ? 0.5f : f;
}

} // namespace test::files
