// A file the command line writes whole or not at all: under a temporary
// name next to its target, renamed over the target once complete, so that
// a failed run never leaves half a file.  A name that holds anything but a
// regular file (a device, a pipe, a folder) is refused, never replaced.
#pragma once

#include <cstdio>
#include <string>

namespace score {

class OutFile {
public:
    OutFile() = default;
    OutFile(const OutFile &) = delete;
    OutFile &operator=(const OutFile &) = delete;
    ~OutFile(); // an unfinished file is closed and removed

    // Opens the temporary file.  On failure fills error and returns false.
    bool open(const std::string &path, std::string &error);
    FILE *stream() const { return file_; }
    const std::string &path() const { return path_; }
    // Closes the temporary file and renames it to its name.
    bool finish(std::string &error);
    // Closes and removes the temporary file, if one is open.
    void discard();

private:
    std::string path_;
    std::string temp_;
    FILE *file_ = nullptr;
};

} // namespace score
