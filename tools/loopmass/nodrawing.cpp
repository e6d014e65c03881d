// The picture of a run in a build without Cairo (the cross builds, where
// the target's Cairo cannot be installed beside the build machine's): a
// picture is refused when its file would be opened, so that nothing runs
// and nothing is written.
#include "picture.h"

namespace score {

static const char *const NO_CAIRO = "this loopmass was built without Cairo and draws no pictures";

bool draw_picture(const Picture &, const std::string &, FILE *, std::string &error)
{
    error = NO_CAIRO;
    return false;
}

bool PictureFile::open(const std::string &path, std::string &error)
{
    error = "cannot draw " + path + ": " + NO_CAIRO;
    return false;
}

bool PictureFile::finish(const Picture &, const std::string &, std::string &error)
{
    error = "no file open";
    return false;
}

} // namespace score
