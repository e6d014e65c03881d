#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "../../src/object/patcher.h"

namespace {

// Formats into room on the stack, and on the heap only for a longer line
// than any the object posts.
void format(bool is_error, const char *fmt, va_list ap)
{
    char room[1024];
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(room, sizeof room, fmt, copy);
    va_end(copy);
    if (n < 0) {
        console::line(is_error, "", 0);
    } else if ((size_t)n < sizeof room) {
        console::line(is_error, room, (size_t)n);
    } else {
        std::vector<char> whole((size_t)n + 1);
        std::vsnprintf(whole.data(), whole.size(), fmt, ap);
        console::line(is_error, whole.data(), (size_t)n);
    }
}

} // namespace

namespace patcher {

void post(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    format(false, fmt, ap);
    va_end(ap);
}

void error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    format(true, fmt, ap);
    va_end(ap);
}

} // namespace patcher
