// The one way the project writes a file, whatever the file (a bank, a
// sound, a picture): whole or not at all.  The bytes go to a temporary file
// in the target's folder, which is synced and then renamed over the target,
// so that a reader, or the machine after a crash, sees the old file or the
// new one and never a part of either.  A name that holds anything but a
// regular file (a device, a pipe, a folder) is refused, never replaced.
//
// The new file has the mode of the file it replaces, or for a file that is
// new the mode creating it would give (0666 less the umask).  The umask is
// read from /proc/self/status and never set: setting it, even for a moment,
// would give the wrong mode to a file another thread of a plugin host
// creates meanwhile.  Where /proc does not show it (not mounted, or a
// kernel before 4.7), a new file keeps the temporary file's 0600: its
// owner may widen that, and it never grants more than the umask meant to.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace writer {

class Replacement {
public:
    Replacement() = default;
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;
    ~Replacement(); // an unfinished file is removed

    // Creates the temporary file with the mode the file will have.  Every
    // failure below gives its message, "cannot write PATH: REASON", and
    // returns false.
    bool open(const std::string &path, std::string &error);
    // The temporary file, for a library that writes and seeks by itself;
    // -1 when none is open.  It stays the writer's to close.
    int fd() const { return fd_; }
    const std::string &path() const { return path_; }
    // Appends bytes at the file's offset; on failure the temporary file is
    // removed.
    bool append(const std::string &bytes, std::string &error);
    // Syncs the file, renames it over the target and syncs the folder.
    // On failure the target is as it was and the temporary file is removed.
    bool commit(std::string &error);
    // Closes and removes the temporary file, if one is open.
    void discard();

private:
    bool fail(const char *reason, std::string &error);

    std::string path_;
    std::string temp_;
    int fd_ = -1;
};

// Writes bytes as the whole content of path.  On failure the old file is
// as it was and error says why.
bool write_whole(const std::string &path, const std::string &bytes, std::string &error);

// The umask as a /proc/PID/status text gives it on its "Umask:" line; false
// when the text has no such line.
bool umask_from_status(const std::string &status, mode_t *mask);

} // namespace writer
