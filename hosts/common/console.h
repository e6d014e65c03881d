// The console as every host gives it to the object: post() and error()
// (patcher.h) format their line as printf does, whole, and hand it to the
// host, which shows it as it can (cut to its longest line, or dropped where
// nothing may be shown).
#pragma once

#include <cstddef>

namespace console {

// Where a line goes; each host defines it.  text holds length bytes and a
// terminating zero; is_error tells error() from post().
void line(bool is_error, const char *text, size_t length);

} // namespace console
