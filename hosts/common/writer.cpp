// Files written whole or not at all, by a temporary file renamed over them.

#include "writer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "paths.h"

namespace writer {

namespace {

std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A hidden name in the target's folder, so that the rename stays within
// one file system and a listing of the folder does not show it.
std::string temp_template(const std::string &path)
{
    const std::string dir = folder_of(path);
    const std::string base = path.substr(path.rfind('/') + 1);
    return (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
}

bool read_umask(mode_t *mask)
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string status;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            status.append(buf, (size_t)n);
    ::close(fd);
    return n == 0 && umask_from_status(status, mask);
}

// The mode of the file it replaces, else what creating it would give; false
// when neither is known.
bool target_mode(const std::string &path, mode_t *mode)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        *mode = st.st_mode & 07777;
        return true;
    }
    mode_t mask;
    if (!read_umask(&mask))
        return false;
    *mode = 0666 & ~mask;
    return true;
}

// Makes a finished rename durable.  A failure here is not reported: the
// new file is already whole in its place, and the old one is gone.
void sync_folder(const std::string &path)
{
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool umask_from_status(const std::string &status, mode_t *mask)
{
    const std::string key = "\nUmask:";
    const std::string text = "\n" + status;
    size_t at = text.find(key);
    if (at == std::string::npos)
        return false;
    at = text.find_first_not_of(" \t", at + key.size());
    mode_t value = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '7'; at++, digits++)
        value = value * 8 + (mode_t)(text[at] - '0');
    if (digits == 0 || digits > 4 || value > 0777 || (at < text.size() && text[at] != '\n'))
        return false;
    *mask = value;
    return true;
}

Replacement::~Replacement()
{
    discard();
}

void Replacement::discard()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
    unlink(temp_.c_str());
}

bool Replacement::fail(const char *reason, std::string &error)
{
    error = "cannot write " + path_ + ": " + reason;
    discard();
    return false;
}

bool Replacement::open(const std::string &path, std::string &error)
{
    discard();
    path_ = path;
    if (!paths::replaceable(path))
        return fail("not a regular file", error);
    std::string name = temp_template(path);
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    fd_ = mkostemp(buf.data(), O_CLOEXEC);
    if (fd_ < 0)
        return fail(std::strerror(errno), error);
    temp_ = buf.data();
    mode_t mode;
    if (target_mode(path, &mode) && fchmod(fd_, mode) != 0)
        return fail(std::strerror(errno), error);
    return true;
}

bool Replacement::append(const std::string &bytes, std::string &error)
{
    if (fd_ < 0)
        return fail(std::strerror(EBADF), error);
    const char *p = bytes.data();
    size_t n = bytes.size();
    while (n > 0) {
        const ssize_t done = ::write(fd_, p, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done == 0)
            errno = EIO; // a write of nothing sets no reason of its own
        if (done <= 0)
            return fail(std::strerror(errno), error);
        p += done;
        n -= (size_t)done;
    }
    return true;
}

bool Replacement::commit(std::string &error)
{
    if (fd_ < 0) {
        error = "no file open";
        return false;
    }
    // The descriptor is closed whatever the sync gave; the first failure
    // is the one reported.
    int failure = fsync(fd_) == 0 ? 0 : errno;
    if (::close(fd_) != 0 && failure == 0)
        failure = errno;
    fd_ = -1;
    if (failure == 0 && rename(temp_.c_str(), path_.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        unlink(temp_.c_str());
        error = "cannot write " + path_ + ": " + std::strerror(failure);
        return false;
    }
    sync_folder(path_);
    return true;
}

bool write_whole(const std::string &path, const std::string &bytes, std::string &error)
{
    Replacement file;
    return file.open(path, error) && file.append(bytes, error) && file.commit(error);
}

} // namespace writer
