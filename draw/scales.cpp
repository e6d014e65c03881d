#include "scales.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace draw {

void position_colour(float v, double rgb[3])
{
    static const double stops[5][3] = {
        {0.02, 0.19, 0.38}, {0.26, 0.58, 0.76}, {0.97, 0.97, 0.97}, {0.90, 0.45, 0.35}, {0.40, 0.00, 0.12}};
    const double t = std::round((std::clamp(v, -1.0f, 1.0f) + 1.0) * 32.0) / 16.0; // 0 to 4
    const int i = std::min((int)t, 3);
    const double f = t - i;
    for (int c = 0; c < 3; c++)
        rgb[c] = stops[i][c] + f * (stops[i + 1][c] - stops[i][c]);
}

double tick_step(double span, int most)
{
    const double raw = span / most;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= raw)
            return m * p;
    return 10.0 * p;
}

std::string number_text(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", std::fabs(v) < 1e-12 ? 0.0 : v);
    return buf;
}

} // namespace draw
