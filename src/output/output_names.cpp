#include "output/output_names.h"

#include "base/platform.h"
#include "cue/manifest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char temporary_suffix[] = ".trackcarve-tmp";

const char* track_file_extension(std::int32_t number, bool is_audio, const track_format& format)
{
    if (is_audio)
        return format.codec->extension;
    return is_raw_track(number, format) ? "bin" : "iso";
}

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ascii_letter_or_digit(char c)
{
    return is_ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The word at `at` in any letter case; its length, or 0.
std::size_t word_at(const std::string& name, std::size_t at, const char* word)
{
    const std::size_t length = std::strlen(word);
    if (name.size() - at < length)
        return 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = name[at + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != word[i])
            return 0;
    }
    return length;
}

// The disc part starting at `at`: "(Disc 2)", "Disc 2", "CD 2" (and
// "Disc2", "CD_2"). Its end, or 0 when there is none.
std::size_t disc_part_end(const std::string& name, std::size_t at, int& number)
{
    std::size_t p = at;
    const bool bracket = name[p] == '(';
    if (bracket)
        ++p;
    std::size_t word = word_at(name, p, "disc");
    if (word == 0)
        word = word_at(name, p, "cd");
    if (word == 0)
        return 0;
    p += word;
    while (p < name.size() && (name[p] == ' ' || name[p] == '_'))
        ++p;
    const std::size_t digits = p;
    number = 0;
    while (p < name.size() && is_ascii_digit(name[p]) && p - digits < 3)
        number = number * 10 + (name[p++] - '0');
    if (p == digits || (p < name.size() && is_ascii_letter_or_digit(name[p])))
        return 0;
    if (bracket && (p == name.size() || name[p++] != ')'))
        return 0;
    return p;
}

std::string trimmed(std::string text, const char* blanks)
{
    while (!text.empty() && std::strchr(blanks, text.back()) != nullptr)
        text.pop_back();
    const std::size_t first = text.find_first_not_of(blanks);
    return first == std::string::npos ? std::string() : text.substr(first);
}

} // namespace

disc_in_set find_disc_part(const std::string& name)
{
    for (std::size_t at = name.size(); at-- > 0;) {
        if (at > 0 && is_ascii_letter_or_digit(name[at - 1]))
            continue;
        int number = 0;
        std::size_t end = disc_part_end(name, at, number);
        if (end == 0)
            continue;
        // "(Disc 2)" whole, brackets and all, rather than the "Disc 2" in it.
        int same_number = 0;
        if (const std::size_t bracketed = at > 0 ? disc_part_end(name, at - 1, same_number) : 0; bracketed != 0) {
            end = bracketed;
            --at;
        }
        // "Game (Disc 1) (USA)" is disc 1 of "Game (USA)"; "Game - CD 2" of "Game".
        const std::string before = trimmed(name.substr(0, at), " -_,.");
        const std::string after = name.substr(end);
        // "disc001" to "disc100" are a hundred discs, not one set.
        const std::string set_name = trimmed(before + after, " ");
        return set_name.empty() ? disc_in_set{} : disc_in_set{true, number, set_name};
    }
    return {};
}

std::string output_dir_path(const run_paths& paths) { return std::string(paths.out_parent) + paths.out_name; }

std::string output_path(const run_paths& paths, std::string_view name)
{
    std::string path = output_dir_path(paths);
    path += path_separator;
    path += name;
    return path;
}

std::string playlist_file_name(const std::string& set_name) { return set_name + ".m3u"; }

track_file_name name_track_file(std::int32_t number, bool is_audio, const track_format& format)
{
    track_file_name name;
    const char* extension = track_file_extension(number, is_audio, format);
    // Track 0, the sectors before track 1's INDEX 01, sorts before track 1.
    if (number == 0)
        std::snprintf(name.text, sizeof name.text, "track00.%s", extension);
    else
        std::snprintf(name.text, sizeof name.text, "track%i.%s", static_cast<int>(number), extension);
    return name;
}

bool is_raw_track(std::int32_t number, const track_format& format)
{
    if (format.raw_data || (number == 0 && format.lossless))
        return true;
    const std::vector<bool>* raw = format.raw_tracks;
    return raw != nullptr && number >= 0 && static_cast<std::size_t>(number) < raw->size() &&
           (*raw)[static_cast<std::size_t>(number)];
}

std::string manifest_file_name(const run_paths& paths) { return std::string(paths.out_name) + manifest_suffix; }

std::string playable_image_name(const std::string& folder_name, const char* extension)
{
    return folder_name + "-playable." + extension;
}

std::string toc_file_name(const run_paths& paths) { return std::string(paths.out_name) + ".toc"; }

std::string companion_file_name(const run_paths& paths, const std::string& extension)
{
    return std::string(paths.out_name) + "." + extension;
}

std::string emulator_sheet_file_name(const run_paths& paths) { return emulator_sheet_file_name(paths.out_name); }

std::string emulator_sheet_file_name(const std::string& out_name) { return out_name + ".cue"; }

const char* owner_file_name() { return ".trackcarve-owner"; }

const char* folder_lock_file_name() { return ".trackcarve-lock"; }

const char* record_file_name() { return ".trackcarve-record"; }

std::string temporary_file_name(const char* name, unsigned long process_id)
{
    std::string temporary(1, '.');
    temporary.append(name).append(1, '.').append(std::to_string(process_id)).append(temporary_suffix);
    return temporary;
}

std::string unpacked_file_path(const run_paths& paths, std::size_t n, unsigned long process_id)
{
    const std::string name = std::string(paths.out_name) + ".unpacked" + std::to_string(n);
    return std::string(paths.out_parent) + temporary_file_name(name.c_str(), process_id);
}

unsigned long temporary_owner(const char* name)
{
    const std::size_t length = std::strlen(name);
    const std::size_t suffix = sizeof temporary_suffix - 1;
    if (name[0] != '.' || length <= suffix || std::strcmp(name + length - suffix, temporary_suffix) != 0)
        return 0;
    std::size_t digits = length - suffix;
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
        --digits;
    if (digits == length - suffix || digits < 2 || name[digits - 1] != '.')
        return 0;
    return std::strtoul(name + digits, nullptr, 10);
}
