#include "extract/track_recipe.h"

#include "base/content_hash.h"

#include <algorithm>

namespace {

void append_facts(std::string& text, const std::string& path, const std::vector<recorded_source>& sources)
{
    const auto same_path = [&path](const recorded_source& source) { return source.path == path; };
    const auto found = std::find_if(sources.begin(), sources.end(), same_path);
    const file_facts facts = found == sources.end() ? file_facts{} : found->facts;
    text += ' ' + std::to_string(facts.size) + ' ' + std::to_string(facts.time) + ' ' +
            std::to_string(facts.identity.volume) + ' ' + std::to_string(facts.identity.index);
}

} // namespace

std::vector<recorded_source> source_states(const std::vector<std::string>& files)
{
    std::vector<recorded_source> states;
    for (const std::string& path : files) {
        recorded_source& state = states.emplace_back();
        state.path = path;
        read_file_facts(path.c_str(), state.facts);
    }
    return states;
}

std::string track_recipe(std::int32_t number, const track_span& track, const virtual_bin& bin,
                         const std::vector<recorded_source>& sources, const track_format& format,
                         const track_comments* comments)
{
    const bool is_audio = track.is_audio != 0;
    std::string text = "track " + std::to_string(number) + (is_audio ? " audio " : " data ") +
                       std::to_string(track.is_mode2) + ' ' + std::to_string(track.start_sector) + ' ' +
                       std::to_string(track.length_sectors) + '\n' + shaping_text(format, is_audio) + '\n';
    if (is_audio && comments != nullptr)
        for (const std::string& comment : *comments)
            text += comment + '\n';
    // The bytes it is cut from: past the BIN's end they are zeros, or none.
    const std::int64_t first = std::int64_t{track.start_sector} * raw_sector_size;
    const std::int64_t end = first + std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
    text += "bin " + std::to_string(bin.size_bytes) + '\n';
    for (const bin_part& part : bin.parts) {
        if (part.first_byte + part.bytes <= first || part.first_byte >= end)
            continue;
        text += "part " + std::to_string(part.first_byte) + ' ' + std::to_string(part.bytes) + ' ' +
                std::to_string(part.file_offset) + (part.decoder ? " decoded" : " plain");
        append_facts(text, part.path, sources);
        text += '\n';
    }
    return hash_text(hash_of(text));
}
