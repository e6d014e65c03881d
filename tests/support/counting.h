// Counts the heap allocations and file opens of the whole process, whichever
// library makes them (a plugin loaded at run time included), by standing in
// for the C library's allocator and its open calls.  A sanitizer brings its
// own allocator, and then nothing can be counted.
#pragma once

namespace counting {

bool available();
// Counting on or off; the counts keep what they held.
void enable(bool on);
long allocations();
long opens();

} // namespace counting
