// The in-process host's files: the working directory a test runs in,
// dialogs answered from a queue, locating files through the search path,
// and stores read and written through path ids.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "harness.h"
#include "store_text.h"

using namespace patcher;

namespace {

TEST(WorkingDir, GoesBackWhenTheScopeEndsAndStaysWhereItWasOnAFailure)
{
    const std::filesystem::path before = std::filesystem::current_path();
    test::TempDir dir;
    {
        test::WorkingDir cwd(dir.path);
        EXPECT_TRUE(cwd.entered());
        EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.path));
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
    {
        test::WorkingDir cwd(dir / "missing");
        EXPECT_FALSE(cwd.entered());
        EXPECT_EQ(std::filesystem::current_path(), before);
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
}

// A scratch directory that is also the working directory (path id 0).
class HostFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/headless_test.XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        cwd = std::make_unique<test::WorkingDir>(dir);
        ASSERT_TRUE(cwd->entered()) << dir;
        headless::clear_dialogs();
    }
    void TearDown() override
    {
        headless::clear_dialogs();
        cwd.reset();
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
    void touch(const std::string &path) { std::ofstream(path) << "1;\n"; }

    std::string dir;
    std::unique_ptr<test::WorkingDir> cwd;
};

TEST_F(HostFiles, DialogsTakeQueuedAnswers)
{
    mkdir((dir + "/one").c_str(), 0755);
    mkdir((dir + "/two").c_str(), 0755);
    std::string long255(255, 'n'), long256(256, 'n');
    headless::queue_dialog(dir + "/one/a.txt");
    headless::queue_dialog_cancel();
    headless::queue_dialog(dir + "/one/b.txt");
    headless::queue_dialog("two/c.txt");
    headless::queue_dialog(dir + "/one/" + long256);
    headless::queue_dialog(dir + "/one/" + long255);

    struct Expect {
        short result;
        const char *name;
        const char *dir;
    };
    const std::vector<Expect> expected = {
        {0, "a.txt", "/one"}, {1, "", ""},     {0, "b.txt", "/one"}, {0, "c.txt", "/two"},
        {1, "", ""},          {0, "", "/one"}, {1, "", ""},
    };
    short one = -1;
    for (size_t i = 0; i < expected.size(); i++) {
        SCOPED_TRACE(i);
        char name[MAX_FILENAME_CHARS] = "";
        short vol = 0;
        t_fourcc type = 0;
        short r =
            i % 2 ? saveasdialog_extended(name, &vol, &type, nullptr, 0) : open_dialog(name, &vol, &type, nullptr, 0);
        ASSERT_EQ(r, expected[i].result);
        if (r)
            continue;
        EXPECT_EQ(type, FOUR_CHAR_TEXT);
        EXPECT_EQ(std::string(name), i == 5 ? long255 : expected[i].name);
        EXPECT_EQ(headless::path_dir(vol), dir + expected[i].dir);
        EXPECT_GT(vol, 0);
        if (std::string(expected[i].dir) == "/one") {
            if (one < 0)
                one = vol;
            EXPECT_EQ(vol, one); // the same directory keeps its id
        } else {
            EXPECT_NE(vol, one);
        }
    }
    headless::queue_dialog(dir + "/one/a.txt");
    headless::clear_dialogs();
    char name[MAX_FILENAME_CHARS] = "";
    short vol = 0;
    t_fourcc type = 0;
    EXPECT_EQ(open_dialog(name, &vol, &type, nullptr, 0), 1);
    EXPECT_EQ(defvolume(), 0);
    EXPECT_EQ(headless::path_dir(0), "");
}

TEST_F(HostFiles, LocateLooksInThePathThenTheWorkingDirectory)
{
    mkdir((dir + "/sub").c_str(), 0755);
    mkdir((dir + "/folder.txt").c_str(), 0755);
    touch(dir + "/sub/here.txt");
    touch(dir + "/cwd.txt");
    std::string long255(255, 'k');
    touch(dir + "/" + long255);
    headless::queue_dialog(dir + "/sub/x.txt");
    char name[MAX_FILENAME_CHARS];
    short sub = 0;
    t_fourcc type;
    ASSERT_EQ(open_dialog(name, &sub, &type, nullptr, 0), 0);

    struct Case {
        std::string name;
        short vol;
        short result;
        short found_vol;
    };
    const std::vector<Case> cases = {
        {"here.txt", sub, 0, sub},
        {"here.txt", 0, 1, 0},
        {"cwd.txt", sub, 0, 0},
        {"cwd.txt", 0, 0, 0},
        {dir + "/sub/here.txt", 0, 0, 0},
        {"missing.txt", sub, 1, sub},
        {"folder.txt", 0, 1, 0},
        {"", 0, 1, 0},
        {long255, 0, 0, 0},
        {"here.txt", 999, 1, 999},
    };
    const t_fourcc text = FOUR_CHAR_TEXT;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40) + " in " + std::to_string(c.vol));
        std::snprintf(name, sizeof name, "%s", c.name.c_str());
        short vol = c.vol;
        t_fourcc found = 0;
        EXPECT_EQ(locatefile_extended(name, &vol, &found, &text, 1), c.result);
        EXPECT_EQ(vol, c.found_vol);
        EXPECT_EQ(found, c.result ? 0u : text);
    }
    // A buffer holding 256 characters and no terminating zero.
    char full[MAX_FILENAME_CHARS];
    std::memset(full, 'k', sizeof full);
    short vol = 0;
    EXPECT_EQ(locatefile_extended(full, &vol, &type, &text, 1), 1);
}

TEST_F(HostFiles, StoresAreReadAndWrittenThroughPathIds)
{
    mkdir((dir + "/sub").c_str(), 0755);
    headless::queue_dialog(dir + "/sub/bank.txt");
    char name[MAX_FILENAME_CHARS];
    short sub = 0;
    t_fourcc type;
    ASSERT_EQ(saveasdialog_extended(name, &sub, &type, nullptr, 0), 0);

    t_binbuf *b = binbuf_new();
    binbuf_vinsert(b, "lfs", 3L, 0.5, gensym("a b"));
    EXPECT_EQ(binbuf_write(b, name, sub, 1), 1);
    EXPECT_EQ(binbuf_write(b, name, sub, 0), 0);
    EXPECT_EQ(binbuf_write(b, "cwd.txt", 0, 0), 0);

    std::ifstream in(dir + "/sub/bank.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "3 0.5 \"a b\";");

    t_binbuf *r = binbuf_new();
    EXPECT_EQ(binbuf_read(r, name, sub, 1), 1);
    EXPECT_EQ(binbuf_read(r, name, 0, 0), 1);
    EXPECT_EQ(binbuf_read(r, name, sub, 0), 0);
    EXPECT_EQ(store::text(r), store::text(b));
    EXPECT_EQ(binbuf_read(r, "cwd.txt", 0, 0), 0);
    EXPECT_EQ(store::text(r), store::text(b));
    freeobject(b);
    freeobject(r);
}

} // namespace
