// The symbol table and the message store (binbuf) that every host shares,
// with its cursor units: the object's in-memory format, so every host uses
// this implementation.  The store's text form is in store_text.h, its files
// in store_files.h.
#pragma once

#include <vector>

#include "../../src/object/patcher.h"

namespace store {

using patcher::t_atom;
using patcher::t_binbuf;

// An atom of that type whose value's bytes are all zero.
t_atom zero_atom(short type);

// Every atom of a store, message ends as A_SEMI atoms.
std::vector<t_atom> atoms(t_binbuf *b);

// Replaces the store's content with atoms (which it takes).
void replace(t_binbuf *b, std::vector<t_atom> &atoms);

} // namespace store
