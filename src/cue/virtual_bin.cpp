#include "cue/virtual_bin.h"

#include "base/platform.h"
#include "cue/source_feed.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

// Opens the part that holds offset, unless it is open already: its file, or
// its decoder. False at the end of the BIN or when it cannot be opened.
bool open_part_holding(bin_reader& reader, std::int64_t offset)
{
    const std::vector<bin_part>& parts = reader.bin->parts;
    std::size_t index = 0;
    while (index < parts.size() && offset >= parts[index].first_byte + parts[index].bytes)
        ++index;
    if (index == parts.size())
        return false;
    if ((reader.file || reader.decoder) && reader.part == index)
        return true;
    reader.file.reset();
    reader.decoder.reset();
    reader.part = index;
    reader.position = -1;
    if (parts[index].decoder) {
        reader.decoder = parts[index].decoder(parts[index]);
        return reader.decoder != nullptr;
    }
    reader.file = open_regular_file(parts[index].path.c_str());
    if (!reader.file)
        return false;
    // Reads come in whole blocks of sectors; a stdio buffer would only split
    // each into two system calls and add a copy.
    std::setvbuf(reader.file.get(), nullptr, _IONBF, 0);
    return true;
}

// Moves what the open part's decoder gave as zeros for damage to the
// reader, placed in the virtual BIN; a stretch that meets or overlaps the
// last one (a sector read in two parts), for the same reason, joins it.
void take_damage(bin_reader& reader)
{
    const std::int64_t part_start = reader.bin->parts[reader.part].first_byte;
    for (damaged_bytes& stretch : reader.decoder->damage) {
        stretch.first_byte += part_start;
        damaged_bytes* last = reader.damage.empty() ? nullptr : &reader.damage.back();
        if (last != nullptr && last->why == stretch.why && last->first_byte <= stretch.first_byte &&
            last->first_byte + last->count >= stretch.first_byte)
            last->count = std::max(last->count, stretch.first_byte + stretch.count - last->first_byte);
        else
            reader.damage.push_back(std::move(stretch));
    }
    reader.decoder->damage.clear();
}

std::size_t read_decoded(bin_reader& reader, std::int64_t in_part, unsigned char* buffer, std::size_t size)
{
    const std::size_t got = reader.decoder->read(in_part, buffer, size);
    if (!reader.decoder->damage.empty())
        take_damage(reader);
    return got;
}

// Reads up to size bytes of the open part from in_part, its own offset.
std::size_t read_part(bin_reader& reader, std::int64_t in_part, unsigned char* buffer, std::size_t size)
{
    if (reader.decoder)
        return read_decoded(reader, in_part, buffer, size);
    const std::int64_t at = reader.bin->parts[reader.part].file_offset + in_part;
    if (reader.position != at && !seek_to(reader.file.get(), at))
        return 0;
    const std::size_t got = std::fread(buffer, 1, size, reader.file.get());
    reader.position = at + static_cast<std::int64_t>(got);
    return got;
}

using byte_reader = std::size_t (*)(bin_reader& reader, std::int64_t at, unsigned char* buffer, std::size_t size);

// Through the buffer: read and written in turns, from `at` on.
byte_copy copy_through_buffer(bin_reader& reader, byte_reader read, std::int64_t at, std::int64_t count,
                              std::FILE* to, unsigned char* buffer, std::size_t buffer_size)
{
    byte_copy done{0, 0};
    while (done.copied < count) {
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(count - done.copied,
                                                                            static_cast<std::int64_t>(buffer_size)));
        const std::size_t got = read(reader, at + done.copied, buffer, wanted);
        if (got > 0 && std::fwrite(buffer, 1, got, to) != got) {
            done.write_error = errno != 0 ? errno : EIO;
            break;
        }
        done.copied += static_cast<std::int64_t>(got);
        if (got < wanted)
            break;
    }
    return done;
}

// The part of a read that continues the check's range where it stands.
void check_bytes(range_check& check, std::int64_t offset, const unsigned char* bytes, std::size_t size)
{
    const std::int64_t next = check.first + check.hash.size;
    const std::int64_t end = std::min(offset + static_cast<std::int64_t>(size), check.end);
    if (offset > next || end <= next)
        return;
    const unsigned char* from = bytes + (next - offset);
    const auto count = static_cast<std::size_t>(end - next);
    add_bytes(check.hash, from, count);
    if (!check.nonzero)
        check.nonzero = std::any_of(from, from + count, [](unsigned char byte) { return byte != 0; });
}

} // namespace

std::size_t pass_rank_at(const virtual_bin& bin, std::int64_t at)
{
    for (const bin_part& part : bin.parts)
        if (at < part.first_byte + part.bytes)
            return part.pass_rank;
    return bin.parts.empty() ? 0 : bin.parts.back().pass_rank;
}

bin_part file_part(std::string path, std::int64_t first_byte, std::int64_t bytes, std::int64_t file_offset)
{
    bin_part part;
    part.path = std::move(path);
    part.first_byte = first_byte;
    part.bytes = bytes;
    part.file_offset = file_offset;
    return part;
}

std::size_t read_bin(bin_reader& reader, std::int64_t offset, unsigned char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (offset >= 0 && done < size) {
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        if (!open_part_holding(reader, at))
            break;
        const bin_part& part = reader.bin->parts[reader.part];
        const std::int64_t in_part = at - part.first_byte;
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(size - done), part.bytes - in_part));
        const std::size_t got = read_part(reader, in_part, buffer + done, wanted);
        done += got;
        if (got < wanted)
            break;
    }
    if (reader.feed != nullptr && done > 0)
        feed_bin_bytes(*reader.feed, reader.feed_owner, offset, buffer, done);
    if (reader.check != nullptr && done > 0)
        check_bytes(*reader.check, offset, buffer, done);
    return done;
}

bool holds_nonzero_byte(bin_reader& reader, std::int64_t offset, std::int64_t size)
{
    unsigned char block[16 * raw_sector_size];
    for (std::int64_t done = 0; done < size;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size - done, sizeof block));
        const std::size_t got = read_bin(reader, offset + done, block, wanted);
        if (std::any_of(block, block + got, [](unsigned char byte) { return byte != 0; }))
            return true;
        if (got < wanted)
            return false;
        done += static_cast<std::int64_t>(got);
    }
    return false;
}

byte_copy copy_bin(bin_reader& reader, std::int64_t offset, std::int64_t size, std::FILE* to, unsigned char* buffer,
                   std::size_t buffer_size)
{
    // Read and written in turns, so that the feed and the check see the bytes.
    if (reader.feed != nullptr || reader.check != nullptr)
        return offset < 0 ? byte_copy{0, 0}
                          : copy_through_buffer(reader, read_bin, offset, size, to, buffer, buffer_size);
    byte_copy done{0, 0};
    while (offset >= 0 && done.copied < size) {
        const std::int64_t at = offset + done.copied;
        if (!open_part_holding(reader, at))
            break;
        const bin_part& part = reader.bin->parts[reader.part];
        const std::int64_t in_part = at - part.first_byte;
        const std::int64_t wanted = std::min(size - done.copied, part.bytes - in_part);
        const byte_copy step =
            reader.decoder ? copy_through_buffer(reader, read_decoded, in_part, wanted, to, buffer, buffer_size)
                           : copy_bytes(reader.file.get(), part.file_offset + in_part, to, wanted, buffer, buffer_size);
        reader.position = -1;   // copy_bytes leaves it undefined
        done.copied += step.copied;
        done.write_error = step.write_error;
        if (step.copied < wanted)
            break;
    }
    return done;
}
