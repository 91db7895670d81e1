#include "extract/pcm_source.h"

#include <algorithm>

int read_frames(pcm_reader& reader)
{
    if (reader.ended || reader.source.read == nullptr)
        return 0;
    auto count = static_cast<std::int64_t>(reader.source.read(reader.source.context, reader.buffer, audio_read_size));
    // Bound the read to the track: the rest belongs to the next one.
    if (count >= reader.bytes_left) {
        count = std::max<std::int64_t>(reader.bytes_left, 0);
        reader.ended = true;
    }
    reader.bytes_left -= count;
    // A short read is the end of the input: the next one gives nothing.
    return static_cast<int>(count / audio_bytes_per_frame);
}
