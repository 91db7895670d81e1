// The platform contract on POSIX, a sheet's text: names taken as they
// stand, and text in other encodings read through iconv.
#include "base/platform.h"

#include <iconv.h>

#include <cerrno>
#include <string>

std::string file_name_from_sheet(const char* name) { return name; }

namespace {

struct iconv_closer {
    iconv_t cd;
    ~iconv_closer() { iconv_close(cd); }
};

} // namespace

bool utf8_from_encoding(const char* encoding, std::string_view text, std::string& utf8)
{
    const iconv_t cd = iconv_open("UTF-8", encoding);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    const iconv_closer closer{cd};
    utf8.clear();
    std::string input(text);
    char* in = input.data();
    std::size_t in_left = input.size();
    char buffer[1024];
    while (in_left > 0) {
        char* out = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t done = iconv(cd, &in, &in_left, &out, &out_left);
        utf8.append(buffer, static_cast<std::size_t>(out - buffer));
        if (done != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // A sequence the encoding does not have, or one cut off by the end.
        utf8 += "\xEF\xBF\xBD";
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    iconv(cd, nullptr, nullptr, &out, &out_left);   // a stateful encoding's return to its first state
    utf8.append(buffer, static_cast<std::size_t>(out - buffer));
    return true;
}
