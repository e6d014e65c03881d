// The store's files, in its text form (store_text.h).
#pragma once

#include <string>

#include "store.h"

namespace store {

// Replaces the store's content with the messages of a text-form file.
// Returns 0 on success; on any failure (missing, unreadable, too large, not
// text, a number that does not fit its atom) the store is left as it was.
short read_file(t_binbuf *b, const std::string &path);
// The same from a text held in memory, as a file would hold it.
short read_text(t_binbuf *b, const std::string &text);

// Writes the store in text form as the whole of path (see writer.h): a
// failed write leaves the old file whole.  Returns 0 on success.
short write_file(t_binbuf *b, const std::string &path);

// binbuf_read and binbuf_write for a host whose path ids are those of
// paths.h: the file the name designates in path id vol (patcher.h's Files
// rule).  1 for the binary form, which no file of the project has, for a
// name that is empty or does not fit MAX_FILENAME_CHARS, and for a path id
// that names no folder.
short read_named(t_binbuf *b, const char *name, short vol, short binary);
short write_named(t_binbuf *b, const char *name, short vol, short binary);

} // namespace store
