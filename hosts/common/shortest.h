// The shortest decimal text that reads back to the same float or double,
// laid out as the C++ library's std::to_chars(first, last, value) lays it
// out: plain digits where they are no longer than the scientific form
// ("100", "0.001", "123456"), else the scientific form with a two-digit
// exponent at least ("1e+20", "1e-04", "2.5e-07").  The same text on every
// platform, including those whose C++ library has no floating-point
// to_chars.  For finite values only.
#pragma once

#include <string>

namespace shortest {

std::string text(float f);
std::string text(double d);

} // namespace shortest
