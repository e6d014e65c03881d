// The project's shortest text of a float or double is the text the build
// machine's std::to_chars gives, for every value tried: the edges of the
// formats, every power of two and of ten, subnormals, and millions of
// random bit patterns.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "shortest.h"

namespace {

template <typename T> std::string library_text(T v)
{
    char buf[64];
    std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

float float_of(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

double double_of(uint64_t bits)
{
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Counts the values whose texts differ, and shows the first few.
template <typename T> class Comparison {
public:
    void check(T v)
    {
        if (!std::isfinite(v))
            return;
        const std::string ours = shortest::text(v), theirs = library_text(v);
        if (ours != theirs && ++failures_ <= 10)
            ADD_FAILURE() << "shortest::text gives " << ours << ", to_chars " << theirs;
    }
    void check_both_signs(T v)
    {
        check(v);
        check(-v);
    }
    int failures() const { return failures_; }

private:
    int failures_ = 0;
};

TEST(Shortest, FloatEdgesPowersAndSubnormals)
{
    Comparison<float> c;
    const float edges[] = {0.0f,       1.0f,        0.1f, 0.5f, 100.0f,      1e-4f,         1e-5f,           123456.0f,
                           1234567.0f, 12345678.0f, 1e7f, 1e8f, 16777216.0f, 3.4028235e38f, 1.17549435e-38f, 1.4e-45f};
    for (float f : edges)
        c.check_both_signs(f);
    for (int e = -149; e <= 127; e++) {
        const float p = std::ldexp(1.0f, e);
        c.check_both_signs(p);
        c.check_both_signs(std::nextafter(p, 0.0f));
        c.check_both_signs(std::nextafter(p, INFINITY));
    }
    for (int e = -45; e <= 38; e++) {
        const float p = std::strtof(("1e" + std::to_string(e)).c_str(), nullptr);
        c.check_both_signs(p);
        c.check_both_signs(std::nextafter(p, 0.0f));
        c.check_both_signs(std::nextafter(p, INFINITY));
    }
    // The first and last subnormals, and every hundredth between.
    for (uint32_t b = 0; b < 0x800000; b += b < 100000 || b > 0x800000 - 100000 ? 1 : 100)
        c.check_both_signs(float_of(b));
    EXPECT_EQ(c.failures(), 0);
}

TEST(Shortest, RandomFloats)
{
    Comparison<float> c;
    std::mt19937 bits(20261209);
    for (int i = 0; i < 4000000; i++)
        c.check(float_of((uint32_t)bits()));
    EXPECT_EQ(c.failures(), 0);
}

TEST(Shortest, Doubles)
{
    Comparison<double> c;
    const double edges[] = {0.0,
                            1.0,
                            0.1,
                            0.3,
                            1e-4,
                            1e-5,
                            1e15,
                            1e16,
                            1e17,
                            9007199254740993.0,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::min(),
                            std::numeric_limits<double>::denorm_min(),
                            44100.0,
                            1.0 / 3.0};
    for (double d : edges)
        c.check_both_signs(d);
    for (int e = -1074; e <= 1023; e++) {
        c.check_both_signs(std::ldexp(1.0, e));
        c.check_both_signs(std::nextafter(std::ldexp(1.0, e), INFINITY));
    }
    for (int e = -323; e <= 308; e++)
        c.check_both_signs(std::strtod(("1e" + std::to_string(e)).c_str(), nullptr));
    std::mt19937_64 bits(20261209);
    for (int i = 0; i < 300000; i++)
        c.check(double_of(bits()));
    // Doubles as the transcripts show them most: floats widened, and short
    // decimals.
    for (int i = 0; i < 1000000; i++)
        c.check((double)float_of((uint32_t)bits()));
    for (int i = 0; i < 200000; i++)
        c.check_both_signs(i / 1000.0);
    EXPECT_EQ(c.failures(), 0);
}

} // namespace
