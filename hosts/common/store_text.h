// The store's text form, which its files hold: longs as integers, floats
// always with a "." or an exponent (inf, -inf and nan as such), symbols as
// words (quoted when needed), and message ends as ";".  Words are typed as
// words.h says; the text form also reads inf, -inf, nan and -nan as floats.
#pragma once

#include <string>
#include <vector>

#include "store.h"

namespace store {

std::string text(t_binbuf *b);

// Parses the text form.  Returns false (and leaves out alone) on text that
// is not a well-formed store.
bool parse(const std::string &text, std::vector<t_atom> &out);

// Shortest text that reads back to the same single-precision value, always
// with a "." or an exponent: 1.0, 0.1, 2.5e-07, inf, -inf, nan, -nan.
std::string float_text(float f);
// The same for a double.
std::string double_text(double d);

} // namespace store
