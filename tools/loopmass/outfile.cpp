#include "outfile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "paths.h"

namespace score {

OutFile::~OutFile()
{
    discard();
}

void OutFile::discard()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
        std::remove(temp_.c_str());
    }
}

bool OutFile::open(const std::string &path, std::string &error)
{
    discard();
    path_ = path;
    if (!paths::replaceable(path)) {
        error = "cannot write " + path + ": not a regular file";
        return false;
    }
    temp_ = path + ".tmp" + std::to_string((long)getpid());
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_)
        error = "cannot write " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
}

bool OutFile::finish(std::string &error)
{
    if (!file_) {
        error = "no file open";
        return false;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        std::remove(temp_.c_str());
        return false;
    }
    return true;
}

} // namespace score
