#include "cue/file_decoders.h"

#include "base/platform.h"
#include "cue/sector_codes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t mode1_user_data_size = 2048;
constexpr int mode1_user_data_offset = 16;

// Reads a file's bytes, from a file of our own (seeking only where the last
// read did not end) or from the part's source.
struct file_reader {
    file_stream file;
    std::unique_ptr<part_decoder> source;
    std::int64_t position = -1;

    explicit file_reader(const bin_part& part)
    {
        if (part.source) {
            bin_part whole = part;
            whole.file_offset = 0;
            source = part.source(whole);
        } else {
            file = open_regular_file(part.path.c_str());
        }
    }
    bool opened() const { return file != nullptr || source != nullptr; }

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size)
    {
        if (source)
            return source->read(offset, buffer, size);
        if (position != offset && !seek_to(file.get(), offset)) {
            position = -1;
            return 0;
        }
        const std::size_t got = std::fread(buffer, 1, size, file.get());
        position = offset + static_cast<std::int64_t>(got);
        return got;
    }
};

class motorola_decoder final : public part_decoder {
public:
    explicit motorola_decoder(const bin_part& part) : in_(part), offset_(part.file_offset) {}
    bool opened() const { return in_.opened(); }

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            // Whole pairs from an even offset, so that each sample is swapped whole.
            const std::int64_t at = offset + static_cast<std::int64_t>(done);
            const std::int64_t pair_start = at & ~std::int64_t{1};
            const std::size_t wanted = std::min(sizeof pairs_, (size - done + 2) & ~std::size_t{1});
            const std::size_t got = in_.read(offset_ + pair_start, pairs_, wanted);
            std::memset(pairs_ + got, 0, wanted - got);   // silence after the file's end
            for (std::size_t i = 0; i + 1 < wanted; i += 2)
                std::swap(pairs_[i], pairs_[i + 1]);
            const auto skip = static_cast<std::size_t>(at - pair_start);
            const std::size_t count = std::min(size - done, wanted - skip);
            std::memcpy(buffer + done, pairs_ + skip, count);
            done += count;
        }
        return done;
    }

private:
    file_reader in_;
    std::int64_t offset_;
    unsigned char pairs_[16384];
};

class mode1_user_data_decoder final : public part_decoder {
public:
    mode1_user_data_decoder(const bin_part& part, std::int32_t first_lba)
        : in_(part), offset_(part.file_offset), lba_(first_lba)
    {
    }
    bool opened() const { return in_.opened(); }

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const std::int64_t at = offset + static_cast<std::int64_t>(done);
            const std::int64_t sector = at / raw_sector_size;
            if (sector != made_ && !make_sector(sector))
                return done;
            const auto from = static_cast<std::size_t>(at - sector * raw_sector_size);
            const std::size_t count = std::min(size - done, sizeof sector_ - from);
            std::memcpy(buffer + done, sector_ + from, count);
            done += count;
        }
        return done;
    }

private:
    bool make_sector(std::int64_t sector)
    {
        made_ = -1;
        unsigned char* user_data = sector_ + mode1_user_data_offset;
        const std::int64_t from = offset_ + sector * mode1_user_data_size;
        if (in_.read(from, user_data, mode1_user_data_size) != mode1_user_data_size)
            return false;
        encode_mode1_sector(sector_, static_cast<std::int32_t>(lba_ + sector));
        made_ = sector;
        return true;
    }

    file_reader in_;
    std::int64_t offset_;
    std::int64_t lba_;
    std::int64_t made_ = -1;   // the sector the buffer holds
    unsigned char sector_[raw_sector_size] = {};
};

class silence_decoder final : public part_decoder {
public:
    std::size_t read(std::int64_t, unsigned char* buffer, std::size_t size) override
    {
        std::memset(buffer, 0, size);
        return size;
    }
};

template <typename Decoder>
std::unique_ptr<part_decoder> opened_or_null(std::unique_ptr<Decoder> decoder)
{
    if (!decoder->opened())
        return nullptr;
    return decoder;
}

} // namespace

decoder_maker motorola_decoder_maker()
{
    return [](const bin_part& part) { return opened_or_null(std::make_unique<motorola_decoder>(part)); };
}

decoder_maker mode1_user_data_decoder_maker(std::int32_t first_lba)
{
    return [first_lba](const bin_part& part) {
        return opened_or_null(std::make_unique<mode1_user_data_decoder>(part, first_lba));
    };
}

decoder_maker silence_decoder_maker()
{
    return [](const bin_part&) -> std::unique_ptr<part_decoder> { return std::make_unique<silence_decoder>(); };
}
