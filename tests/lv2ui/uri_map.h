// The URID map the window's and the display's tests hand their instances:
// one list of URIs for the whole test program.
#pragma once

#include <string>
#include <vector>

#include <lv2/urid/urid.h>

namespace lv2uitest {

inline LV2_URID map_uri(LV2_URID_Map_Handle, const char *uri)
{
    static std::vector<std::string> uris;
    for (size_t i = 0; i < uris.size(); i++)
        if (uris[i] == uri)
            return (LV2_URID)(i + 1);
    uris.push_back(uri);
    return (LV2_URID)uris.size();
}

} // namespace lv2uitest
