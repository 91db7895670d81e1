#include "cue/part_decoders.h"

#include "base/platform.h"
#include "cue/sector_codes.h"

#include <FLAC/stream_decoder.h>
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

struct flac_decoder_deleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

// A FLAC file's samples, a frame at a time.
class flac_part final : public part_decoder {
public:
    explicit flac_part(const std::string& path) : decoder_(FLAC__stream_decoder_new())
    {
        pending_.reserve(max_block_bytes);
        file_stream file = open_regular_file(path.c_str());
        // The decoder closes the file it is given once initialised with it.
        if (decoder_ && file &&
            FLAC__stream_decoder_init_FILE(decoder_.get(), file.get(), take_frame, take_metadata, take_error,
                                           this) == FLAC__STREAM_DECODER_INIT_STATUS_OK)
            file.release();
        else
            broken_ = true;
    }
    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        if (broken_ || (offset != position_ && !seek(offset)))
            return 0;
        std::size_t done = 0;
        while (done < size && !broken_) {
            if (taken_ == pending_.size()) {
                pending_.clear();
                taken_ = 0;
                if (FLAC__stream_decoder_get_state(decoder_.get()) == FLAC__STREAM_DECODER_END_OF_STREAM ||
                    !FLAC__stream_decoder_process_single(decoder_.get()))
                    break;
                continue;
            }
            const std::size_t count = std::min(size - done, pending_.size() - taken_);
            std::memcpy(buffer + done, pending_.data() + taken_, count);
            taken_ += count;
            done += count;
        }
        position_ += static_cast<std::int64_t>(done);
        return done;
    }
    std::int64_t total_bytes()
    {
        if (!broken_ && total_samples_ < 0)
            FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get());
        return broken_ || !stereo_cd_audio_ ? -1 : total_samples_ * 4;
    }

private:
    static constexpr std::size_t max_block_bytes = 65535 * 4;

    bool seek(std::int64_t offset)
    {
        pending_.clear();
        taken_ = 0;
        if (FLAC__stream_decoder_seek_absolute(decoder_.get(), static_cast<FLAC__uint64>(offset / 4)) == 0) {
            broken_ = true;
            return false;
        }
        // The decoder hands on the frame that holds the sample from the sample on.
        taken_ = std::min(pending_.size(), static_cast<std::size_t>(offset % 4));
        position_ = offset;
        return true;
    }

    static FLAC__StreamDecoderWriteStatus take_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                     const FLAC__int32* const channels[], void* context)
    {
        auto& self = *static_cast<flac_part*>(context);
        if (frame->header.channels != 2 || frame->header.bits_per_sample != 16) {
            self.broken_ = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const std::size_t at = self.pending_.size();
        self.pending_.resize(at + std::size_t{frame->header.blocksize} * 4);
        unsigned char* out = self.pending_.data() + at;
        for (unsigned i = 0; i < frame->header.blocksize; ++i)
            for (int channel = 0; channel < 2; ++channel) {
                const auto sample = static_cast<std::uint16_t>(channels[channel][i]);
                *out++ = static_cast<unsigned char>(sample & 0xFF);
                *out++ = static_cast<unsigned char>(sample >> 8);
            }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void take_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* context)
    {
        auto& self = *static_cast<flac_part*>(context);
        if (block->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
        self.total_samples_ = static_cast<std::int64_t>(info.total_samples);
        self.stereo_cd_audio_ = info.channels == 2 && info.bits_per_sample == 16 && info.sample_rate == 44100;
    }
    // A damaged frame is decoded as what the library makes of it: the
    // bytes then differ, which the caller's check shows.
    static void take_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

    std::unique_ptr<FLAC__StreamDecoder, flac_decoder_deleter> decoder_;
    std::vector<unsigned char> pending_;   // decoded and not yet read
    std::size_t taken_ = 0;
    std::int64_t position_ = 0;
    std::int64_t total_samples_ = -1;
    bool stereo_cd_audio_ = false;
    bool broken_ = false;
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

decoder_maker flac_decoder(std::string path)
{
    return [path](const bin_part&) { return std::make_unique<flac_part>(path); };
}

decoder_maker vorbis_decoder(std::string path)
{
    return [path](const bin_part&) { return std::make_unique<vorbis_part>(path); };
}

std::int64_t flac_audio_bytes(const std::string& path) { return flac_part(path).total_bytes(); }

std::int64_t vorbis_audio_bytes(const std::string& path) { return vorbis_part(path).total_bytes(); }
