#include "app/restore_files.h"

#include "app/sheet_hashes.h"
#include "output/output_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void say_left(voice c, const restore_target& target)
{
    say(c, "%s is there already, identical: left as it is\n", target.name.c_str());
}

// Copies what `kept` holds of a file's bytes from `at` (kept_first: where
// they begin in it).
std::size_t copy_kept(const std::string& kept, std::int64_t kept_first, std::int64_t at, unsigned char* buffer,
                      std::size_t size)
{
    const std::int64_t in_kept = at - kept_first;
    if (in_kept < 0 || in_kept >= static_cast<std::int64_t>(kept.size()))
        return 0;
    const std::size_t count = std::min(size, kept.size() - static_cast<std::size_t>(in_kept));
    std::memcpy(buffer, kept.data() + in_kept, count);
    return count;
}

// A file of another form than its run's bytes: big-endian audio (each pair
// of bytes swapped) or the user data of MODE1 sectors.
std::size_t read_formed(const restore_target& file, bin_reader& reader, std::int64_t in_file, unsigned char* buffer,
                        std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t at = in_file + static_cast<std::int64_t>(done);
        std::size_t got = 0;
        if (file.form == file_form::user_data) {
            const std::int64_t within = at % mode1_user_data_bytes;
            const std::size_t wanted = std::min(size - done, static_cast<std::size_t>(mode1_user_data_bytes - within));
            got = read_bin(reader, file.bin_first + at / mode1_user_data_bytes * raw_sector_size + 16 + within,
                           buffer + done, wanted);
            if (got < wanted)
                return done + got;
        } else {
            // Whole pairs from an even offset.
            unsigned char pairs[4096];
            const std::int64_t pair_start = at & ~std::int64_t{1};
            const auto skip = static_cast<std::size_t>(at - pair_start);
            const std::size_t wanted = std::min(sizeof pairs, (size - done + skip + 1) & ~std::size_t{1});
            const std::size_t read = read_bin(reader, file.bin_first + pair_start, pairs, wanted);
            for (std::size_t i = 0; i + 1 < read; i += 2)
                std::swap(pairs[i], pairs[i + 1]);
            got = std::min(size - done, (read & ~std::size_t{1}) - std::min(skip, read & ~std::size_t{1}));
            std::memcpy(buffer + done, pairs + skip, got);
            if (read < wanted)
                return done + got;
        }
        done += got;
    }
    return done;
}

// Fills the stream's bytes that no decoder puts: a run of the BIN that only
// zeros or kept bytes give, and a file's bytes before and after its run.
std::size_t fill_target(const std::vector<restore_target*>& files, bin_reader& reader, std::int64_t at,
                        unsigned char* buffer, std::size_t size)
{
    std::size_t index = 0;
    while (index + 1 < files.size() && files[index + 1]->first <= at)
        ++index;
    const restore_target& file = *files[index];
    if (file.form != file_form::as_it_stands)
        return read_formed(file, reader, at - file.first, buffer, size);
    const auto head = static_cast<std::int64_t>(file.head.size());
    std::int64_t in_file = at - file.first;
    std::size_t done = copy_kept(file.head, 0, in_file, buffer, size);
    in_file += static_cast<std::int64_t>(done);
    if (done < size && in_file - head < file.bin_bytes) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::int64_t>(file.bin_bytes - (in_file - head), static_cast<std::int64_t>(size - done)));
        const std::size_t got = read_bin(reader, file.bin_first + (in_file - head), buffer + done, wanted);
        done += got;
        if (got < wanted)
            return done;
        in_file += static_cast<std::int64_t>(got);
    }
    return done + copy_kept(file.tail, head + file.bin_bytes, in_file, buffer + done, size - done);
}

// Closes the files before the one that holds `at`, and opens that one.
void move_to(stream_writer& writer, std::int64_t at)
{
    while (writer.current < writer.files.size()) {
        const restore_target& file = *writer.files[writer.current];
        output_file& out = writer.outs[writer.current];
        int& failure = writer.failures[writer.current];
        if (!writer.opened) {
            failure = open_output_file(out, *file.folder, file.file_name.c_str());
            writer.opened = true;
        }
        if (file.first + file.size > at)
            return;
        if (failure == 0 && !close_file(out.stream))
            failure = errno != 0 ? errno : EIO;
        ++writer.current;
        writer.opened = false;
    }
}

void write_stream(stream_writer& writer, std::int64_t at, const unsigned char* bytes, std::size_t size)
{
    move_to(writer, at);
    if (writer.current == writer.files.size() || writer.failures[writer.current] != 0)
        return;
    if (std::fwrite(bytes, 1, size, writer.outs[writer.current].stream.get()) != size)
        writer.failures[writer.current] = errno != 0 ? errno : EIO;
}

// The temporary is in place where a file of its name was found meanwhile:
// left when the bytes are the same.
bool settle_taken(voice c, output_file& out, restore_target& target, const std::string& source)
{
    file_digest there;
    const bool same = digest_of_file(out.final_path.c_str(), there) && there.size == target.digest.size &&
                      there.sha1 == target.digest.sha1;
    discard_output_file(out);
    if (same) {
        say_left(c, target);
        return true;
    }
    report(c, "%s is there and is not the file %s gives back; nothing more restored from it",
           out.final_path.c_str(), source.c_str());
    return false;
}

} // namespace

bool restore_targets(const split_folder& split, std::vector<restore_target>& targets, std::string& why)
{
    std::int64_t first = 0;
    if (split.what == split_folder::kind::playable) {
        restore_target image;
        image.name = split.image_bin;
        image.size = image.bin_bytes = split.bin.size_bytes;
        targets.push_back(image);
        first = image.size;
    }
    for (const manifest_file& file : split.manifest.files) {
        const auto same_name = std::find_if(targets.begin(), targets.end(),
                                            [&file](const restore_target& t) { return t.name == file.name; });
        if (same_name != targets.end()) {
            if (same_name->expected.sha1 == file.digest.sha1 && same_name->expected.size == file.digest.size)
                continue;   // a file the sheet names twice
            why = "the manifest gives two different files the name " + file.name;
            return false;
        }
        restore_target& target = targets.emplace_back();
        target.name = file.name;
        target.first = first;
        target.size = file.digest.size;
        target.bin_first = file.bin_first;
        target.bin_bytes = file.bin_bytes;
        target.form = file.form;
        target.head = file.head;
        target.tail = file.tail;
        target.known = true;
        target.expected = file.digest;
        first += target.size;
    }
    restore_target sheet;
    sheet.name = split.what == split_folder::kind::playable ? playable_image_name(split.name, "cue")
                                                            : split.manifest.sheet_name;
    sheet.is_sheet = true;
    sheet.bytes = split.what == split_folder::kind::playable ? split.image_sheet : split.manifest.sheet_bytes;
    sheet.known = split.what == split_folder::kind::lossless;
    sheet.expected = split.manifest.sheet_digest;
    targets.push_back(std::move(sheet));
    return true;
}

void find_target_folders(std::vector<restore_target>& targets, const output_folder& top,
                         std::deque<run_paths>& below_paths, std::deque<output_folder>& below)
{
    for (restore_target& target : targets) {
        const std::size_t cut = target.name.find_last_of("/\\");
        target.folder = &top;
        target.file_name = cut == std::string::npos ? target.name : target.name.substr(cut + 1);
        if (cut == std::string::npos)
            continue;
        // Each folder of the name in turn, made where missing.
        std::string path = output_dir_path(*top.paths);
        for (std::size_t start = 0; start < cut;) {
            std::size_t end = target.name.find_first_of("/\\", start);
            path += path_separator + target.name.substr(start, end - start);
            make_directory(path.c_str());
            start = end + 1;
        }
        run_paths& paths = below_paths.emplace_back();
        if (!paths_of_folder(path.c_str(), paths))
            continue;   // too long: its file cannot be created, which is told then
        below.push_back(output_folder{&paths, top.temporaries, top.inputs});
        target.folder = &below.back();
    }
}

bool check_existing(voice c, restore_target& target, const std::string& source)
{
    const std::string path = output_path(*target.folder->paths, target.file_name);
    const path_kind kind = kind_of_path(path.c_str());
    if (kind == path_kind::missing)
        return true;
    if (kind == path_kind::regular_file && target.known && digest_of_file(path.c_str(), target.digest) &&
        target.digest.size == target.expected.size && target.digest.sha1 == target.expected.sha1) {
        target.left = true;
        say_left(c, target);
        return true;
    }
    if (!target.known)
        return true;   // a playable image: known once written
    report(c, "%s is there and is not the file %s gives back; nothing restored from it", path.c_str(),
           source.c_str());
    return false;
}

std::unique_ptr<source_feed> start_restore_feed(split_folder& split, std::vector<restore_target>& targets,
                                                const std::shared_ptr<stream_writer>& writer, int writers,
                                                unsigned parts)
{
    feed_plan plan;
    plan.window = feed_window(writers);
    plan.parts = parts | sha1_part;
    std::int64_t first = 0;
    for (restore_target& target : targets) {
        if (target.is_sheet || target.left)
            continue;
        target.first = first;
        first += target.size;
        writer->files.push_back(&target);
        feed_file& file = plan.files.emplace_back();
        file.name = target.name;
        file.size = target.size;
        file.first = target.first;
        if (target.form == file_form::as_it_stands)
            plan.segments.push_back(
                {target.bin_first, target.bin_bytes, target.first + static_cast<std::int64_t>(target.head.size())});
    }
    for (std::size_t i = 0; i < writer->files.size(); ++i)
        writer->outs.emplace_back();
    writer->failures.assign(writer->files.size(), 0);
    for (std::int32_t number = 1; number <= split.pieces.track_count; ++number) {
        const track_span& piece = split.pieces.tracks[number];
        const std::int64_t start = std::int64_t{piece.start_sector} * raw_sector_size;
        const std::vector<feed_claim> claims = claims_for(plan.segments, static_cast<std::size_t>(number), start,
                                                          start + std::int64_t{piece.length_sectors} * raw_sector_size);
        plan.claims.insert(plan.claims.end(), claims.begin(), claims.end());
    }
    auto reader = std::make_shared<bin_reader>();
    reader->bin = &split.bin;
    plan.fill = [writer, reader](std::int64_t at, unsigned char* buffer, std::size_t size) {
        return fill_target(writer->files, *reader, at, buffer, size);
    };
    plan.more.push_back([writer](std::int64_t at, const unsigned char* bytes, std::size_t size) {
        write_stream(*writer, at, bytes, size);
    });
    return start_feed(std::move(plan));
}

void close_writer(stream_writer& writer) { move_to(writer, INT64_MAX); }

bool place_targets(voice c, stream_writer& writer, const std::string& source)
{
    for (std::size_t i = 0; i < writer.files.size(); ++i) {
        const placing placed = place_new_output_file(c, writer.outs[i]);
        if (placed == placing::failed ||
            (placed == placing::taken && !settle_taken(c, writer.outs[i], *writer.files[i], source))) {
            for (output_file& out : writer.outs)
                discard_output_file(out);
            return false;
        }
    }
    return true;
}

bool place_sheet(voice c, restore_target& sheet, const std::string& source)
{
    if (sheet.left)
        return true;
    sheet.digest = digest_of(sheet.bytes);
    output_file out;
    if (const int failure = open_output_file(out, *sheet.folder, sheet.file_name.c_str())) {
        report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        return false;
    }
    if (std::fwrite(sheet.bytes.data(), 1, sheet.bytes.size(), out.stream.get()) != sheet.bytes.size()) {
        report(c, "cannot write %s: %s", out.final_path.c_str(), std::strerror(errno));
        return false;
    }
    const placing placed = place_new_output_file(c, out);
    return placed == placing::placed || (placed == placing::taken && settle_taken(c, out, sheet, source));
}
