#include "words.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace words {

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Skips digits from i; returns how many.
size_t digits(const std::string &w, size_t &i)
{
    size_t start = i;
    while (i < w.size() && is_digit(w[i]))
        i++;
    return i - start;
}

// The value of a long word; false when it does not fit 32 bits.
bool long_value(const std::string &w, int32_t *v)
{
    errno = 0;
    long long n = std::strtoll(w.c_str(), nullptr, 10);
    if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX)
        return false;
    *v = (int32_t)n;
    return true;
}

} // namespace

e_word classify(const std::string &w)
{
    size_t i = 0;
    if (i < w.size() && (w[i] == '+' || w[i] == '-'))
        i++;
    size_t intdigits = digits(w, i);
    bool point = false, exponent = false;
    size_t fracdigits = 0;
    if (i < w.size() && w[i] == '.') {
        point = true;
        i++;
        fracdigits = digits(w, i);
    }
    if (intdigits == 0 && fracdigits == 0)
        return WORD_SYMBOL;
    if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
        exponent = true;
        i++;
        if (i < w.size() && (w[i] == '+' || w[i] == '-'))
            i++;
        if (digits(w, i) == 0)
            return WORD_SYMBOL;
    }
    if (i != w.size())
        return WORD_SYMBOL;
    return point || exponent ? WORD_FLOAT : WORD_LONG;
}

e_word type(const std::string &w, patcher::t_atom *a)
{
    e_word kind = classify(w);
    if (kind == WORD_SYMBOL)
        return kind;
    patcher::t_atom n;
    std::memset(&n, 0, sizeof n);
    if (kind == WORD_LONG) {
        n.a_type = patcher::A_LONG;
        if (!long_value(w, &n.a_w.w_long))
            return WORD_OUT_OF_RANGE;
    } else {
        n.a_type = patcher::A_FLOAT;
        // strtof rounds the text once, straight to the nearest float, and
        // gives +-inf beyond the float range.
        n.a_w.w_float = std::strtof(w.c_str(), nullptr);
    }
    *a = n;
    return kind;
}

} // namespace words
