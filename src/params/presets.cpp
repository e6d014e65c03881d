// Preset recall: a stored preset from the bank when there is one by that
// number, else one of the ten factory shapes.  Also the object's 15-bit
// random generator, which two of the factory shapes draw from.
#include <cmath>

#include "loopmass.h"

namespace loopmass {

// One state per thread, shared by every object of that thread; each new
// object reseeds it.  Unseeded, it starts as the C runtime's does.
static thread_local uint32_t loopmass_seed = 1;

void loopmass_srand(uint32_t seed)
{
    loopmass_seed = seed;
}

uint32_t loopmass_rand_state(void)
{
    return loopmass_seed;
}

int loopmass_rand(void)
{
    loopmass_seed = loopmass_seed * 214013u + 2531011u;
    return (int)((loopmass_seed >> 16) & 0x7fff);
}

int loopmass_find(const t_bankentry *index, int32_t count, int32_t n)
{
    // A cleared entry holds -1, which no lookup may match.
    if (n == -1)
        return -1;
    for (int32_t e = 0; e < count && e < INDEXSIZE; e++)
        if (index[e].number == n)
            return e;
    return -1;
}

short loopmass_recall(t_loopmass *x, t_block block, int32_t n)
{
    int nm = x->x_nmasses;
    int e = loopmass_find(x->x_index, x->x_bank_nentries, n);
    if (e < 0)
        return loopmass_factory(block, nm, n);

    loopmass_bank_read(x->x_bank, &x->x_index[e], nm, block);
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < nm; i++)
            block[p][i] = loopmass_raw(p + 1, block[p][i]);
    return 0;
}

// 1 - cos(i 2pi / N): 0 at mass 0, 2 at mass N/2.
static double loopmass_bump(int i, int n)
{
    return 1 - std::cos((i * 6.283185307179586) / n);
}

// A square wave of m periods around the ring: -1 in the first half of each
// period, +1 in the second.
static double loopmass_square(int m, int i, int n)
{
    return 2 * std::floor(2 * std::fmod((double)(m * i) / n, 1.0)) - 1;
}

// The six values of factory preset n (0 to 9) at mass i, in kind order.
static void loopmass_factory_mass(double v[NKINDS], int32_t n, int i, int nm)
{
    double b = loopmass_bump(i, nm);
    double ramp = (double)(i * 16) / nm;
    switch (n) {
    case 0:
        v[0] = b * 0.2 + 0.1, v[1] = 0, v[2] = 0.7, v[3] = 0.4, v[4] = 0, v[5] = 0.9;
        break;
    case 1:
        v[0] = 0.1, v[1] = 0.7, v[2] = 0.42, v[3] = 0, v[4] = 0;
        v[5] = i < nm / 16 ? ramp : i < nm / 8 ? 2 - ramp : 0;
        break;
    case 2:
        v[0] = b * 0.2, v[1] = 0.9, v[2] = 0.5, v[3] = 0.1, v[4] = 0;
        v[5] = i < nm / 16 ? ramp : 1 - (double)i / nm;
        break;
    case 3:
        v[0] = 0.25, v[1] = 0.7, v[2] = b * 0.4 + 0.15, v[3] = 0.35, v[4] = 0;
        v[5] = loopmass_rand() / 32767.0;
        break;
    case 4:
        v[0] = b * 0.16 + 0.1, v[1] = 0, v[2] = 0.62, v[3] = 0.5, v[4] = 0;
        v[5] = loopmass_rand() * 0.2 / 32767 + 0.8;
        break;
    case 5:
        v[0] = 0, v[1] = 0, v[2] = b * 0.2 + 0.5, v[3] = 0.7, v[4] = 0;
        v[5] = -std::cos((i * 12.566370614359172) / nm);
        break;
    case 6:
        v[0] = 0, v[1] = 0.7, v[2] = b * 0.08 + 0.35, v[3] = 0, v[4] = 0;
        v[5] = loopmass_square(3, i, nm);
        break;
    case 7:
        v[0] = b * 0.2 + 0.1, v[1] = 0.7, v[2] = 0.7, v[3] = 0.46;
        v[4] = i < nm / 8 || i >= 7 * nm / 8 ? (std::cos((i * 25.132741228718345) / nm) + 1) * 0.5 : 0;
        v[5] = 0.9;
        break;
    case 8:
        v[0] = b * 0.45, v[1] = 0.6, v[2] = 0.7, v[3] = 0.6;
        v[4] = i < nm / 2 ? (double)(i * 4) / nm - 1 : 3 - (double)(i * 4) / nm;
        v[5] = 0.9;
        break;
    case 9:
        v[0] = b * 0.2 + 0.1, v[1] = 0.8, v[2] = 0.7, v[3] = 0.4;
        v[4] = loopmass_square(2, i, nm);
        v[5] = 0.9;
        break;
    }
}

short loopmass_factory(t_block block, int nmasses, int32_t n)
{
    if (n < 0 || n > 9)
        return 1;
    for (int i = 0; i < nmasses; i++) {
        // Every shape sets all six values; the zeros only spare the
        // compiler from proving it through the switch.
        double v[NKINDS] = {};
        loopmass_factory_mass(v, n, i, nmasses);
        for (int p = 0; p < NKINDS; p++)
            block[p][i] = (float)v[p];
    }
    return 0;
}

} // namespace loopmass
