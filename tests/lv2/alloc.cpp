// Counts heap allocations, whichever library makes them, by standing in for
// the C library's allocator (which operator new calls).  A sanitizer brings
// its own allocator, and then nothing is counted.

#include <atomic>
#include <cstddef>

#include "rack.h"

namespace {
std::atomic<bool> counting(false);
std::atomic<long> count(0);
} // namespace

#if defined(__SANITIZE_ADDRESS__)

namespace rack {
bool can_count() { return false; }
void count_allocations(bool) {}
long allocations() { return 0; }
} // namespace rack

#else

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);

static void counted()
{
    if (counting.load(std::memory_order_relaxed))
        count.fetch_add(1, std::memory_order_relaxed);
}

void *malloc(size_t n)
{
    counted();
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size)
{
    counted();
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n)
{
    counted();
    return __libc_realloc(p, n);
}

void *memalign(size_t align, size_t n)
{
    counted();
    return __libc_memalign(align, n);
}

void *aligned_alloc(size_t align, size_t n)
{
    counted();
    return __libc_memalign(align, n);
}

int posix_memalign(void **out, size_t align, size_t n)
{
    counted();
    void *p = __libc_memalign(align, n);
    if (!p)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
}

namespace rack {
bool can_count() { return true; }
void count_allocations(bool on) { counting.store(on); }
long allocations() { return count.load(); }
} // namespace rack

#endif
