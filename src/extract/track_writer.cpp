#include "extract/track_writer.h"

#include "base/platform.h"
#include "extract/kept_tracks.h"
#include "extract/lossless_data.h"
#include "output/output_names.h"
#include "output/split_record.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// User data starts after the 16-byte sync and header; an XA (mode 2) sector
// has an 8-byte subheader before it as well.
constexpr int mode1_user_data_offset = 16;
constexpr int mode2_user_data_offset = 24;

// An XA sector says in its header and subheader what it holds: mode byte 2,
// and bit 5 of the submode byte set for Form 2 (2324 bytes of audio, video
// or streamed data, where Form 1 has 2048 of data and its error codes).
constexpr int mode_byte_offset = 15;
constexpr int submode_byte_offset = 18;
constexpr unsigned char submode_form2 = 0x20;

bool is_xa_form2(const unsigned char* sector)
{
    return sector[mode_byte_offset] == 2 && (sector[submode_byte_offset] & submode_form2) != 0;
}

std::int64_t count_xa_form2(const unsigned char* sectors, int count)
{
    std::int64_t form2 = 0;
    for (int i = 0; i < count; ++i)
        form2 += is_xa_form2(sectors + i * raw_sector_size) ? 1 : 0;
    return form2;
}

// Moves the user data of each of count raw sectors down to its place in the
// .iso, in the buffer itself; no block lands on a sector not yet moved.
void compact_user_data(unsigned char* sectors, int count, int offset)
{
    for (int i = 0; i < count; ++i)
        std::memmove(sectors + i * user_data_size, sectors + i * raw_sector_size + offset, user_data_size);
}

// A copy starts the disk writes of each this many bytes it wrote: the
// commit's flush of the file then waits for the last of them only, while
// the hashes of the source are still being taken.
constexpr std::int64_t flush_ahead_bytes = std::int64_t{16} << 20;

struct flush_ahead {
    std::FILE* file;
    bool on;                    // the file goes to the disk when committed
    std::int64_t started = 0;   // its bytes whose writes have started
};

void wrote_up_to(flush_ahead& ahead, std::int64_t written)
{
    if (ahead.on && written - ahead.started >= flush_ahead_bytes) {
        start_flush_to_disk(ahead.file, ahead.started, written - ahead.started);
        ahead.started = written;
    }
}

struct data_copy {
    std::int64_t missing_sectors;       // sectors the BIN could not supply in full
    int write_error;                    // errno of the first failed write, else 0
    std::int64_t xa_form2_sectors = 0;  // whole MODE2 sectors cut from 2324 bytes to 2048
};

// Copies the user data of the track's sectors, 256 sectors a read, each block
// written straight from where it was read. Whatever the BIN cannot supply is
// zeros: a sector cut by its end keeps the bytes read, and the sectors after
// it are appended as one run of zeros.
data_copy copy_data_track(bin_reader& bin, output_file& iso, const track_span& track, track_buffer& buffer,
                          std::atomic<std::int64_t>& progress)
{
    std::FILE* const iso_file = iso.stream.get();
    const int offset = track.is_mode2 != 0 ? mode2_user_data_offset : mode1_user_data_offset;
    unsigned char* const sectors = buffer.sectors;
    const std::int64_t length = std::max(track.length_sectors, 0);
    std::int64_t remaining = length;
    std::int64_t whole_sectors_read = 0;
    std::int64_t form2 = 0;
    // A negative start cannot be read from: the whole track is zeros.
    std::int64_t position = track.start_sector < 0 ? -1 : std::int64_t{track.start_sector} * raw_sector_size;
    flush_ahead ahead{iso_file, iso.durable};
    while (position >= 0 && remaining > 0) {
        const int count = static_cast<int>(std::min<std::int64_t>(remaining, sectors_per_read));
        const auto wanted = static_cast<std::size_t>(count) * raw_sector_size;
        const std::size_t got = read_bin(bin, position, sectors, wanted);
        const int filled = static_cast<int>((got + raw_sector_size - 1) / raw_sector_size);
        std::memset(sectors + got, 0, static_cast<std::size_t>(filled) * raw_sector_size - got);
        if (track.is_mode2 != 0)
            form2 += count_xa_form2(sectors, static_cast<int>(got / raw_sector_size));
        compact_user_data(sectors, filled, offset);
        const auto block_size = static_cast<std::size_t>(filled) * user_data_size;
        iso.fed.add(sectors, block_size);
        if (std::fwrite(sectors, 1, block_size, iso_file) != block_size)
            return data_copy{0, errno};
        remaining -= filled;
        wrote_up_to(ahead, (length - remaining) * user_data_size);
        whole_sectors_read += static_cast<std::int64_t>(got / raw_sector_size);
        position += static_cast<std::int64_t>(wanted);
        progress += static_cast<std::int64_t>(got);
        if (got < wanted)
            break;   // a short read is the end of the input
    }
    if (remaining > 0 && !append_zeros(iso_file, remaining * user_data_size))
        return data_copy{0, errno};
    hash_zeros(iso.fed, remaining * user_data_size, buffer);
    return data_copy{length - whole_sectors_read, 0, form2};
}

// Copies the track's raw sectors as they are, one byte range of the BIN,
// inside the kernel where it can, a few megabytes a call so the progress
// line moves. What the BIN cannot supply is zeros, as in an .iso.
data_copy copy_raw_track(bin_reader& bin, output_file& raw, const track_span& track, track_buffer& buffer,
                         std::atomic<std::int64_t>& progress)
{
    std::FILE* const raw_file = raw.stream.get();
    flush_ahead ahead{raw_file, raw.durable};
    constexpr std::int64_t bytes_per_call = std::int64_t{4096} * raw_sector_size;
    const std::int64_t length = std::max(track.length_sectors, 0);
    const std::int64_t track_bytes = length * raw_sector_size;
    std::int64_t copied = 0;
    // A negative start cannot be read from: the whole track is zeros.
    while (track.start_sector >= 0 && copied < track_bytes) {
        const std::int64_t wanted = std::min(track_bytes - copied, bytes_per_call);
        const byte_copy step = copy_bin(bin, std::int64_t{track.start_sector} * raw_sector_size + copied, wanted,
                                        raw_file, buffer.sectors, sizeof buffer.sectors);
        if (step.write_error != 0)
            return data_copy{0, step.write_error};
        copied += step.copied;
        progress += step.copied;
        wrote_up_to(ahead, copied);
        if (step.copied < wanted)
            break;   // the end of the input
    }
    if (copied < track_bytes && !append_zeros(raw_file, track_bytes - copied))
        return data_copy{0, errno};
    return data_copy{length - copied / raw_sector_size, 0};
}

// The whole sectors of the track that the BIN holds: what the copy writes
// before any zeros.
std::int64_t sectors_in_bin(const bin_reader& bin, const track_span& track)
{
    if (track.start_sector < 0)
        return 0;
    const std::int64_t left = bin.bin->size_bytes / raw_sector_size - track.start_sector;
    return std::clamp<std::int64_t>(left, 0, std::max(track.length_sectors, 0));
}

track_outcome write_data_track(voice c, track_writer& writer, output_file& out, std::int32_t number,
                               const track_span& track, std::atomic<std::int64_t>& progress)
{
    const bool raw = is_raw_track(number, writer.format);
    // The zeros past the BIN's end stay a hole: only what is copied is set aside.
    const int sector_bytes = raw ? raw_sector_size : user_data_size;
    reserve_file_space(out.stream.get(), sectors_in_bin(writer.bin, track) * sector_bytes);
    // A raw track is copied inside the kernel, its bytes never seen here:
    // they are the BIN's own, which the record knows by its sources.
    out.hashing = raw ? output_hash::none : output_hash::fed;
    const data_copy copy = raw
                               ? copy_raw_track(writer.bin, out, track, *writer.buffer, progress)
                               : copy_data_track(writer.bin, out, track, *writer.buffer, progress);
    if (copy.write_error != 0) {
        report(c, "cannot write %s: %s", out.final_path.c_str(), std::strerror(copy.write_error));
        return track_outcome{false, false};
    }
    if (copy.xa_form2_sectors > 0)
        report(c, "%s: %lld of its %lld sectors are XA Form 2 (audio or video), cut to 2048 of their 2324 bytes; "
                  "--raw-data keeps them",
               base_name(out.final_path.c_str()), static_cast<long long>(copy.xa_form2_sectors),
               static_cast<long long>(track.length_sectors));
    if (copy.missing_sectors > 0)
        report(c, "%s: the BIN ends %lld sectors before the end of the track; padded with zeros",
               base_name(out.final_path.c_str()), static_cast<long long>(copy.missing_sectors));
    return track_outcome{true, copy.missing_sectors == 0, copy.xa_form2_sectors};
}

// The track's bytes as the encoder takes them, read on from one position.
struct bin_stream {
    bin_reader* bin;
    std::int64_t position;
    std::atomic<std::int64_t>* progress;
};

std::size_t read_bin_stream(void* context, unsigned char* buffer, std::size_t size)
{
    auto& stream = *static_cast<bin_stream*>(context);
    const std::size_t got = read_bin(*stream.bin, stream.position, buffer, size);
    stream.position += static_cast<std::int64_t>(got);
    *stream.progress += static_cast<std::int64_t>(got);
    return got;
}

const track_comments* comments_of(const track_writer& writer, std::int32_t number)
{
    if (writer.comments == nullptr || number < 0 || static_cast<std::size_t>(number) >= writer.comments->size())
        return nullptr;
    return &(*writer.comments)[static_cast<std::size_t>(number)];
}

track_outcome write_audio_track(voice c, track_writer& writer, output_file& out, std::int32_t number,
                                const track_span& track, std::atomic<std::int64_t>& progress)
{
    bin_stream stream{&writer.bin, std::int64_t{track.start_sector} * raw_sector_size, &progress};
    // A negative start cannot be read from: the stream holds no audio.
    const pcm_source source{track.start_sector < 0 ? nullptr : read_bin_stream, &stream};
    pcm_reader input{source, std::int64_t{track.length_sectors} * raw_sector_size, writer.buffer->audio};
    const encoder_settings settings{writer.format.quality, next_serial_number(*writer.serials),
                                    comments_of(writer, number), writer.format.lossless};
    const audio_codec& codec = *writer.format.codec;
    const audio_result result = codec.encode(input, settings, out.stream.get());
    if (!result.encoder_ready) {
        report(c, "%s: the %s encoder could not be set up; file not written", base_name(out.final_path.c_str()),
               codec.name);
        return track_outcome{false, false};
    }
    if (result.write_error != 0) {
        report(c, "cannot write %s: %s", out.final_path.c_str(), std::strerror(result.write_error));
        return track_outcome{false, false};
    }
    const std::int64_t expected = std::int64_t{std::max(track.length_sectors, 0)} * audio_frames_per_sector;
    const std::int64_t missing = expected - result.frames_encoded;
    if (missing > 0)
        report(c, "%s: the BIN ends %lld audio frames before the end of the track; the stream stops there",
               base_name(out.final_path.c_str()), static_cast<long long>(missing));
    track_outcome outcome{true, missing <= 0};
    // The proof: the encoder decoded every frame back, and the MD5 its
    // STREAMINFO records of the samples is that of the bytes read.
    if (writer.bin.check != nullptr) {
        hash_state read_so_far = writer.bin.check->hash;
        file_digest read;
        finish_hash(read_so_far, read);
        outcome.proven = outcome.complete && result.verified && read.md5 == result.stream_md5;
    }
    return outcome;
}

track_outcome write_track_file(voice c, track_writer& writer, output_file& out, std::int32_t number,
                               const track_span& track, std::atomic<std::int64_t>& progress)
{
    if (track.is_audio != 0)
        return write_audio_track(c, writer, out, number, track, progress);
    track_outcome outcome = write_data_track(c, writer, out, number, track, progress);
    outcome.raw = is_raw_track(number, writer.format);
    outcome.proven = outcome.complete;   // the raw sectors as read
    return outcome;
}

// The BIN bytes of a track, for its check.
range_check track_check(const track_span& track)
{
    range_check check;
    if (track.start_sector >= 0) {
        check.first = std::int64_t{track.start_sector} * raw_sector_size;
        check.end = check.first + std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
    }
    start_hash(check.hash, md5_part | crc32_part);
    return check;
}

// Opens, writes and commits the file; for track 0, says its line only when
// one of its bytes is not zero, and else keeps no file.
track_outcome write_named_track(voice c, track_writer& writer, std::int32_t number, const track_span& track,
                                std::atomic<std::int64_t>& progress, const std::string* recipe)
{
    const bool is_audio = track.is_audio != 0;
    const track_file_name name = name_track_file(number, is_audio, writer.format);
    const bool said_at_end = number == 0;
    if (!said_at_end && !writer.said_early)
        say(c, "Processing file... %s\n", name.text);

    output_file out;
    if (const int failure = open_output_file(out, *writer.folder, name.text)) {
        if (said_at_end)
            say(c, "Processing file... %s\n", name.text);
        report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        return track_outcome{false, false};
    }
    // The .iso is written in blocks of 256 sectors, larger than a stdio buffer,
    // and the raw .bin by the kernel itself, past any buffer; the .ogg in
    // pages of a few KB and the .flac in frames, which the buffer gathers.
    if (!is_audio)
        std::setvbuf(out.stream.get(), nullptr, _IONBF, 0);
    track_outcome outcome = write_track_file(c, writer, out, number, track, progress);
    if (said_at_end && writer.bin.check != nullptr && !writer.bin.check->nonzero && outcome.complete) {
        discard_output_file(out);
        outcome.written = false;
        outcome.all_zero = true;
        return outcome;
    }
    if (said_at_end)
        say(c, "Processing file... %s\n", name.text);
    outcome.written = outcome.written && commit_output_file(c, out);
    if (outcome.written && recipe != nullptr) {
        recorded_output entry = output_entry(*writer.folder, name.text);
        entry.hashed = out.hashing != output_hash::none;
        entry.hash = out.hash;
        entry.recipe = *recipe;
        entry.clean = outcome.complete && track.length_sectors > 0 && outcome.xa_form2_sectors == 0;
        journal_output(*writer.folder, std::move(entry));
    }
    return outcome;
}

// The sectors of the track the reader gave as zeros for damage, in one line
// that names the first of them and why, and that the emulator sheet will
// not stand for them; how many there were.
std::int64_t report_damage(voice c, const bin_reader& bin, const char* file_name, std::int32_t number,
                           const track_span& track)
{
    const std::int64_t begin = std::int64_t{track.start_sector} * raw_sector_size;
    const std::int64_t end = begin + std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
    std::int64_t sectors = 0;
    const damaged_bytes* first = nullptr;
    std::int64_t first_sector = 0;
    for (const damaged_bytes& stretch : bin.damage) {
        const std::int64_t from = std::max(stretch.first_byte, begin);
        const std::int64_t to = std::min(stretch.first_byte + stretch.count, end);
        if (from >= to)
            continue;
        sectors += (to - 1) / raw_sector_size - from / raw_sector_size + 1;
        if (first == nullptr) {
            first = &stretch;
            first_sector = from / raw_sector_size;
        }
    }
    if (first != nullptr)
        report(c, "%s: %lld sector%s of track %i, from its sector %lld (sector %lld of the image), could not be "
                  "read: %s; written as %s, and no emulator sheet is written",
               file_name, static_cast<long long>(sectors), sectors == 1 ? "" : "s", static_cast<int>(number),
               static_cast<long long>(first_sector - track.start_sector), static_cast<long long>(first_sector),
               first->why.c_str(), track.is_audio != 0 ? "silence" : "zeros");
    return sectors;
}

} // namespace

int next_serial_number(serial_source& serials)
{
    const std::lock_guard<std::mutex> hold(serials.lock);
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return std::rand();
}

bool named_before_writing(const track_format& format, std::int32_t number, const track_span& track)
{
    return number != 0 && !(format.lossless && track.is_audio == 0 && !format.raw_data);
}

void say_track_begins(voice c, track_writer& writer, std::int32_t number, const track_span& track)
{
    writer.kept_early = track_is_kept(writer, number, track);
    say(c, "%s file... %s\n", writer.kept_early ? "Keeping" : "Processing",
        name_track_file(number, track.is_audio != 0, writer.format).text);
}

track_outcome extract_track(voice c, track_writer& writer, std::int32_t number, const track_span& track,
                            std::atomic<std::int64_t>& progress)
{
    const bool lossless = writer.format.lossless;
    const std::string* recipe = lossless ? nullptr : recipe_of(writer, number);
    const track_file_name name = name_track_file(number, track.is_audio != 0, writer.format);
    if (writer.said_early ? writer.kept_early : track_is_kept(writer, number, track)) {
        if (!writer.said_early)
            say(c, "Keeping file... %s\n", name.text);
        progress += std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
        return track_outcome{true, true};
    }
    range_check check = track_check(track);
    writer.bin.check = lossless ? &check : nullptr;
    writer.bin.damage.clear();
    track_outcome outcome =
        lossless && track.is_audio == 0 && number != 0 && !writer.format.raw_data
            ? write_lossless_data_track(c, writer, number, track, progress)
            : write_named_track(c, writer, number, track, progress, recipe);
    writer.bin.check = nullptr;
    if (outcome.written) {
        track_format kept_as = writer.format;
        kept_as.raw_data = kept_as.raw_data || outcome.raw;
        outcome.damaged_sectors =
            report_damage(c, writer.bin, name_track_file(number, track.is_audio != 0, kept_as).text, number, track);
    }
    if (outcome.damaged_sectors > 0 && recipe != nullptr) {
        recorded_output entry = output_entry(*writer.folder, name.text);   // not whole: never kept
        entry.recipe = *recipe;
        entry.clean = false;
        journal_output(*writer.folder, std::move(entry));
    }
    outcome.complete = outcome.complete && (outcome.written || outcome.all_zero) && track.length_sectors > 0 &&
                       outcome.damaged_sectors == 0;
    outcome.proven = lossless && outcome.proven && outcome.complete;
    finish_hash(check.hash, outcome.piece);
    return outcome;
}
