#include "cue/file_kind.h"

#include "base/platform.h"
#include "cue/cue_sheet.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

constexpr std::size_t head_size = 64 * 1024;   // enough for an ISO 9660 volume descriptor at 32 KB

// Text whose mark says it is UTF-8 or UTF-16, and was read so.
bool has_byte_order_mark(const std::vector<unsigned char>& head)
{
    const auto starts = [&head](std::initializer_list<unsigned char> mark) {
        return head.size() >= mark.size() && std::equal(mark.begin(), mark.end(), head.begin());
    };
    return starts({0xEF, 0xBB, 0xBF}) || starts({0xFF, 0xFE}) || starts({0xFE, 0xFF});
}

// A raw CD data sector starts with twelve bytes of sync: 00, ten FF, 00.
bool starts_with_sync(const std::vector<unsigned char>& head)
{
    static constexpr unsigned char sync[12] = {0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0};
    return head.size() >= sizeof sync && std::memcmp(head.data(), sync, sizeof sync) == 0;
}

// An ISO 9660 image: "CD001" in the volume descriptor of sector 16.
bool is_iso_image(const std::vector<unsigned char>& head)
{
    constexpr std::size_t at = 16 * 2048 + 1;
    return head.size() >= at + 5 && std::memcmp(head.data() + at, "CD001", 5) == 0;
}

// UTF-16 text of Latin letters without a mark: every other byte is zero,
// the others are not.
bool looks_like_utf16(const std::vector<unsigned char>& head)
{
    const std::size_t pairs = std::min<std::size_t>(head.size(), 512) / 2;
    if (pairs < 4)
        return false;
    std::size_t zero_high = 0;
    std::size_t zero_low = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        zero_high += head[2 * i] != 0 && head[2 * i + 1] == 0 ? 1 : 0;
        zero_low += head[2 * i] == 0 && head[2 * i + 1] != 0 ? 1 : 0;
    }
    return std::max(zero_high, zero_low) * 10 >= pairs * 9;
}

// Bytes no text holds: controls other than tab, line ends and form feed.
bool holds_binary_bytes(const std::vector<unsigned char>& head)
{
    return std::any_of(head.begin(), head.end(), [](unsigned char c) {
        return c < 32 && c != '\t' && c != '\n' && c != '\r' && c != '\f';
    });
}

} // namespace

std::string describe_non_sheet(std::FILE* file)
{
    std::vector<unsigned char> head(head_size);
    head.resize(seek_to(file, 0) ? std::fread(head.data(), 1, head.size(), file) : 0);
    if (head.empty())
        return "it is empty";
    if (has_byte_order_mark(head))
        return "its text has no FILE or TRACK line";
    // An audio BIN has no sync; its size tells it, unless it was cut.
    const bool whole_sectors = file_size(file) % raw_sector_size == 0;
    if (starts_with_sync(head) || (whole_sectors && holds_binary_bytes(head)))
        return "it looks like a BIN of raw CD sectors; give the .cue sheet that names it instead";
    if (is_iso_image(head))
        return "it looks like an ISO 9660 image, which is one data track already";
    if (looks_like_utf16(head))
        return "it looks like UTF-16 text without a byte-order mark; save it as UTF-8, or as UTF-16 with its mark";
    if (holds_binary_bytes(head))
        return "it holds binary data; give the .cue sheet of the image instead";
    return "its text has no FILE or TRACK line";
}
