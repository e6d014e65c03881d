// How an unquoted word is typed, in a message box, a score and the store's
// text form alike: an integer literal ([+-]digits) is a long; digits with a
// "." or an exponent ([+-]digits.digits[eE][+-]digits, either part of the
// mantissa may be empty but not both) a float; any other word a symbol.
#pragma once

#include <cstdint>
#include <string>

#include "../../src/object/patcher.h"

namespace words {

enum e_word { WORD_SYMBOL, WORD_LONG, WORD_FLOAT, WORD_OUT_OF_RANGE };

// WORD_SYMBOL, WORD_LONG or WORD_FLOAT.
e_word classify(const std::string &w);

// Types a word and gives the value of a number word: a long atom, or a
// float atom rounded once to the nearest float (+-inf beyond its range);
// a symbol word leaves *a as it was.  WORD_OUT_OF_RANGE for an integer
// literal that does not fit 32 bits.
e_word type(const std::string &w, patcher::t_atom *a);

} // namespace words
