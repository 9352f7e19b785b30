#pragma once

// libpurple's headers are C and not written for this program's warnings.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#include <purple.h>
#pragma GCC diagnostic pop

#include <QString>

#include <memory>

namespace purpletext {

struct GFreeDeleter
{
    void operator()(char *text) const { g_free(text); }
};
// A text that GLib allocated and that g_free releases.
using GText = std::unique_ptr<char, GFreeDeleter>;

inline QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace purpletext
