#include "cue/archive_member.h"

#include "base/platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

la_ssize_t read_input(archive* handle, void* data, const void** block)
{
    auto& input = *static_cast<archive_input*>(data);
    *block = input.block;
    const std::size_t got = std::fread(input.block, 1, sizeof input.block, input.file.get());
    if (got == 0 && std::ferror(input.file.get()) != 0) {
        archive_set_error(handle, errno != 0 ? errno : EIO, "%s", std::strerror(errno != 0 ? errno : EIO));
        return -1;
    }
    input.position += static_cast<std::int64_t>(got);
    return static_cast<la_ssize_t>(got);
}

la_int64_t seek_input(archive*, void* data, la_int64_t offset, int whence)
{
    auto& input = *static_cast<archive_input*>(data);
    std::int64_t target = offset;
    if (whence == SEEK_CUR)
        target += input.position;
    else if (whence == SEEK_END)
        target += file_size(input.file.get());
    if (target < 0 || !seek_to(input.file.get(), target))
        return ARCHIVE_FATAL;
    input.position = target;
    return target;
}

la_int64_t skip_input(archive* handle, void* data, la_int64_t request)
{
    const la_int64_t from = static_cast<archive_input*>(data)->position;
    return seek_input(handle, data, from + request, SEEK_SET) < 0 ? 0 : request;
}

// Reads on in the member the archive stands at; an error is kept, with the
// member's name.
std::size_t read_data(open_archive& opened, unsigned char* buffer, std::size_t size)
{
    const la_ssize_t got = archive_read_data(opened.handle.get(), buffer, size);
    if (got < 0 && opened.error.empty())
        opened.fail(archive_error_string(opened.handle.get()));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

// The rest of a read that the archive's damage cut short: zeros, told as
// damage, so that the track says why.
std::size_t zeros_for_damage(part_decoder& decoder, std::int64_t offset, unsigned char* buffer, std::size_t done,
                             std::size_t size, const std::string& error)
{
    if (error.empty() || done == size)
        return done;
    std::memset(buffer + done, 0, size - done);
    decoder.damage.push_back({offset + static_cast<std::int64_t>(done), static_cast<std::int64_t>(size - done),
                              "the archive is damaged there (" + error + "): copy or download it again"});
    return size;
}

class member_decoder : public part_decoder {
public:
    member_decoder(const std::string& archive_path, const std::string& name, std::int64_t file_offset)
        : file_offset_(file_offset)
    {
        reader_.archive_path = archive_path;
        reader_.name = name;
    }

    // The member's bytes as they come, whole: the archive gives them in
    // blocks of its own size.
    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const std::size_t got =
                reader_.read(file_offset_ + offset + static_cast<std::int64_t>(done), buffer + done, size - done);
            if (got == 0)
                break;
            done += got;
        }
        return zeros_for_damage(*this, offset, buffer, done, size, reader_.opened.error);
    }

private:
    member_reader reader_;
    std::int64_t file_offset_;
};

using solid_hold = std::unique_lock<std::mutex>;

// Copies size bytes into the ring from its index `at` on, wrapping at its end.
void ring_put(std::vector<unsigned char>& ring, std::size_t at, const unsigned char* bytes, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const std::size_t index = (at + done) % ring.size();
        const std::size_t count = std::min(size - done, ring.size() - index);
        std::memcpy(ring.data() + index, bytes + done, count);
        done += count;
    }
}

// Copies size bytes out of the ring from its index `at` on, wrapping at its end.
void ring_get(const std::vector<unsigned char>& ring, std::size_t at, unsigned char* out, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const std::size_t index = (at + done) % ring.size();
        const std::size_t count = std::min(size - done, ring.size() - index);
        std::memcpy(out + done, ring.data() + index, count);
        done += count;
    }
}

// Where byte `offset` of the member lies in the ring of its last bytes read.
std::size_t recent_index(const solid_stream& stream, std::int64_t offset)
{
    return static_cast<std::size_t>(offset % static_cast<std::int64_t>(stream.recent.size()));
}

// The first of the member's bytes the ring of its last bytes read still holds.
std::int64_t first_recent(const solid_stream& stream)
{
    return std::max<std::int64_t>(stream.position - static_cast<std::int64_t>(stream.recent.size()), 0);
}

constexpr std::size_t pump_block = std::size_t{1} << 18;
constexpr std::size_t pump_ring = std::size_t{16} << 20;

void run_pump(solid_stream& stream)
{
    solid_hold hold(stream.lock);
    std::vector<unsigned char> block(pump_block);
    for (;;) {
        stream.changed.wait(hold, [&] {
            return stream.quit || (stream.pumping && !stream.member_ended &&
                                   stream.ahead_count + block.size() <= stream.ahead.size());
        });
        if (stream.quit)
            return;
        stream.pump_reading = true;
        hold.unlock();
        const std::size_t got = read_data(stream.opened, block.data(), block.size());
        hold.lock();
        stream.pump_reading = false;
        ring_put(stream.ahead, stream.ahead_first + stream.ahead_count, block.data(), got);
        stream.ahead_count += got;
        stream.member_ended = got == 0;
        stream.changed.notify_all();
    }
}

// Sets the pump reading on in the member the archive now stands at.
void start_pump(solid_stream& stream)
{
    stream.ahead_first = stream.ahead_count = 0;
    stream.member_ended = false;
    stream.pumping = true;
    if (!stream.pump.joinable()) {
        stream.ahead.resize(pump_ring);
        stream.pump = std::thread(run_pump, std::ref(stream));
    }
    stream.changed.notify_all();
}

// Stops the pump, so that the archive can be moved on or opened again.
void stop_pump(solid_stream& stream, solid_hold& hold)
{
    stream.pumping = false;
    stream.changed.wait(hold, [&] { return !stream.pump_reading; });
    stream.ahead_first = stream.ahead_count = 0;
}

// Reads on in the member, keeping the last bytes read.
std::size_t take(solid_stream& stream, solid_hold& hold, unsigned char* buffer, std::size_t size)
{
    stream.changed.wait(hold, [&] { return stream.ahead_count > 0 || stream.member_ended || !stream.pumping; });
    const std::size_t got = std::min(size, stream.ahead_count);
    ring_get(stream.ahead, stream.ahead_first, buffer, got);
    stream.ahead_first = (stream.ahead_first + got) % stream.ahead.size();
    stream.ahead_count -= got;
    stream.changed.notify_all();
    const std::size_t kept = std::min(got, stream.recent.size());
    ring_put(stream.recent, recent_index(stream, stream.position + static_cast<std::int64_t>(got - kept)),
             buffer + (got - kept), kept);
    stream.position += static_cast<std::int64_t>(got);
    return got;
}

std::size_t copy_run(const kept_run& run, std::int64_t offset, unsigned char* buffer, std::size_t size)
{
    if (offset < run.first || offset >= run.first + static_cast<std::int64_t>(run.bytes.size()))
        return 0;
    const auto from = static_cast<std::size_t>(offset - run.first);
    const std::size_t count = std::min(size, run.bytes.size() - from);
    std::memcpy(buffer, run.bytes.data() + from, count);
    return count;
}

// The last bytes the pass read of its member, in order.
kept_run recent_run(const solid_stream& stream)
{
    kept_run run;
    run.first = first_recent(stream);
    run.bytes.resize(static_cast<std::size_t>(stream.position - run.first));
    ring_get(stream.recent, recent_index(stream, run.first), run.bytes.data(), run.bytes.size());
    return run;
}

std::size_t read_kept(const solid_stream& stream, const std::string& name, std::int64_t offset,
                      unsigned char* buffer, std::size_t size)
{
    if (stream.member == name && stream.position >= 0 && offset < stream.position &&
        offset >= first_recent(stream)) {
        const std::size_t count = std::min(size, static_cast<std::size_t>(stream.position - offset));
        ring_get(stream.recent, recent_index(stream, offset), buffer, count);
        return count;
    }
    const auto runs = stream.kept.find(name);
    if (runs != stream.kept.end())
        for (const kept_run& run : runs->second)
            if (const std::size_t count = copy_run(run, offset, buffer, size))
                return count;
    return 0;
}

// Keeps the last bytes read of the member the pass leaves.
void leave_member(solid_stream& stream, solid_hold& hold)
{
    if (stream.position < 0)
        return;
    if (stream.member_size - stream.position <= static_cast<std::int64_t>(solid_kept_size))
        while (take(stream, hold, stream.skipped.data(), stream.skipped.size()) > 0) {
        }
    stop_pump(stream, hold);
    std::vector<kept_run>& runs = stream.kept[stream.member];   // its first bytes, then its last
    runs.resize(2);
    runs[1] = recent_run(stream);
    stream.position = -1;
}

// Brings the pass to the start of member name: on from where it stands when
// the member lies ahead, else from the archive's start. Keeps the member's
// first bytes the first time it is passed.
bool enter_member(solid_stream& stream, solid_hold& hold, const std::string& name)
{
    const bool ahead = stream.position >= 0 && place_in_pass(stream, name) > place_in_pass(stream, stream.member);
    leave_member(stream, hold);
    if (!ahead) {
        stream.opened = open_archive{};
        if (!open_archive_file(stream.archive_path.c_str(), stream.opened))
            return false;
    }
    bool found = false;
    if (!visit_members(stream.opened, [&](const std::string& member, std::int64_t size) {
            found = member == name;
            stream.member_size = size;
            return !found;
        }) ||
        !found)
        return false;
    stream.member = name;
    stream.position = 0;
    start_pump(stream);
    std::vector<kept_run>& runs = stream.kept[name];
    if (runs.empty()) {
        kept_run head;
        head.bytes.resize(solid_kept_size);
        std::size_t got = 0;
        while (got < head.bytes.size())
            if (const std::size_t more = take(stream, hold, head.bytes.data() + got, head.bytes.size() - got))
                got += more;
            else
                break;
        head.bytes.resize(got);
        runs.push_back(std::move(head));
    }
    return true;
}

// Reads from the pass, bringing it to the member and on to offset.
std::size_t read_on_the_pass(solid_stream& stream, solid_hold& hold, const std::string& name, std::int64_t offset,
                             unsigned char* buffer, std::size_t size)
{
    const bool on_the_way = stream.member == name && stream.position >= 0 && offset >= stream.position;
    if (!on_the_way) {
        if (!enter_member(stream, hold, name))
            return 0;
        if (const std::size_t kept = read_kept(stream, name, offset, buffer, size))
            return kept;
    }
    while (stream.position < offset)
        if (take(stream, hold, stream.skipped.data(),
                 static_cast<std::size_t>(std::min<std::int64_t>(
                     offset - stream.position, static_cast<std::int64_t>(stream.skipped.size())))) == 0)
            return 0;
    return take(stream, hold, buffer, size);
}

class solid_decoder : public part_decoder {
public:
    solid_decoder(std::shared_ptr<solid_stream> stream, std::string name, std::int64_t file_offset)
        : stream_(std::move(stream)), name_(std::move(name)), file_offset_(file_offset)
    {
    }

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const std::size_t got = read_solid(*stream_, name_, file_offset_ + offset + static_cast<std::int64_t>(done),
                                               buffer + done, size - done);
            if (got == 0)
                break;
            done += got;
        }
        return done < size ? zeros_for_damage(*this, offset, buffer, done, size, solid_damage(*stream_)) : done;
    }

private:
    std::shared_ptr<solid_stream> stream_;
    std::string name_;
    std::int64_t file_offset_;
};

} // namespace

std::size_t read_solid(solid_stream& stream, const std::string& name, std::int64_t offset, unsigned char* buffer,
                       std::size_t size)
{
    solid_hold hold(stream.lock);
    if (const std::size_t kept = read_kept(stream, name, offset, buffer, size))
        return kept;
    // Past damage, the pass would only meet it again.
    if (!stream.damage.empty())
        return 0;
    const std::size_t got = read_on_the_pass(stream, hold, name, offset, buffer, size);
    if (got == 0 && !stream.pump_reading)
        stream.damage = stream.opened.error;
    return got;
}

solid_stream::~solid_stream()
{
    {
        const std::lock_guard<std::mutex> hold(lock);
        quit = true;
    }
    changed.notify_all();
    if (pump.joinable())
        pump.join();
}

std::string solid_damage(solid_stream& stream)
{
    const std::lock_guard<std::mutex> hold(stream.lock);
    return stream.damage;
}

std::size_t place_in_pass(const solid_stream& stream, const std::string& name)
{
    return static_cast<std::size_t>(std::find(stream.order.begin(), stream.order.end(), name) - stream.order.begin());
}

bool open_archive::fail(const char* why)
{
    error = why != nullptr ? why : "not a zip or 7z archive that can be read";
    while (!error.empty() && std::isspace(static_cast<unsigned char>(error.back())) != 0)   // some end in a newline
        error.pop_back();
    if (!member.empty())
        error = member + ": " + error;
    return false;
}

bool open_archive_file(const char* path, open_archive& opened)
{
    opened.input->file = open_regular_file(path);
    if (!opened.input->file)
        return opened.fail(std::strerror(errno));
    archive* handle = opened.handle.get();
    archive_read_support_format_zip(handle);
    archive_read_support_format_7zip(handle);
    archive_read_set_read_callback(handle, read_input);
    archive_read_set_seek_callback(handle, seek_input);
    archive_read_set_skip_callback(handle, skip_input);
    archive_read_set_callback_data(handle, opened.input.get());
    if (archive_read_open1(handle) != ARCHIVE_OK)
        return opened.fail(archive_error_string(handle));
    return true;
}

std::string member_name(archive_entry* entry)
{
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr)
        name = archive_entry_pathname(entry);
    return name != nullptr ? name : "";
}

bool member_reader::reopen()
{
    opened = open_archive{};
    position = -1;
    bool found = false;
    if (!open_archive_file(archive_path.c_str(), opened) ||
        !visit_members(opened, [&](const std::string& member, std::int64_t) {
            found = member == name;
            return !found;
        }) ||
        !found)
        return false;
    position = 0;
    return true;
}

std::size_t member_reader::read_on(unsigned char* buffer, std::size_t size)
{
    const std::size_t got = read_data(opened, buffer, size);
    position += static_cast<std::int64_t>(got);
    return got;
}

std::size_t member_reader::read(std::int64_t offset, unsigned char* buffer, std::size_t size)
{
    if (position < 0 && reopen()) {
        head.resize(65536);
        head.resize(read_on(head.data(), head.size()));
    }
    if (offset < static_cast<std::int64_t>(head.size())) {
        const std::size_t count = std::min(size, head.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, head.data() + offset, count);
        return count;
    }
    if ((position < 0 || offset < position) && !reopen())
        return 0;
    skipped.resize(copy_block_size);
    while (position < offset)
        if (read_on(skipped.data(), static_cast<std::size_t>(std::min<std::int64_t>(
                                        offset - position, static_cast<std::int64_t>(skipped.size())))) == 0)
            return 0;
    return read_on(buffer, size);
}

decoder_maker member_decoder_maker(const std::string& archive_path, const std::string& name)
{
    return [archive_path, name](const bin_part& part) {
        return std::make_unique<member_decoder>(archive_path, name, part.file_offset);
    };
}

decoder_maker solid_decoder_maker(const std::shared_ptr<solid_stream>& stream, const std::string& name)
{
    return [stream, name](const bin_part& part) {
        return std::make_unique<solid_decoder>(stream, name, part.file_offset);
    };
}
