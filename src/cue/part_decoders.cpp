#include "cue/part_decoders.h"

#include "base/platform.h"
#include "cue/sector_codes.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int iso_block = 2048;
constexpr int sector = 2352;

class zeros_part final : public part_decoder {
public:
    std::size_t read(std::int64_t, unsigned char* buffer, std::size_t size) override
    {
        std::memset(buffer, 0, size);
        return size;
    }
};

class bytes_part final : public part_decoder {
public:
    explicit bytes_part(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        if (offset < 0 || offset >= static_cast<std::int64_t>(bytes_->size()))
            return 0;
        const std::size_t count = std::min(size, bytes_->size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, bytes_->data() + offset, count);
        return count;
    }

private:
    std::shared_ptr<const std::string> bytes_;
};

// A .iso read back as raw sectors, a few at a time.
class iso_part final : public part_decoder {
public:
    iso_part(const std::string& path, bool mode2, std::int64_t first_lba,
             std::shared_ptr<const std::vector<sector_run>> zeros)
        : file_(open_regular_file(path.c_str())), mode2_(mode2), first_lba_(first_lba), zeros_(std::move(zeros))
    {
    }
    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const std::int64_t at = offset + static_cast<std::int64_t>(done);
            const std::int64_t index = at / sector;
            if ((index < cached_first_ || index >= cached_first_ + cached_) && !fill(index))
                break;
            const std::int64_t in_cache = at - cached_first_ * sector;
            const std::size_t count =
                std::min(size - done, static_cast<std::size_t>(cached_ * sector - in_cache));
            std::memcpy(buffer + done, sectors_ + in_cache, count);
            done += count;
        }
        return done;
    }

private:
    static constexpr int batch = 16;
    bool fill(std::int64_t index)
    {
        cached_ = 0;
        cached_first_ = index;
        unsigned char blocks[batch * iso_block];
        if (!file_ || !seek_to(file_.get(), index * iso_block))
            return false;
        const auto count = static_cast<int>(std::fread(blocks, iso_block, batch, file_.get()));
        for (int i = 0; i < count; ++i) {
            if (is_zero_sector(index + i))
                std::memset(sectors_ + i * sector, 0, sector);
            else
                regenerate_sector(sectors_ + i * sector, blocks + i * iso_block,
                                  static_cast<std::int32_t>(first_lba_ + index + i), mode2_);
        }
        cached_ = count;
        return count > 0;
    }
    bool is_zero_sector(std::int64_t index) const
    {
        return std::any_of(zeros_->begin(), zeros_->end(), [index](const sector_run& run) {
            return run.first <= index && index < run.first + run.count;
        });
    }
    file_stream file_;
    bool mode2_;
    std::int64_t first_lba_;
    std::shared_ptr<const std::vector<sector_run>> zeros_;
    unsigned char sectors_[batch * sector];
    std::int64_t cached_first_ = -1;
    std::int64_t cached_ = 0;
};

// An Ogg Vorbis file through our own stream, so that every platform opens
// its name alike.
struct ogg_input {
    file_stream file;
    std::int64_t position = 0;
};

std::size_t ogg_read(void* bytes, std::size_t size, std::size_t count, void* context)
{
    auto& input = *static_cast<ogg_input*>(context);
    const std::size_t got = std::fread(bytes, size, count, input.file.get());
    input.position += static_cast<std::int64_t>(got * size);
    return got;
}

int ogg_seek(void* context, ogg_int64_t offset, int whence)
{
    auto& input = *static_cast<ogg_input*>(context);
    std::int64_t target = offset;
    if (whence == SEEK_CUR)
        target += input.position;
    else if (whence == SEEK_END)
        target += file_size(input.file.get());
    if (!seek_to(input.file.get(), target))
        return -1;
    input.position = target;
    return 0;
}

long ogg_tell(void* context) { return static_cast<long>(static_cast<ogg_input*>(context)->position); }

class vorbis_part final : public part_decoder {
public:
    explicit vorbis_part(const std::string& path)
    {
        input_.file = open_regular_file(path.c_str());
        const ov_callbacks callbacks{ogg_read, ogg_seek, nullptr, ogg_tell};
        open_ = input_.file && ov_open_callbacks(&input_, &file_, nullptr, 0, callbacks) == 0;
        const vorbis_info* info = open_ ? ov_info(&file_, -1) : nullptr;
        stereo_ = info != nullptr && info->channels == 2 && info->rate == 44100;
    }
    ~vorbis_part() override
    {
        if (open_)
            ov_clear(&file_);
    }
    vorbis_part(const vorbis_part&) = delete;
    vorbis_part& operator=(const vorbis_part&) = delete;

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        if (!stereo_ || (offset != position_ && !seek(offset)))
            return 0;
        std::size_t done = 0;
        int section = 0;
        while (done < size) {
            const long got = ov_read(&file_, reinterpret_cast<char*>(buffer + done),
                                     static_cast<int>(std::min<std::size_t>(size - done, 65536)), 0, 2, 1, &section);
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        position_ += static_cast<std::int64_t>(done);
        return done;
    }
    std::int64_t total_bytes() { return stereo_ ? ov_pcm_total(&file_, -1) * 4 : -1; }

private:
    bool seek(std::int64_t offset)
    {
        if (ov_pcm_seek(&file_, offset / 4) != 0)
            return false;
        position_ = offset - offset % 4;
        unsigned char skipped[4];
        return offset % 4 == 0 || read(position_, skipped, static_cast<std::size_t>(offset % 4)) > 0;
    }
    ogg_input input_;
    OggVorbis_File file_{};
    bool open_ = false;
    bool stereo_ = false;
    std::int64_t position_ = 0;
};

} // namespace

bin_part decoded_part(std::int64_t first_byte, std::int64_t bytes, decoder_maker decoder)
{
    bin_part part;
    part.first_byte = first_byte;
    part.bytes = bytes;
    part.decoder = std::move(decoder);
    return part;
}

decoder_maker zeros_decoder()
{
    return [](const bin_part&) { return std::make_unique<zeros_part>(); };
}

decoder_maker bytes_decoder(std::string bytes)
{
    auto kept = std::make_shared<const std::string>(std::move(bytes));
    return [kept](const bin_part&) { return std::make_unique<bytes_part>(kept); };
}

decoder_maker iso_decoder(std::string path, bool mode2, std::int64_t first_lba, std::vector<sector_run> zero_sectors)
{
    auto zeros = std::make_shared<const std::vector<sector_run>>(std::move(zero_sectors));
    return [path, mode2, first_lba, zeros](const bin_part&) {
        return std::make_unique<iso_part>(path, mode2, first_lba, zeros);
    };
}

decoder_maker vorbis_decoder(std::string path)
{
    return [path](const bin_part&) { return std::make_unique<vorbis_part>(path); };
}

std::int64_t vorbis_audio_bytes(const std::string& path) { return vorbis_part(path).total_bytes(); }
