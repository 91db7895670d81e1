#include "cue/chd_reader.h"

#include "base/file_stream.h"
#include "base/platform.h"
#include "cue/chd_codecs.h"
#include "cue/cue_sheet.h"
#include "cue/sector_codes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int cached_hunks = 2;
constexpr int mode_data_offset = 16;   // where a MODE1 or MODE2 sector's bytes after its header begin
constexpr int mode1_data_bytes = 2048;
constexpr int mode2_data_bytes = 2336;

// A hunk as decoded, or why it could not be.
struct cached_hunk {
    std::int64_t number = -1;
    const char* failure = nullptr;   // after "hunk N of the CHD "
    std::uint64_t last_use = 0;
    std::vector<unsigned char> bytes;
};

class chd_reader final : public part_decoder {
public:
    chd_reader(std::shared_ptr<const chd_disc> disc, file_stream file)
        : disc_(std::move(disc)), file_(std::move(file)), codecs_(disc_->header.hunk_bytes),
          packed_(disc_->largest_hunk)
    {
        for (cached_hunk& slot : cache_)
            slot.bytes.resize(disc_->header.hunk_bytes);
    }

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        const std::int64_t end = disc_->bin_sectors * raw_sector_size;
        if (offset < 0 || offset >= end)
            return 0;
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(size),
                                                                            end - offset));
        for (std::size_t done = 0; done < wanted;) {
            const std::int64_t at = offset + static_cast<std::int64_t>(done);
            const std::int64_t sector = at / raw_sector_size;
            const auto in_sector = static_cast<std::size_t>(at % raw_sector_size);
            const std::size_t count = std::min<std::size_t>(raw_sector_size - in_sector, wanted - done);
            if (count == raw_sector_size) {
                make_sector(sector, buffer + done);
            } else {
                make_sector(sector, sector_);
                std::memcpy(buffer + done, sector_ + in_sector, count);
            }
            done += count;
        }
        return wanted;
    }

private:
    // The track that holds a sector of the BIN: mostly the one before.
    const chd_track& track_of(std::int64_t sector)
    {
        const std::vector<chd_track>& tracks = disc_->tracks;
        const chd_track* track = &tracks[track_];
        if (sector < track->bin_sector || sector >= track->bin_sector + track->frames) {
            const auto after = std::upper_bound(tracks.begin(), tracks.end(), sector,
                                                [](std::int64_t s, const chd_track& t) { return s < t.bin_sector; });
            track_ = static_cast<std::size_t>(after - tracks.begin()) - 1;
            track = &tracks[track_];
        }
        return *track;
    }

    void make_sector(std::int64_t sector, unsigned char* out)
    {
        const chd_track& track = track_of(sector);
        const std::int64_t in_track = sector - track.bin_sector;
        const std::int64_t frame = track.chd_frame + in_track;
        const std::int64_t frames_per_hunk = disc_->header.hunk_bytes / chd_frame_bytes;
        const cached_hunk& hunk = load(frame / frames_per_hunk);
        if (hunk.failure != nullptr) {
            std::memset(out, 0, raw_sector_size);
            note_damage(sector, hunk);
            return;
        }
        const unsigned char* kept = hunk.bytes.data() + frame % frames_per_hunk * chd_frame_bytes;
        const auto address = static_cast<std::int32_t>(track.disc_address + in_track);
        switch (track.kind) {
        case chd_sector_kind::audio:
            // Kept big-endian: each sample's two bytes the other way round.
            for (int i = 0; i < raw_sector_size; i += 2) {
                out[i] = kept[i + 1];
                out[i + 1] = kept[i];
            }
            break;
        case chd_sector_kind::mode1_raw:
        case chd_sector_kind::mode2_raw:
            std::memcpy(out, kept, raw_sector_size);
            break;
        case chd_sector_kind::mode1_data:
            std::memcpy(out + mode_data_offset, kept, mode1_data_bytes);
            encode_mode1_sector(out, address);
            break;
        case chd_sector_kind::mode2_data:
            write_sector_header(out, address, 2);
            std::memcpy(out + mode_data_offset, kept, mode2_data_bytes);
            break;
        }
    }

    void note_damage(std::int64_t sector, const cached_hunk& hunk)
    {
        std::string why = std::string("hunk ") + std::to_string(hunk.number) + " of the CHD " + hunk.failure;
        const std::int64_t first = sector * raw_sector_size;
        if (!damage.empty() && damage.back().why == why && damage.back().first_byte + damage.back().count >= first) {
            damage.back().count = std::max(damage.back().count, first + raw_sector_size - damage.back().first_byte);
            return;
        }
        damage.push_back(damaged_bytes{first, raw_sector_size, std::move(why)});
    }

    const cached_hunk& load(std::int64_t number)
    {
        cached_hunk* oldest = &cache_[0];
        for (cached_hunk& slot : cache_) {
            if (slot.number == number) {
                slot.last_use = ++uses_;
                return slot;
            }
            if (slot.last_use < oldest->last_use)
                oldest = &slot;
        }
        oldest->number = number;
        oldest->last_use = ++uses_;
        oldest->failure = decode(static_cast<std::size_t>(number), oldest->bytes.data());
        return *oldest;
    }

    // Decodes hunk `number` into out; null, or why it could not.
    const char* decode(std::size_t number, unsigned char* out)
    {
        const chd_hunk& hunk = disc_->hunks[number];
        const std::uint32_t hunk_bytes = disc_->header.hunk_bytes;
        switch (hunk.kind) {
        case hunk_kind::zeros:
            std::memset(out, 0, hunk_bytes);
            return nullptr;
        case hunk_kind::unreadable:
            return "copies a hunk that does not come before it";
        case hunk_kind::stored:
        case hunk_kind::stored_unchecked:
            if (!read_at(file_.get(), hunk.offset, out, hunk_bytes))
                return "could not be read from the file";
            break;
        case hunk_kind::compressed:
            if (!read_at(file_.get(), hunk.offset, packed_.data(), hunk.length))
                return "could not be read from the file";
            if (!codecs_.decompress(disc_->header.codecs[hunk.codec], packed_.data(), hunk.length, out))
                return "does not decompress";
            break;
        }
        if (hunk.kind != hunk_kind::stored_unchecked && chd_crc16(out, hunk_bytes) != hunk.crc)
            return "fails its CRC check";
        return nullptr;
    }

    std::shared_ptr<const chd_disc> disc_;
    file_stream file_;
    chd_codecs codecs_;
    std::vector<unsigned char> packed_;   // a compressed hunk as the file keeps it
    cached_hunk cache_[cached_hunks];
    std::uint64_t uses_ = 0;
    std::size_t track_ = 0;
    unsigned char sector_[raw_sector_size] = {};
};

} // namespace

std::unique_ptr<part_decoder> open_chd_reader(const std::shared_ptr<const chd_disc>& disc)
{
    file_stream file = open_regular_file(disc->path.c_str());
    if (!file)
        return nullptr;
    // Whole hunks are read at a time, each from where the map says.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return std::make_unique<chd_reader>(disc, std::move(file));
}
