#include "transcript.h"

#include <cmath>

#include "headless.h"
#include "store_text.h"

namespace score {

std::string time_text(int64_t ticks)
{
    // ticks * 1000 / 441 has no halves (441 is odd), so adding half of 441
    // (220) before the division rounds to the nearest thousandth.
    const int64_t per_ms = headless::TICKS_PER_MS;
    int64_t thousandths = (ticks * 1000 + per_ms / 2) / per_ms;
    std::string frac = std::to_string(thousandths % 1000);
    return std::to_string(thousandths / 1000) + "." + std::string(3 - frac.size(), '0') + frac;
}

// Readers of transcripts know one text for not-a-number; its sign bit,
// which depends on the processor's arithmetic, is not shown.

std::string double_text(double d)
{
    return std::isnan(d) ? "nan" : store::double_text(d);
}

std::string float_text(float f)
{
    return std::isnan(f) ? "nan" : store::float_text(f);
}

std::string atom_text(const patcher::t_atom &a)
{
    switch (a.a_type) {
    case patcher::A_LONG:
        return std::to_string(a.a_w.w_long);
    case patcher::A_FLOAT:
        return float_text(a.a_w.w_float);
    case patcher::A_SYM:
        return a.a_w.w_sym ? a.a_w.w_sym->s_name : "";
    case patcher::A_SEMI:
        return ";";
    case patcher::A_COMMA:
        return ",";
    default:
        return "?";
    }
}

std::string atoms_text(int argc, const patcher::t_atom *argv)
{
    std::string s;
    for (int i = 0; i < argc; i++) {
        if (i > 0)
            s += ' ';
        s += atom_text(argv[i]);
    }
    return s;
}

} // namespace score
