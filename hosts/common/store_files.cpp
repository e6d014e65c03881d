// The store's files.

#include "store_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "paths.h"
#include "store_text.h"
#include "writer.h"

namespace store {

using namespace patcher;

const size_t MAX_FILE_BYTES = 64u << 20;

namespace {

bool is_control(unsigned char c)
{
    return c < 0x20 || c == 0x7f;
}

} // namespace

short read_file(t_binbuf *b, const std::string &path)
{
    if (!b)
        return 1;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (unsigned long long)st.st_size > MAX_FILE_BYTES) {
        ::close(fd);
        return 1;
    }
    // Read one byte more than allowed, in case the file grew since fstat.
    std::string content;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || content.size() + (size_t)n > MAX_FILE_BYTES) {
            ::close(fd);
            return 1;
        }
        if (n == 0)
            break;
        content.append(buf, (size_t)n);
    }
    ::close(fd);
    return read_text(b, content);
}

short read_text(t_binbuf *b, const std::string &text)
{
    if (!b || text.size() > MAX_FILE_BYTES)
        return 1;
    for (unsigned char c : text)
        if (is_control(c) && c != '\t' && c != '\r' && c != '\n')
            return 1;
    std::vector<t_atom> parsed;
    if (!parse(text, parsed))
        return 1;
    replace(b, parsed);
    return 0;
}

short write_file(t_binbuf *b, const std::string &path)
{
    std::string error;
    return b && writer::write_whole(path, text(b), error) ? 0 : 1;
}

short read_named(t_binbuf *b, const char *name, short vol, short binary)
{
    std::string path;
    if (binary || paths::name_length(name) <= 0 || !paths::resolve(name, vol, &path))
        return 1;
    return read_file(b, path);
}

short write_named(t_binbuf *b, const char *name, short vol, short binary)
{
    std::string path;
    if (binary || paths::name_length(name) <= 0 || !paths::resolve(name, vol, &path))
        return 1;
    return write_file(b, path);
}

} // namespace store
