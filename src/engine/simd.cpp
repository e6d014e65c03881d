// Which kernels run: the widest set of vector units the processor has.
// All of them give the same bits, so the choice changes only the speed.
#include <cstdlib>
#include <cstring>

#include "kernel.h"

namespace loopmass {

// From the plainest to the widest.
static const t_kernels *const loopmass_every_kernel[] = {
    &loopmass_portable,
#if defined(__x86_64__)
    &loopmass_sse2,     &loopmass_avx2, &loopmass_avx512,
#endif
#if defined(__aarch64__)
    &loopmass_neon,
#endif
};
static const int loopmass_nkernels = (int)(sizeof loopmass_every_kernel / sizeof loopmass_every_kernel[0]);

// Whether the processor, and the system that saves its registers, can run
// kernel i.  The avx512 kernel is compiled for the F, DQ and VL parts.
static bool loopmass_runs(int i)
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    const char *name = loopmass_every_kernel[i]->name;
    if (std::strcmp(name, "avx2") == 0)
        return __builtin_cpu_supports("avx2");
    if (std::strcmp(name, "avx512") == 0)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl");
#endif
    (void)i;
    return true;
}

int loopmass_simd_count(void)
{
    int count = 0;
    while (count < loopmass_nkernels && loopmass_runs(count))
        count++;
    return count;
}

const char *loopmass_simd_name(int i)
{
    return i >= 0 && i < loopmass_simd_count() ? loopmass_every_kernel[i]->name : nullptr;
}

// The kernel of that name when the processor runs it, else null.
static const t_kernels *loopmass_find(const char *name)
{
    const int count = loopmass_simd_count();
    for (int i = 0; i < count; i++)
        if (name && std::strcmp(name, loopmass_every_kernel[i]->name) == 0)
            return loopmass_every_kernel[i];
    return nullptr;
}

const char *loopmass_simd_in_use(void)
{
    return loopmass_kernels->name;
}

int loopmass_simd_use(const char *name)
{
    const t_kernels *k = loopmass_find(name);
    if (!k)
        return 1;
    loopmass_kernels = k;
    return 0;
}

// Chosen once, when the library loads.  LOOPMASS_SIMD is a switch for
// tests and diagnosis, so that every kernel can be run on one machine.
static const t_kernels *loopmass_choose(void)
{
    const t_kernels *k = loopmass_find(std::getenv("LOOPMASS_SIMD"));
    return k ? k : loopmass_every_kernel[loopmass_simd_count() - 1];
}

const t_kernels *loopmass_kernels = loopmass_choose();

} // namespace loopmass
