// Path ids: a table of folders, one per process and host.

#include "paths.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "../../src/object/patcher.h"

namespace paths {

namespace {

// Ids are shorts: 0 to 32767.
const size_t MAX_IDS = 32768;

std::vector<std::string> &table()
{
    static std::vector<std::string> dirs(1, std::string());
    return dirs;
}

} // namespace

short path_id(const std::string &dir)
{
    std::vector<std::string> &dirs = table();
    for (size_t i = 0; i < dirs.size(); i++)
        if (dirs[i] == dir)
            return (short)i;
    if (dirs.size() >= MAX_IDS)
        return -1;
    dirs.push_back(dir);
    return (short)(dirs.size() - 1);
}

int name_length(const char *name)
{
    if (!name)
        return -1;
    const void *end = std::memchr(name, '\0', patcher::MAX_FILENAME_CHARS);
    return end ? (int)((const char *)end - name) : -1;
}

bool folder(short id, std::string *dir)
{
    std::vector<std::string> &dirs = table();
    if (id < 0 || (size_t)id >= dirs.size())
        return false;
    *dir = dirs[(size_t)id];
    return true;
}

bool resolve(const char *name, short id, std::string *path)
{
    std::string dir;
    if (name[0] == '/')
        dir.clear();
    else if (!folder(id, &dir))
        return false;
    *path = dir.empty() ? std::string(name) : dir + "/" + name;
    return true;
}

bool regular_file(const std::string &path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool replaceable(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

} // namespace paths
