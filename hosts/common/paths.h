// Path ids as the hosts with folders keep them (the rule is in patcher.h's
// Files section): a table of folders, registered on first use.  Id 0 is
// the working folder, where relative names are found as they stand.
#pragma once

#include <string>

namespace paths {

// The id of a folder, registered on first use; "" is id 0.  -1 when the
// table is full (ids 0 to 32767), so that no file is looked for elsewhere
// than in the folder asked for.
short path_id(const std::string &dir);

// The folder of an id ("" for 0); false for an id that names none.
bool folder(short id, std::string *dir);

// Length of a name held in a buffer of MAX_FILENAME_CHARS (patcher.h), or
// -1 when the buffer holds no terminated name that fits.
int name_length(const char *name);

// The file a name designates in a path: an absolute name is itself, a
// relative one is in the path's folder.  False for a path that names no
// folder.
bool resolve(const char *name, short id, std::string *path);

// A name designates a file only when it is a regular file (a folder, a
// device or a dangling link is not found).
bool regular_file(const std::string &path);

// A file may be written by replacing it only when nothing is there yet or
// a regular file is: a device, a pipe or a folder of that name is never
// replaced (writing /dev/null would otherwise put a file in its place).
bool replaceable(const std::string &path);

} // namespace paths
