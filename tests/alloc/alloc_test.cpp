// The audio path allocates nothing and opens no file: the process's
// allocations and opens are counted while the perform routine runs; between
// vectors the objects get every kind of message that changes what the
// perform routine reads.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "counting.h"
#include "harness.h"

namespace {

using namespace loopmass;
using test::F;
using test::L;
using test::S;

// One message to an inlet, as a score line would send it.
struct Message {
    int inlet;
    const char *selector;
    std::vector<t_atom> args;
};

// Runs n samples through the perform routine, counting.
void perform_counted(t_loopmass *x, std::vector<float> &out, int n)
{
    out.resize((size_t)n);
    t_int w[4] = {0, (t_int)out.data() - (t_int)sizeof(float), (t_int)x, (t_int)n + 1};
    counting::enable(true);
    loopmass_perform(w);
    counting::enable(false);
}

TEST(AudioPath, AllocatesNothingAndOpensNoFile)
{
    if (!counting::available())
        GTEST_SKIP() << "a sanitizer's allocator cannot be counted";
    // The counters see what they should (through volatile pointers, which
    // keep the compiler from leaving out an allocation it can see freed).
    counting::enable(true);
    int *volatile i = new int(3);
    delete i;
    void *volatile p = std::malloc(16);
    std::free(p);
    ASSERT_EQ(counting::allocations(), 2);
    const int fd = open("/dev/null", O_RDONLY);
    std::FILE *f = std::fopen("/dev/null", "r");
    counting::enable(false);
    ASSERT_EQ(counting::opens(), 2);
    close(fd);
    std::fclose(f);
    const long allocations = counting::allocations(), opens = counting::opens();

    const std::string dir = testing::TempDir();
    const std::string small = dir + "loopmass_alloc_64.txt", other = dir + "loopmass_alloc_100.txt";
    test::Harness h;
    t_loopmass *source = h.create({L(64)});
    h.send(source, 0, "store", {L(1)});
    h.send(source, 0, "write", {S(small.c_str())});

    std::vector<t_loopmass *> objects = {h.create({L(3)}), h.create({L(100)}), h.create({L(256)}),
                                         h.create({S(small.c_str())})};
    const std::vector<Message> messages = {
        {0, "int", {L(5)}},
        {0, "ramp", {L(20)}},
        {3, "lowcut", {F(25.5f)}},
        {7, "list", {F(220), F(330.5f), F(-110), F(1e4f), F(55)}},
        {0, "bang", {}},
        {0, "float", {F(2.25f)}},
        {3, "float", {F(-0.5f)}},
        {7, "fg", {F(440), F(0.5f), F(660), F(0.25f)}},
        {0, "store", {L(3)}},
        {0, "int", {L(3)}},
        {0, "read", {S(small.c_str())}}, // resized to every object's count
        {0, "float", {F(0.5f)}},
        {0, "write", {S(other.c_str())}},
        {0, "clear", {L(3)}},
        {6, "list", {F(0.1f), F(0.9f), F(0.5f)}},
        {2, "gain", {F(2)}},
        {5, "all", {F(1), F(0.2f), F(0.5f), F(2)}},
        {0, "hostrate", {L(1)}},
        {0, "disprate", {F(0.5f)}},
        {0, "inactive", {L(1)}},
        {0, "inactive", {L(0)}},
        {0, "stop", {}},
        {0, "clear", {S("all")}},
        {0, "reset", {}},
        {7, "float", {F(1000)}},
        {0, "bang", {}},
    };
    const int sizes[] = {64, 256, 1, 48, 2048, 4096, 300};
    std::vector<float> out;
    int round = 0;
    for (const Message &m : messages) {
        for (t_loopmass *x : objects) {
            h.send(x, m.inlet, m.selector, m.args);
            headless::dsp_start(64, 48000); // what the next dsp call gives
            headless::dsp_stop();
            headless::run_clocks();
            for (int n : sizes)
                perform_counted(x, out, n);
            h.take();
        }
        EXPECT_EQ(counting::allocations(), allocations) << "after " << m.selector << ", message " << round;
        EXPECT_EQ(counting::opens(), opens) << "after " << m.selector << ", message " << round;
        round++;
    }
    EXPECT_EQ(objects[1]->x_bank_nmasses, 100);
    std::remove(small.c_str());
    std::remove(other.c_str());
}

} // namespace
