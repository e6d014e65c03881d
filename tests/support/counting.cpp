// Stands in for the C library's allocator and open calls, counting them
// while counting is on.  The process's own definitions take precedence over
// the C library's for every library that calls them.

#include "counting.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <fcntl.h>

namespace {
std::atomic<bool> on(false);
std::atomic<long> nallocations(0);
std::atomic<long> nopens(0);

void note(std::atomic<long> &count)
{
    if (on.load(std::memory_order_relaxed))
        count.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if defined(__SANITIZE_ADDRESS__)

namespace counting {
bool available()
{
    return false;
}
void enable(bool) {}
long allocations()
{
    return 0;
}
long opens()
{
    return 0;
}
} // namespace counting

#else

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
int __open(const char *, int, ...);
FILE *_IO_fopen(const char *, const char *);

void *malloc(size_t n)
{
    note(nallocations);
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size)
{
    note(nallocations);
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n)
{
    note(nallocations);
    return __libc_realloc(p, n);
}

void *memalign(size_t align, size_t n)
{
    note(nallocations);
    return __libc_memalign(align, n);
}

void *aligned_alloc(size_t align, size_t n)
{
    note(nallocations);
    return __libc_memalign(align, n);
}

int posix_memalign(void **out, size_t align, size_t n)
{
    note(nallocations);
    void *p = __libc_memalign(align, n);
    if (!p)
        return 12; // ENOMEM
    *out = p;
    return 0;
}

// The mode argument is there only when the flags ask for one.
static int counted_open(const char *path, int flags, va_list ap)
{
    note(nopens);
    const int mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(ap, int) : 0;
    return __open(path, flags, mode);
}

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const int fd = counted_open(path, flags, ap);
    va_end(ap);
    return fd;
}

int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const int fd = counted_open(path, flags, ap);
    va_end(ap);
    return fd;
}

FILE *fopen(const char *path, const char *mode)
{
    note(nopens);
    return _IO_fopen(path, mode);
}

FILE *fopen64(const char *path, const char *mode)
{
    note(nopens);
    return _IO_fopen(path, mode);
}
}

namespace counting {
bool available()
{
    return true;
}
void enable(bool yes)
{
    on.store(yes);
}
long allocations()
{
    return nallocations.load();
}
long opens()
{
    return nopens.load();
}
} // namespace counting

#endif
