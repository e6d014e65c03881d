// What every host shares: the symbol table and the message store (binbuf)
// with its cursor units and its text form, whose typing of words the
// command line's scores share too.  The store is the object's in-memory and
// on-disk format, so every host uses this implementation.
// Each host adds binbuf_read and binbuf_write, which turn its path ids into
// file paths and call read_file and write_file below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../../src/object/patcher.h"

namespace store {

using patcher::t_atom;
using patcher::t_binbuf;

// Replaces the store's content with the messages of a text-form file.
// Returns 0 on success; on any failure (missing, unreadable, too large, not
// text, a number that does not fit its atom) the store is left as it was.
short read_file(t_binbuf *b, const std::string &path);
// The same from a text held in memory, as a file would hold it.
short read_text(t_binbuf *b, const std::string &text);

// Writes the store in text form as the whole of path (see writer.h): a
// failed write leaves the old file whole.  Returns 0 on success.
short write_file(t_binbuf *b, const std::string &path);

// Text form: longs as integers, floats always with a "." or an exponent
// (inf, -inf and nan as such), symbols as words (quoted when needed), and
// message ends as ";".
std::string text(t_binbuf *b);
// Parses the text form.  Returns false (and leaves out alone) on text that
// is not a well-formed store.
bool parse(const std::string &text, std::vector<t_atom> &out);

// How an unquoted word is typed, in a message box, a score and the text
// form alike: an integer literal ([+-]digits) is a long; digits with a "."
// or an exponent ([+-]digits.digits[eE][+-]digits, either part of the
// mantissa may be empty but not both) a float; any other word a symbol.
// The text form also reads inf, -inf, nan and -nan as floats.
enum e_word { WORD_SYMBOL, WORD_LONG, WORD_FLOAT };
e_word classify(const std::string &w);
// The value of a long word; false when it does not fit 32 bits.
bool long_value(const std::string &w, int32_t *v);

// Every atom of a store, message ends as A_SEMI atoms.
std::vector<t_atom> atoms(t_binbuf *b);

// Shortest text that reads back to the same single-precision value, always
// with a "." or an exponent: 1.0, 0.1, 2.5e-07, inf, -inf, nan.
std::string float_text(float f);

} // namespace store
