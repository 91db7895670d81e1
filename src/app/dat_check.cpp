#include "app/dat_check.h"

#include "base/file_stream.h"
#include "base/platform.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct parser_deleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

struct dat_reading {
    dat_catalogue* dat;
    int depth = 0;
    bool is_datafile = false;
    bool in_game = false;
};

const char* attribute(const XML_Char** attributes, const char* name)
{
    for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::strcmp(attributes[i], name) == 0)
            return attributes[i + 1];
    return nullptr;
}

dat_rom read_rom(const XML_Char** attributes)
{
    dat_rom rom;
    if (const char* name = attribute(attributes, "name"))
        rom.name = name;
    if (const char* size = attribute(attributes, "size"); size != nullptr && *size != '\0')
        rom.size = std::strtoll(size, nullptr, 10);
    unsigned char crc[4];
    if (const char* text = attribute(attributes, "crc"); text != nullptr && read_hex(text, crc, 4)) {
        rom.has_crc32 = true;
        rom.digest.crc32 = std::uint32_t{crc[0]} << 24 | std::uint32_t{crc[1]} << 16 | std::uint32_t{crc[2]} << 8 |
                           crc[3];
    }
    if (const char* text = attribute(attributes, "md5"))
        rom.has_md5 = read_hex(text, rom.digest.md5.data(), rom.digest.md5.size());
    if (const char* text = attribute(attributes, "sha1"))
        rom.has_sha1 = read_hex(text, rom.digest.sha1.data(), rom.digest.sha1.size());
    return rom;
}

// datafile, its games (or machines, as newer DATs call them) and their roms.
void XMLCALL element_start(void* context, const XML_Char* name, const XML_Char** attributes)
{
    auto& reading = *static_cast<dat_reading*>(context);
    ++reading.depth;
    if (reading.depth == 1)
        reading.is_datafile = std::strcmp(name, "datafile") == 0;
    else if (reading.depth == 2 && (std::strcmp(name, "game") == 0 || std::strcmp(name, "machine") == 0)) {
        const char* game = attribute(attributes, "name");
        reading.dat->games.push_back(dat_game{game != nullptr ? game : "", {}});
        reading.in_game = true;
    } else if (reading.depth == 3 && reading.in_game && std::strcmp(name, "rom") == 0)
        reading.dat->games.back().roms.push_back(read_rom(attributes));
}

void XMLCALL element_end(void* context, const XML_Char*)
{
    auto& reading = *static_cast<dat_reading*>(context);
    if (reading.depth-- == 2)
        reading.in_game = false;
}

bool matches(const dat_rom& rom, const file_digest& digest)
{
    if (rom.size != digest.size)
        return false;
    if (rom.has_sha1)
        return rom.digest.sha1 == digest.sha1;
    return (rom.has_crc32 || rom.has_md5) && (!rom.has_crc32 || rom.digest.crc32 == digest.crc32) &&
           (!rom.has_md5 || rom.digest.md5 == digest.md5);
}

bool is_sheet_name(const std::string& name)
{
    return name.size() >= 4 && (name.compare(name.size() - 4, 4, ".cue") == 0 ||
                                name.compare(name.size() - 4, 4, ".CUE") == 0);
}

// The rom of the game that the file matches; null for none.
const dat_rom* match_in(const dat_game& game, const hashed_file& file)
{
    for (const dat_rom& rom : game.roms)
        if (file.whole && matches(rom, file.digest))
            return &rom;
    return nullptr;
}

// The game most of the sheet's files (files[0] aside) match; null for none.
const dat_game* game_of(const dat_catalogue& dat, const std::vector<hashed_file>& files)
{
    const dat_game* best = nullptr;
    std::size_t best_count = 0;
    for (const dat_game& game : dat.games) {
        const auto count = static_cast<std::size_t>(std::count_if(
            files.begin() + 1, files.end(), [&game](const hashed_file& file) { return match_in(game, file); }));
        if (count > best_count) {
            best = &game;
            best_count = count;
        }
    }
    return best;
}

} // namespace

bool read_dat_file(const char* path, dat_catalogue& dat, std::string& why)
{
    const file_stream file = open_regular_file(path);
    if (!file) {
        why = std::strerror(errno);
        return false;
    }
    const std::unique_ptr<XML_ParserStruct, parser_deleter> parser(XML_ParserCreate(nullptr));
    dat_reading reading{&dat};
    XML_SetUserData(parser.get(), &reading);
    XML_SetElementHandler(parser.get(), element_start, element_end);
    char block[65536];
    for (bool last = false; !last;) {
        const std::size_t got = std::fread(block, 1, sizeof block, file.get());
        last = got < sizeof block;
        if (last && std::ferror(file.get()) != 0) {
            why = std::strerror(errno);
            return false;
        }
        if (XML_Parse(parser.get(), block, static_cast<int>(got), last) == XML_STATUS_ERROR) {
            why = "not XML: " + std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
                  std::to_string(XML_GetCurrentLineNumber(parser.get()));
            return false;
        }
    }
    if (!reading.is_datafile) {
        why = "not a Logiqx DAT: its root element is not <datafile>";
        return false;
    }
    if (dat.games.empty()) {
        why = "it lists no game";
        return false;
    }
    return true;
}

void check_against_dat(voice c, const dat_catalogue& dat, const std::vector<hashed_file>& files)
{
    const dat_game* game = game_of(dat, files);
    bool verified = game != nullptr;
    for (auto file = files.begin() + 1; file != files.end(); ++file) {
        if (game != nullptr && match_in(*game, *file) != nullptr)
            continue;
        verified = false;
        if (game != nullptr)
            report(c, "%s matches no file of %s in the DAT", file->name.c_str(), game->name.c_str());
        else
            report(c, "%s matches no file in the DAT", file->name.c_str());
    }
    if (game == nullptr)
        return;
    for (const dat_rom& rom : game->roms) {
        if (is_sheet_name(rom.name))
            continue;
        const bool found = std::any_of(files.begin() + 1, files.end(), [&rom](const hashed_file& file) {
            return file.whole && matches(rom, file.digest);
        });
        if (!found) {
            verified = false;
            report(c, "the sheet has no file for %s of %s in the DAT", rom.name.c_str(), game->name.c_str());
        }
    }
    if (verified)
        say(c, "Verified: %s\n", game->name.c_str());
    for (const dat_rom& rom : game->roms)
        if (is_sheet_name(rom.name))
            say(c, matches(rom, files.front().digest) ? "The sheet matches the DAT's %s\n"
                                                      : "The sheet is not the DAT's %s; only its files' data counts\n",
                rom.name.c_str());
}
