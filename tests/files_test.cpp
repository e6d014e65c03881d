// Preset files: what write puts in a file, how read rebuilds (and
// resamples) the bank, and that no broken file changes the bank at all.
//
// Reaches into the record only to set up raw profiles and a foreign bank
// version, and to read the folder a file was found in (x_filevol), which
// no message shows.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bank_state.h"
#include "extended.h"
#include "harness.h"
#include "store.h"
#include "preset_files.h"
#include "store_text.h"

namespace {

using loopmass::loopmass_view_bank;
using loopmass::loopmass_view_nmasses;
using loopmass::loopmass_view_raw;
using loopmass::ext_add;
using loopmass::ext_blend_soft;
using loopmass::ext_float;
using loopmass::ext_mul;
using loopmass::ext_of;
using loopmass::t_block;
using loopmass::t_ext;
using loopmass::t_loopmass;
using patcher::t_atom;
using test::atom_texts;
using test::bank_state;
using test::BankState;
using test::F;
using test::float_atom;
using test::L;
using test::raw_bits;
using test::recalled;
using test::S;
using test::store_atoms;
using test::TempDir;

using namespace test::files;

namespace fs = std::filesystem;

TEST(Files, WritingKeepsOnlyLivePresetsAndReadsThemBack)
{
    struct Case {
        const char *what;
        std::function<void(test::Harness &, t_loopmass *)> fill;
        std::vector<std::vector<int32_t>> index; // after reading back
        size_t atoms;                            // in the file: 4 for the header, 392 per group of 64 masses
    };
    const Case cases[] = {
        {"0 and 5 stored, 3 stored then cleared", store_cleared, {{0, 4, 12}, {5, 396, 3088}}, 788},
        {"2 stored three times",
         [](test::Harness &h, t_loopmass *x) {
             for (int s = 0; s < 3; s++) {
                 fill_raw(x, s + 10);
                 h.send(x, 0, "store", {L(2)});
             }
         },
         {{2, 4, 12}},
         396},
        {"empty bank", [](test::Harness &, t_loopmass *) {}, {}, 4},
    };
    for (const Case &c : cases) {
        TempDir dir;
        test::Harness h;
        t_loopmass *x = h.create({L(64)});
        c.fill(h, x);
        std::vector<std::vector<uint32_t>> before;
        for (const std::vector<int32_t> &e : c.index)
            before.push_back(recalled(x, e[0]));
        h.take();
        h.send(x, 0, "write", {S((dir / "bank.txt").c_str())});
        EXPECT_TRUE(lines(h.take()).empty()) << c.what;

        // The file holds the header and each live preset once; read back,
        // the bank is exactly the file and each preset recalls as before.
        std::vector<std::string> file = file_atoms(dir / "bank.txt");
        ASSERT_EQ(file.size(), c.atoms) << c.what;
        EXPECT_EQ(std::vector<std::string>(file.begin(), file.begin() + 4),
                  (std::vector<std::string>{"L64", "L-2", "L" + std::to_string(c.index.size()), ";"}))
            << c.what;
        BankState s = bank_state(x);
        EXPECT_EQ(s.atoms, file) << c.what;
        EXPECT_EQ(s.index, c.index) << c.what;
        EXPECT_EQ(s.nstored, (int32_t)c.index.size()) << c.what;
        EXPECT_EQ(s.ncleared, 0) << c.what;
        for (size_t k = 0; k < c.index.size(); k++)
            EXPECT_EQ(recalled(x, c.index[k][0]), before[k]) << c.what << ", preset " << c.index[k][0];
    }
}

TEST(Files, AFileOfOtherMassesIsResampledAroundTheRing)
{
    // Twice as many: the source values, and midpoints between them; the
    // last one halfway back to the first.
    check_resample(128, 256, [](const std::vector<float> &src, int i) {
        int j = i / 2;
        if (i % 2 == 0)
            return src[(size_t)j];
        const t_ext sum = ext_add(ext_of(src[(size_t)j]), ext_of(src[(size_t)(j + 1) % 128]));
        return ext_float(ext_mul(sum, ext_of(0.5)));
    });

    // 3 to 8: r = 3/8; position, fraction and the value blended toward.
    struct Step {
        int f;
        double frac;
        int to;
    };
    const Step steps[8] = {{0, 0, 1},   {0, 0.375, 1}, {0, 0.75, 1}, {1, 0.125, 2},
                           {1, 0.5, 2}, {1, 0.875, 2}, {2, 0.25, 0}, {2, 0.625, 0}};
    check_resample(3, 8, [&](const std::vector<float> &src, int i) {
        const Step &s = steps[i];
        return ext_blend_soft(src[(size_t)s.f], src[(size_t)s.to], s.frac);
    });

    // Fewer: r = 2.56 rounded to single precision; the last value blends
    // the source's 254th toward its first, not toward its 255th.
    const double r = 2.56f;
    check_resample(256, 100, [&](const std::vector<float> &src, int i) {
        double p = i * r;
        int f = (int)std::floor(p);
        int to = i == 99 ? 0 : f + 1;
        if (i == 99) {
            EXPECT_EQ(f, 253);
            EXPECT_NEAR(p - f, 0.44, 0.01);
        }
        return ext_blend_soft(src[(size_t)f], src[(size_t)to], p - f);
    });

    // Neighbours of very different size: rounding the blend through a
    // double first would give 3.570231e-06 here instead of 3.5702312e-06.
    TempDir dir;
    test::Harness h;
    t_loopmass *x = h.create({L(145)});
    std::string text = "5 -2 1;\n0;\n";
    for (int p = 0; p < 6; p++)
        text += "1288.47314453125 -1.2297053899601451e-06 0.0 0.0 0.0;\n";
    write_text(dir / "wide.txt", text);
    h.send(x, 0, "read", {S((dir / "wide.txt").c_str())});
    EXPECT_EQ(test::bits(group_profile(x, 0, 0)[29]), test::bits(3.5702312e-06f));
}

TEST(Files, TheVersionWordIsKeptAndANewerOneIsReported)
{
    struct Case {
        int version;
        bool reported;
    };
    const Case cases[] = {{-1, true}, {0, true}, {2147483647, true}, {-2, false}, {-3, false}, {-2147483647, false}};
    for (const Case &c : cases) {
        TempDir dir;
        test::Harness h;
        t_loopmass *x = h.create({L(4)});
        write_text(dir / "v.txt", preset_file(4, c.version, {3}));
        h.take();
        h.send(x, 0, "read", {S((dir / "v.txt").c_str())});
        std::vector<std::string> expected;
        if (c.reported)
            expected.push_back("post: loopmass~: this file is from a more recent version of the object");
        EXPECT_EQ(lines(h.take()), expected) << c.version;
        EXPECT_EQ(loopmass_view_bank(x).version, c.version);
        EXPECT_EQ(recalled(x, 3).size(), 24u) << "the preset is there";

        h.send(x, 0, "write", {S((dir / "again.txt").c_str())});
        EXPECT_EQ(file_atoms(dir / "again.txt")[1], "L" + std::to_string(c.version));
    }
}

TEST(Files, LongsInProfilesAreTakenAsFloats)
{
    TempDir dir;
    test::Harness h;
    t_loopmass *x = h.create({L(3)});
    write_text(dir / "longs.txt", "3 -2 1;\n9;\n1 2 3;\n0 0.5 1;\n-1 0 1;\n4 5 6;\n0 1 0;\n1 1 0.25;\n");
    h.send(x, 0, "read", {S((dir / "longs.txt").c_str())});
    EXPECT_EQ(store_atoms(loopmass_view_bank(x).store)[6], float_atom(1.0f));
    EXPECT_EQ(group_profile(x, 0, 0), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(group_profile(x, 0, 5), (std::vector<float>{1, 1, 0.25f}));
    t_block b;
    ASSERT_EQ(loopmass::loopmass_recall(x, b, 9), 0);
    EXPECT_EQ(b[5][0], 1.0f);
    EXPECT_EQ(b[5][2], -0.5f);

    h.send(x, 0, "write", {S((dir / "floats.txt").c_str())});
    std::vector<std::string> file = file_atoms(dir / "floats.txt");
    EXPECT_EQ(file[6], float_atom(1.0f)) << "written back as a float";
}

TEST(Files, DuplicateNumbersAreKeptAndTheFirstIsFound)
{
    TempDir dir;
    test::Harness h;
    t_loopmass *x = h.create({L(5)});
    write_text(dir / "dup.txt", preset_file(5, -2, {4, 4}));
    h.send(x, 0, "read", {S((dir / "dup.txt").c_str())});
    ASSERT_EQ(loopmass_view_bank(x).entries, 2);
    t_block b;
    ASSERT_EQ(loopmass::loopmass_recall(x, b, 4), 0);
    EXPECT_EQ(test::bits(b[0][1]), test::bits(source_value(0, 0, 1)));
}

TEST(Files, AVeryLongLineOfValidContentIsRead)
{
    TempDir dir;
    std::vector<int> numbers;
    for (int k = 0; k < 30; k++)
        numbers.push_back(k * 3);
    std::string text = preset_file(256, -2, numbers);
    for (char &c : text)
        if (c == '\n')
            c = ' ';
    ASSERT_GT(text.size(), 300000u);
    write_text(dir / "line.txt", text);

    test::Harness h;
    t_loopmass *x = h.create();
    h.take();
    h.send(x, 0, "read", {S((dir / "line.txt").c_str())});
    EXPECT_TRUE(lines(h.take()).empty());
    EXPECT_EQ(loopmass_view_bank(x).entries, 30);
    EXPECT_EQ(loopmass_view_bank(x).index[29].number, 87);
    EXPECT_EQ(group_profile(x, 29, 5)[255], source_value(29, 5, 255));
}

TEST(Files, CreationTakesTheMassCountOfItsFile)
{
    TempDir dir;
    write_text(dir / "hundred.txt", preset_file(100, -2, {6, 0}));
    test::Harness h;
    t_loopmass *x = h.create({S((dir / "hundred.txt").c_str())});
    EXPECT_TRUE(lines(h.take()).empty()) << "no resizing at creation";
    EXPECT_EQ(loopmass_view_nmasses(x), 100);
    EXPECT_EQ(loopmass_view_bank(x).nmasses, 100);
    EXPECT_EQ(loopmass_view_bank(x).entries, 2);
    // Preset 0 comes from the file, the second preset in it.
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(test::bits(loopmass_view_raw(x, 1)[i]), test::bits(source_value(1, 0, i))) << i;
        ASSERT_EQ(test::bits(loopmass_view_raw(x, 5)[i]),
                  test::bits(loopmass::loopmass_raw(loopmass::PROF_FORCES, source_value(1, 4, i))))
            << i;
    }
}

TEST(Files, CreationFromAFileThatCannotBeReadGivesTheDefaultObject)
{
    TempDir dir;
    write_text(dir / "broken.txt", "100 -2 1;\n0;\n");
    struct Case {
        std::string name;
        std::string line;
    };
    const Case cases[] = {
        {dir / "missing.txt", "error: loopmass~: can't find file " + (dir / "missing.txt")},
        {dir / "broken.txt", "error: loopmass~: error reading " + (dir / "broken.txt")},
    };
    for (const Case &c : cases) {
        test::Harness h;
        t_loopmass *x = h.create({S(c.name.c_str())});
        EXPECT_EQ(lines(h.take()), (std::vector<std::string>{c.line}));
        EXPECT_EQ(loopmass_view_nmasses(x), 256);
        BankState s = bank_state(x);
        EXPECT_EQ(s.atoms, (std::vector<std::string>{"L256", "L-2", "L0", ";"}));
        EXPECT_EQ(s.nmasses, 256);
        EXPECT_EQ(s.nentries, 0);
        EXPECT_EQ(s.nstored, 0);
    }
}

TEST(Files, TheExampleBankHoldsFactoryPresetsZeroFiveAndSeven)
{
    test::Harness h;
    t_loopmass *x = h.create({S(LOOPMASS_SOURCE_DIR "/examples/factory-bank.txt")});
    EXPECT_TRUE(lines(h.take()).empty());
    ASSERT_EQ(loopmass_view_nmasses(x), 64);
    ASSERT_EQ(loopmass_view_bank(x).entries, 3);
    for (int32_t n : {0, 5, 7}) {
        t_block factory, got;
        loopmass::loopmass_factory(factory, 64, n);
        ASSERT_EQ(loopmass::loopmass_recall(x, got, n), 0);
        for (int k = 0; k < 6; k++)
            for (int i = 0; i < 64; i++) {
                // Forces and initial position went through their 0 to 1 form.
                float v = loopmass::loopmass_raw(k + 1, loopmass::loopmass_stored(k + 1, factory[k][i]));
                ASSERT_EQ(test::bits(got[k][i]), test::bits(v)) << "preset " << n << " kind " << k + 1 << " mass " << i;
            }
    }
}

TEST(Files, EveryBrokenFileIsRefusedAndChangesNothing)
{
    // One file for each way a preset file can be broken.
    const char *kinds[] = {
        "count_above_128",   "count_negative",   "masses_below_3", "masses_above_256", "negative_number",
        "profile_too_short", "profile_too_long", "profile_symbol", "header_float",     "header_symbol",
        "header_too_short",  "header_too_long",  "number_float",   "number_symbol",    "number_not_alone",
        "long_too_large",    "fewer_presets",    "more_presets",   "truncated",        "empty",
        "text_after_end",    "header_unended",
    };
    const std::string corpus = std::string(LOOPMASS_SOURCE_DIR) + "/tests/broken/";
    size_t found = 0;
    for (const fs::directory_entry &e : fs::directory_iterator(corpus)) {
        found++;
        expect_refused("read", e.path().string(), "error reading");
    }
    for (const char *kind : kinds)
        EXPECT_TRUE(fs::exists(corpus + kind + ".txt")) << kind;
    EXPECT_EQ(found, sizeof kinds / sizeof kinds[0]) << "every file of the corpus is named above";

    // Made here: too many presets for the index, a 300 KB line holding a
    // profile of 40000 values, and a binary file.
    TempDir dir;
    std::vector<int> numbers;
    for (int k = 0; k < 129; k++)
        numbers.push_back(k);
    write_text(dir / "129.txt", preset_file(3, -2, numbers));
    std::string line = "3 -2 1;\n0;\n";
    for (int i = 0; i < 40000; i++)
        line += "0.123456 ";
    write_text(dir / "line.txt", line + ";\n");
    std::string binary;
    for (int i = 0; i < 4096; i++)
        binary += (char)((i * 7 + 3) % 256);
    write_text(dir / "binary.txt", binary);
    for (const char *name : {"129.txt", "line.txt", "binary.txt"})
        expect_refused("read", dir / name, "error reading");

    // What the corpus breaks is read: this file, and a full index.
    numbers.pop_back();
    write_text(dir / "128.txt", preset_file(3, -2, numbers));
    write_text(dir / "whole.txt", "3 -2 1;\n0;\n0.1 0.2 0.3;\n0.4 0.5 0.6;\n0.7 0.8 0.9;\n0.1 0.1 0.1;\n"
                                  "0.5 0.5 0.5;\n0.9 0.9 0.9;\n");
    for (const char *name : {"128.txt", "whole.txt"}) {
        test::Harness h;
        t_loopmass *x = object_with_bank(h, 3);
        h.send(x, 0, "read", {S((dir / name).c_str())});
        EXPECT_TRUE(lines(h.take()).empty()) << name;
        EXPECT_EQ(loopmass_view_bank(x).entries, name[0] == '1' ? 128 : 1) << name;
    }
}

TEST(Files, FailedReadsAndWritesChangeNothing)
{
    TempDir dir;
    const std::string too_long(256, 'n');
    // 255 characters fit the name buffer: such a name is looked for.
    const std::string longest = dir.path + "/" + std::string(255 - dir.path.size() - 1, 'm');
    struct Case {
        const char *selector;
        std::string name;
        const char *line;
    };
    const Case cases[] = {
        {"read", dir / "absent.txt", "can't find file"},
        {"read", longest, "can't find file"},
        {"read", too_long, "error reading"},
        {"write", too_long, "error writing"},
        // Not compacted by a read-back.
        {"write", dir / "no-such-folder/bank.txt", "error writing"},
    };
    for (const Case &c : cases)
        expect_refused(c.selector, c.name, c.line);
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
    EXPECT_EQ(fs::directory_iterator(dir.path), fs::directory_iterator()) << "nothing written";
}

TEST(Files, DialogsChooseTheFolderOfLaterWrites)
{
    TempDir dir;
    write_text(dir / "chosen.txt", preset_file(3, -2, {8}));
    test::Harness h;
    t_loopmass *x = object_with_bank(h, 3);
    short vol = x->x_filevol;
    BankState before = bank_state(x);

    // A cancelled dialog does nothing and says nothing.
    headless::queue_dialog_cancel();
    h.send(x, 0, "read");
    headless::queue_dialog_cancel();
    h.send(x, 0, "write");
    EXPECT_TRUE(lines(h.take()).empty());
    EXPECT_EQ(bank_state(x), before);
    EXPECT_EQ(x->x_filevol, vol);

    headless::queue_dialog(dir / "chosen.txt");
    h.send(x, 0, "read");
    EXPECT_TRUE(lines(h.take()).empty());
    EXPECT_EQ(loopmass_view_bank(x).entries, 1);
    EXPECT_EQ(loopmass_view_bank(x).index[0].number, 8);
    EXPECT_EQ(fs::path(headless::path_dir(x->x_filevol)), fs::path(dir.path));

    // A plain name now goes to the chosen folder, and is read back from it.
    h.send(x, 0, "store", {L(2)});
    h.send(x, 0, "write", {S("plain.txt")});
    EXPECT_TRUE(lines(h.take()).empty());
    EXPECT_TRUE(fs::exists(dir / "plain.txt"));
    EXPECT_EQ(loopmass_view_bank(x).entries, 2);
    EXPECT_EQ(loopmass_view_bank(x).stored, 2);

    fs::create_directory(dir / "sub");
    headless::queue_dialog(dir / "sub/saved.txt");
    h.send(x, 0, "write");
    EXPECT_TRUE(lines(h.take()).empty());
    EXPECT_EQ(file_atoms(dir / "sub/saved.txt"), store_atoms(loopmass_view_bank(x).store));
    EXPECT_EQ(fs::path(headless::path_dir(x->x_filevol)), fs::path(dir / "sub"));

    // A save panel's folder is kept even when writing there fails; the bank
    // is not read back.
    before = bank_state(x);
    headless::queue_dialog(dir / "gone/lost.txt");
    h.send(x, 0, "write");
    EXPECT_EQ(lines(h.take()), (std::vector<std::string>{"error: loopmass~: error writing lost.txt"}));
    EXPECT_EQ(bank_state(x), before);
    EXPECT_EQ(fs::path(headless::path_dir(x->x_filevol)), fs::path(dir / "gone"));
}

TEST(Files, RandomBanksSurviveWritingAndReadingBack)
{
    for (uint32_t seed = 1; seed <= 6; seed++) {
        TempDir dir;
        test::Harness h;
        std::mt19937 rng(seed);
        const int n = 3 + (int)(rng() % 40);
        t_loopmass *x = h.create({L(n)});
        for (int op = 0; op < 300; op++) {
            int32_t number = (int32_t)(rng() % 50) - 5;
            switch (rng() % 4) {
            case 0:
                h.send(x, 0, "clear", {L(number)});
                break;
            default:
                for (int k = 0; k < 6; k++)
                    for (int i = 0; i < n; i++)
                        x->x_raw[k][i] = random_value(rng);
                h.send(x, 0, "store", {L(number)});
            }
        }
        std::vector<int32_t> live;
        std::vector<std::vector<uint32_t>> before;
        for (int e = 0; e < loopmass_view_bank(x).entries; e++)
            if (loopmass_view_bank(x).index[e].number != -1) {
                live.push_back(loopmass_view_bank(x).index[e].number);
                before.push_back(recalled(x, loopmass_view_bank(x).index[e].number));
            }
        h.take();

        h.send(x, 0, "write", {S((dir / "r.txt").c_str())});
        EXPECT_TRUE(lines(h.take()).empty()) << "seed " << seed;
        ASSERT_EQ(loopmass_view_bank(x).entries, (int32_t)live.size()) << "seed " << seed;
        EXPECT_EQ(loopmass_view_bank(x).cleared, 0);
        for (size_t k = 0; k < live.size(); k++) {
            EXPECT_EQ(loopmass_view_bank(x).index[k].number, live[k]) << "seed " << seed;
            EXPECT_EQ(recalled(x, live[k]), before[k]) << "seed " << seed << ", preset " << live[k];
        }

        // A compact bank writes the same file again.
        BankState once = bank_state(x);
        h.send(x, 0, "write", {S((dir / "r2.txt").c_str())});
        EXPECT_EQ(bank_state(x), once) << "seed " << seed;
    }
}

} // namespace
