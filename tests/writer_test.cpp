// The one writer of files: the mode a written file gets, the process's
// umask left alone, and failures that leave the old file as it was with no
// temporary file behind.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness.h"
#include "writer.h"

namespace fs = std::filesystem;

// The process's own definitions come before the C library's: every call
// of umask and fsync in this program, the writer's included, passes here,
// so that a test sees whether the umask was touched and can make a sync
// fail.
namespace {
std::atomic<int> umask_calls(0);
std::atomic<bool> fsync_fails(false);
} // namespace

extern "C" mode_t umask(mode_t mask)
{
    umask_calls++;
    return (mode_t)syscall(SYS_umask, mask);
}

extern "C" int fsync(int fd)
{
    if (fsync_fails) {
        errno = EIO;
        return -1;
    }
    return (int)syscall(SYS_fsync, fd);
}

namespace {

using test::TempDir;

// Sets the umask for one scope and restores it when the scope ends, an
// assertion's early return included.
struct ScopedUmask {
    mode_t saved;
    explicit ScopedUmask(mode_t m) : saved(umask(m)) {}
    ~ScopedUmask() { umask(saved); }
};

// The names in a folder, to see that no temporary file is left behind.
std::vector<std::string> listing(const std::string &dir)
{
    std::vector<std::string> names;
    for (const fs::directory_entry &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void spit(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

mode_t mode_of(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : (mode_t)-1;
}

// The umask as the kernel reports it, read without setting it.
mode_t umask_now()
{
    mode_t mask = 01000;
    EXPECT_TRUE(writer::umask_from_status(slurp("/proc/self/status"), &mask));
    return mask;
}

// Bytes of every value, NULs and line ends included, longer than one
// buffer of the C library.
std::string content()
{
    std::string s;
    for (int i = 0; i < 20000; i++)
        s.push_back((char)(i * 7919 >> 3));
    return s;
}

TEST(Writer, AReplacedFileKeepsItsMode)
{
    TempDir dir;
    const std::string path = dir / "bank.txt";
    for (mode_t mode : {0640, 0600, 0755, 0444, 0604}) {
        spit(path, "old;\n");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        std::string error;
        ASSERT_TRUE(writer::write_whole(path, content(), error)) << error;
        EXPECT_EQ(slurp(path), content());
        EXPECT_EQ(mode_of(path), mode) << std::oct << mode;
    }
    EXPECT_EQ(listing(dir.path), std::vector<std::string>{"bank.txt"});
}

// A new file gets 0666 less the umask, and the umask is never set to learn
// it: not by a call, and not as the kernel sees it while the file is open.
TEST(Writer, ANewFileGetsTheUmasksModeAndTheUmaskIsLeftAlone)
{
    TempDir dir;
    for (mode_t mask : {022, 077, 027, 0}) {
        ScopedUmask scoped(mask);
        const std::string path = dir / ("new" + std::to_string(mask));
        umask_calls = 0;
        writer::Replacement file;
        std::string error;
        ASSERT_TRUE(file.open(path, error)) << error;
        EXPECT_EQ(umask_now(), mask);
        ASSERT_TRUE(file.append(content(), error)) << error;
        EXPECT_EQ(umask_now(), mask);
        ASSERT_TRUE(file.commit(error)) << error;
        EXPECT_EQ(umask_calls, 0) << std::oct << mask;
        EXPECT_EQ(umask_now(), mask);
        EXPECT_EQ(mode_of(path), 0666 & ~mask) << std::oct << mask;
        EXPECT_EQ(slurp(path), content());
    }
}

TEST(Writer, TheUmaskIsReadFromItsLineOfTheStatus)
{
    struct Case {
        const char *status;
        bool found;
        mode_t mask;
    };
    const Case cases[] = {
        {"Name:\tloopmass\nUmask:\t0022\nState:\tR (running)\n", true, 022},
        {"Umask:\t0077\n", true, 077},
        {"Name:\tx\nUmask:  0\n", true, 0},
        {"Name:\tx\nUmask:\t0777", true, 0777},
        {"Name:\tx\nState:\tR (running)\n", false, 0},
        {"Name:\tUmask:\t0022\n", false, 0},
        {"Name:\tx\nUmask:\t\n", false, 0},
        {"Name:\tx\nUmask:\t0028\n", false, 0},
        {"Name:\tx\nUmask:\t01000\n", false, 0},
        {"Name:\tx\nUmask:\t0022 more\n", false, 0},
    };
    for (const Case &c : cases) {
        mode_t mask = 0123;
        EXPECT_EQ(writer::umask_from_status(c.status, &mask), c.found) << c.status;
        EXPECT_EQ(mask, c.found ? c.mask : 0123) << c.status;
    }
}

// Every way a write can fail leaves the old file byte for byte and no
// temporary file, and says why in the command line's words.
TEST(Writer, AFailedWriteLeavesTheOldFileAndNoTemporary)
{
    TempDir dir;
    const std::string old = content().substr(0, 100);
    const std::string path = dir / "out.wav";
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const std::vector<std::string> before = {"folder", "out.wav", "pipe"};

    struct Case {
        std::string target;
        enum { NONE, FILE_SIZE_LIMIT, SYNC } fault;
        std::string message;
    };
    const Case cases[] = {
        {dir / "nowhere/out.wav", Case::NONE, "No such file or directory"},
        {dir / "folder", Case::NONE, "not a regular file"},
        {dir / "pipe", Case::NONE, "not a regular file"},
        {"/dev/full", Case::NONE, "not a regular file"},
        {path, Case::FILE_SIZE_LIMIT, "File too large"},
        {path, Case::SYNC, "Input/output error"},
    };
    for (const Case &c : cases) {
        spit(path, old);
        ASSERT_EQ(chmod(path.c_str(), 0640), 0);
        struct rlimit saved;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
        if (c.fault == Case::FILE_SIZE_LIMIT) {
            struct rlimit small = saved;
            small.rlim_cur = 4096;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        fsync_fails = c.fault == Case::SYNC;
        std::string error;
        const bool written = writer::write_whole(c.target, content(), error);
        fsync_fails = false;
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, handler);

        EXPECT_FALSE(written) << c.target;
        EXPECT_EQ(error, "cannot write " + c.target + ": " + c.message);
        EXPECT_EQ(slurp(path), old) << c.target;
        EXPECT_EQ(mode_of(path), 0640u) << c.target;
        EXPECT_EQ(listing(dir.path), before) << c.target;
        EXPECT_TRUE(fs::is_empty(dir / "folder"));
        EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
    }
}

// A file given up before it is committed, by a call or by going out of
// scope, leaves nothing; one committed twice is refused the second time.
TEST(Writer, AnUnfinishedFileLeavesNothing)
{
    TempDir dir;
    const std::string path = dir / "run.png";
    spit(path, "old");
    std::string error;
    {
        writer::Replacement file;
        ASSERT_TRUE(file.open(path, error)) << error;
        ASSERT_TRUE(file.append("new", error)) << error;
        EXPECT_EQ(listing(dir.path).size(), 2u);
    }
    EXPECT_EQ(listing(dir.path), std::vector<std::string>{"run.png"});
    writer::Replacement file;
    ASSERT_TRUE(file.open(path, error)) << error;
    file.discard();
    EXPECT_FALSE(file.commit(error));
    EXPECT_EQ(error, "no file open");
    EXPECT_EQ(slurp(path), "old");
    EXPECT_EQ(listing(dir.path), std::vector<std::string>{"run.png"});
}

} // namespace
