// Test support: creates loopmass~ objects in the in-process host and
// records everything they send.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "headless.h"
#include "loopmass.h"
#include "view.h"

namespace test {

using loopmass::t_loopmass;
using patcher::t_atom;

t_atom L(int32_t v);
t_atom F(float v);
t_atom S(const char *name);

inline uint32_t bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

inline float from_bits(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// A fresh folder for one test's files, removed afterwards.
struct TempDir {
    std::string path;
    TempDir()
    {
        char name[] = "/tmp/loopmass-test-XXXXXX";
        const char *made = mkdtemp(name);
        path = made ? made : "";
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// Makes a folder the working directory for as long as it lives, then goes
// back to the one before, also when a failed assertion leaves the test
// early: a test that changed folders must not leave its files, or the
// next test's, somewhere else.
class WorkingDir {
public:
    explicit WorkingDir(const std::string &path)
    {
        std::error_code ec;
        before_ = std::filesystem::current_path(ec);
        if (!ec)
            std::filesystem::current_path(path, ec);
        entered_ = !ec;
    }
    ~WorkingDir()
    {
        std::error_code ec;
        if (entered_)
            std::filesystem::current_path(before_, ec);
    }
    WorkingDir(const WorkingDir &) = delete;
    WorkingDir &operator=(const WorkingDir &) = delete;
    // False when the folder could not be entered (the working directory
    // is then as it was).
    bool entered() const { return entered_; }

private:
    std::filesystem::path before_;
    bool entered_ = false;
};

// Calls the perform routine as the signal chain does, n samples.
void perform(t_loopmass *x, float *out, int n);

// Seconds of output in 64-sample vectors, as many as a score's run takes.
std::vector<float> play(t_loopmass *x, double seconds);

// A value no routine writes, and a block filled with it, to see which
// entries a routine touched.
const float SENTINEL = -123.5f;
inline void fill(loopmass::t_block b)
{
    for (int p = 0; p < loopmass::NKINDS; p++)
        for (int i = 0; i < loopmass::MAXMASSES; i++)
            b[p][i] = SENTINEL;
}

// One thing an object sent: a console line (channel "post" or "error", text)
// or a list on an outlet (channel "out1" or "out2", atoms).
struct Event {
    std::string channel;
    std::string text;
    std::vector<t_atom> atoms;
    headless::t_ticks time;
    std::vector<float> floats() const; // the atoms' values as floats
};

// Loads the object once per process, records events, frees its objects.
// The calendar is fixed (seed 1) so that random presets are reproducible.
class Harness {
public:
    Harness();
    ~Harness();
    t_loopmass *create(const std::vector<t_atom> &args = {});
    void destroy(t_loopmass *x);
    // Returns what headless::send returns.
    int send(t_loopmass *x, int inlet, const char *selector, const std::vector<t_atom> &args = {});
    // Events since the last take(), then forgets them.
    std::vector<Event> take();
    // Only the events of one channel, since the last take().
    std::vector<Event> take(const std::string &channel);

private:
    std::vector<t_loopmass *> objects_;
    std::vector<Event> events_;
};

} // namespace test
