// Files of the in-process host: locating files, scripted dialogs and the
// store's file operations, as the Files rule of patcher.h says.  Path id 0
// is the current working directory; the others are directories that
// dialogs answered with.

#include <cerrno>
#include <cstring>
#include <deque>
#include <unistd.h>

#include "../common/paths.h"
#include "../common/store_files.h"
#include "headless.h"

namespace headless {

namespace {

// A queued dialog answer: a path, or a cancel when cancelled is set.
struct Answer {
    bool cancelled;
    std::string path;
};

std::deque<Answer> answers;

// The file a name designates in a path id; "" when the id is unknown.
std::string resolve(const char *name, short vol)
{
    std::string path;
    return paths::resolve(name, vol, &path) ? path : std::string();
}

bool accepts_text(const patcher::t_fourcc *types, short n)
{
    if (!types || n <= 0)
        return true;
    for (short i = 0; i < n; i++)
        if (types[i] == patcher::FOUR_CHAR_TEXT)
            return true;
    return false;
}

std::string working_dir()
{
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE)
            return ".";
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

// Takes the next queued answer into name, vol and type; 1 when cancelled.
short answer_dialog(char *name, short *vol, patcher::t_fourcc *type)
{
    if (answers.empty())
        return 1;
    Answer a = answers.front();
    answers.pop_front();
    if (a.cancelled || !name)
        return 1;
    size_t slash = a.path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : a.path.substr(0, slash);
    std::string base = slash == std::string::npos ? a.path : a.path.substr(slash + 1);
    if (base.empty() || base.size() >= (size_t)patcher::MAX_FILENAME_CHARS)
        return 1;
    if (slash == 0)
        dir = "/";
    else if (dir.empty() || dir[0] != '/')
        dir = working_dir() + (dir.empty() ? "" : "/" + dir);
    short id = paths::path_id(dir);
    if (id < 0)
        return 1;
    std::memcpy(name, base.c_str(), base.size() + 1);
    if (vol)
        *vol = id;
    if (type)
        *type = patcher::FOUR_CHAR_TEXT;
    return 0;
}

} // namespace

void queue_dialog(const std::string &path)
{
    answers.push_back(Answer{false, path});
}

void queue_dialog_cancel(void)
{
    answers.push_back(Answer{true, ""});
}

void clear_dialogs(void)
{
    answers.clear();
}

std::string path_dir(short id)
{
    std::string dir;
    return paths::folder(id, &dir) ? dir : std::string();
}

} // namespace headless

namespace patcher {

short locatefile_extended(char *name, short *outvol, t_fourcc *outtype, const t_fourcc *filetypelist, short numtypes)
{
    int len = paths::name_length(name);
    if (len <= 0 || !outvol || !headless::accepts_text(filetypelist, numtypes))
        return 1;
    short tries[2] = {*outvol, 0};
    for (short vol : tries) {
        if (paths::regular_file(headless::resolve(name, vol))) {
            *outvol = vol;
            if (outtype)
                *outtype = FOUR_CHAR_TEXT;
            return 0;
        }
    }
    return 1;
}

short open_dialog(char *name, short *volptr, t_fourcc *typeptr, t_fourcc *types, short ntypes)
{
    (void)types;
    (void)ntypes;
    return headless::answer_dialog(name, volptr, typeptr);
}

short saveasdialog_extended(char *name, short *vol, t_fourcc *type, t_fourcc *typelist, short numtypes)
{
    (void)typelist;
    (void)numtypes;
    return headless::answer_dialog(name, vol, type);
}

short defvolume(void)
{
    return 0;
}

short binbuf_read(t_binbuf *b, const char *name, short volume, short binary)
{
    return store::read_named(b, name, volume, binary);
}

short binbuf_write(t_binbuf *b, const char *name, short volume, short binary)
{
    return store::write_named(b, name, volume, binary);
}

} // namespace patcher
