#include "cue/virtual_bin.h"

#include "base/platform.h"

#include <algorithm>

namespace {

// Opens the part that holds offset, unless it is open already. Null at the
// end of the BIN or when the file cannot be opened.
std::FILE* file_holding(bin_reader& reader, std::int64_t offset)
{
    const std::vector<bin_part>& parts = reader.bin->parts;
    std::size_t index = 0;
    while (index < parts.size() && offset >= parts[index].first_byte + parts[index].bytes)
        ++index;
    if (index == parts.size())
        return nullptr;
    if (reader.file && reader.part == index)
        return reader.file.get();
    reader.file = open_regular_file(parts[index].path.c_str());
    reader.part = index;
    reader.position = -1;
    if (!reader.file)
        return nullptr;
    // Reads come in whole blocks of sectors; a stdio buffer would only split
    // each into two system calls and add a copy.
    std::setvbuf(reader.file.get(), nullptr, _IONBF, 0);
    return reader.file.get();
}

} // namespace

std::size_t read_bin(bin_reader& reader, std::int64_t offset, unsigned char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (offset >= 0 && done < size) {
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        std::FILE* file = file_holding(reader, at);
        if (file == nullptr)
            break;
        const bin_part& part = reader.bin->parts[reader.part];
        const std::int64_t in_part = at - part.first_byte;
        if (reader.position != in_part && !seek_to(file, in_part))
            break;
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(size - done), part.bytes - in_part));
        const std::size_t got = std::fread(buffer + done, 1, wanted, file);
        reader.position = in_part + static_cast<std::int64_t>(got);
        done += got;
        if (got < wanted)
            break;
    }
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
    byte_copy done{0, 0};
    while (offset >= 0 && done.copied < size) {
        const std::int64_t at = offset + done.copied;
        std::FILE* file = file_holding(reader, at);
        if (file == nullptr)
            break;
        const bin_part& part = reader.bin->parts[reader.part];
        const std::int64_t in_part = at - part.first_byte;
        const std::int64_t wanted = std::min(size - done.copied, part.bytes - in_part);
        const byte_copy step = copy_bytes(file, in_part, to, wanted, buffer, buffer_size);
        reader.position = -1;   // copy_bytes leaves it undefined
        done.copied += step.copied;
        done.write_error = step.write_error;
        if (step.copied < wanted)
            break;
    }
    return done;
}
