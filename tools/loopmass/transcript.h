// Text of transcript lines: logical times, atoms and doubles.
#pragma once

#include <cstdint>
#include <string>

#include "../../src/object/patcher.h"

namespace score {

// Logical time in milliseconds with exactly three decimals, from ticks of
// 1/441 ms, rounded to the nearest thousandth.
std::string time_text(int64_t ticks);

// Shortest text that reads back to the same double, always with a "." or
// an exponent (inf, -inf and nan as such).
std::string double_text(double d);

// Shortest text that reads back to the same float, always with a "." or an
// exponent (inf, -inf and nan as such).
std::string float_text(float f);

// A long as an integer, a float as its shortest text, a symbol as its
// name, a message end as ";".
std::string atom_text(const patcher::t_atom &a);

// Atoms separated by single spaces.
std::string atoms_text(int argc, const patcher::t_atom *argv);

} // namespace score
