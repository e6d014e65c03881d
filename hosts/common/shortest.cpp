// {fmt} finds the shortest digits (with the nearest of them, as to_chars
// does); this file only lays them out.  {fmt} is used header-only, so that
// every platform compiles the same digits routine into the program.

#include "shortest.h"

#define FMT_HEADER_ONLY
#include <fmt/format.h>

namespace shortest {

namespace {

// The digits of a shortest text, without leading or trailing zeros, and the
// power of ten of the first: 0.0125 is "125" and -2.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Reads {fmt}'s own shortest text, in whichever of its layouts it chose.
Decimal decimal_of(const std::string &s)
{
    Decimal d;
    size_t i = 0;
    if (s[i] == '-') {
        d.negative = true;
        i++;
    }
    int point = -1; // digits before the decimal point
    int count = 0;
    for (; i < s.size() && s[i] != 'e'; i++) {
        if (s[i] == '.') {
            point = count;
            continue;
        }
        d.digits += s[i];
        count++;
    }
    if (point < 0)
        point = count;
    int e = i < s.size() ? std::stoi(s.substr(i + 1)) : 0;
    // Leading zeros move the first digit; trailing zeros carry nothing.
    size_t lead = d.digits.find_first_not_of('0');
    if (lead == std::string::npos)
        return Decimal{d.negative, "0", 0};
    d.digits.erase(0, lead);
    point -= (int)lead;
    d.digits.erase(d.digits.find_last_not_of('0') + 1);
    d.exponent = point - 1 + e;
    return d;
}

std::string scientific(const Decimal &d)
{
    std::string s = d.negative ? "-" : "";
    s += d.digits[0];
    if (d.digits.size() > 1)
        s += "." + d.digits.substr(1);
    const int e = d.exponent < 0 ? -d.exponent : d.exponent;
    s += d.exponent < 0 ? "e-" : "e+";
    if (e < 10)
        s += '0';
    s += std::to_string(e);
    return s;
}

// A whole number is written with all its digits, exact, as to_chars does
// (268435456, not 268435460): `exact` is that text.
std::string fixed(const Decimal &d, const std::string &exact)
{
    std::string s = d.negative ? "-" : "";
    const int n = (int)d.digits.size();
    if (d.exponent < 0)
        return s + "0." + std::string((size_t)(-d.exponent - 1), '0') + d.digits;
    if (d.exponent + 1 >= n)
        return exact;
    return s + d.digits.substr(0, (size_t)d.exponent + 1) + "." + d.digits.substr((size_t)d.exponent + 1);
}

// The whole-number text has as many digits as the padded shortest one, so
// the choice of layout is the same either way.
template <typename T> std::string layout(T v)
{
    const Decimal d = decimal_of(fmt::format("{}", v));
    const bool whole = d.exponent + 1 >= (int)d.digits.size();
    const std::string f = fixed(d, whole ? fmt::format("{:.0f}", v) : "");
    const std::string e = scientific(d);
    return f.size() <= e.size() ? f : e;
}

} // namespace

std::string text(float f)
{
    return layout(f);
}

std::string text(double d)
{
    return layout(d);
}

} // namespace shortest
