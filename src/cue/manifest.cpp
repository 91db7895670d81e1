#include "cue/manifest.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace {

using json = nlohmann::ordered_json;

constexpr char manifest_word[] = "trackcarve lossless split";
constexpr int manifest_version = 1;
constexpr const char* kind_names[] = {"zeros", "flac", "iso", "raw", "bytes"};

// Text as a JSON string when it is UTF-8, else as {"base64": ...}: a sheet
// or a file name may be in any encoding.
json text_value(const std::string& bytes)
{
    try {
        json value = bytes;
        (void)value.dump();   // throws on bytes that are not UTF-8
        return value;
    } catch (const json::exception&) {
        return json{{"base64", base64_of(bytes)}};
    }
}

bool read_text(const json& value, std::string& bytes)
{
    if (value.is_string()) {
        bytes = value.get<std::string>();
        return true;
    }
    return value.is_object() && value.contains("base64") && value["base64"].is_string() &&
           read_base64(value["base64"].get<std::string>(), bytes);
}

void put_digest(json& object, const file_digest& digest, bool with_sha1)
{
    object["size"] = digest.size;
    object["crc32"] = crc32_hex(digest.crc32);
    object["md5"] = hex_of(digest.md5);
    if (with_sha1)
        object["sha1"] = hex_of(digest.sha1);
}

bool read_digest(const json& object, file_digest& digest, bool with_sha1)
{
    unsigned char crc[4];
    if (!object.contains("size") || !object["size"].is_number_integer() || !object.contains("crc32") ||
        !object["crc32"].is_string() || !read_hex(object["crc32"].get<std::string>(), crc, 4) ||
        !object.contains("md5") || !object["md5"].is_string() ||
        !read_hex(object["md5"].get<std::string>(), digest.md5.data(), digest.md5.size()))
        return false;
    digest.size = object["size"].get<std::int64_t>();
    digest.crc32 = std::uint32_t{crc[0]} << 24 | std::uint32_t{crc[1]} << 16 | std::uint32_t{crc[2]} << 8 | crc[3];
    return !with_sha1 || (object.contains("sha1") && object["sha1"].is_string() &&
                          read_hex(object["sha1"].get<std::string>(), digest.sha1.data(), digest.sha1.size()));
}

json piece_value(const manifest_piece& piece)
{
    json value{{"first", piece.first}, {"bytes", piece.bytes}, {"kind", kind_names[static_cast<int>(piece.what)]}};
    if (!piece.file.empty())
        value["file"] = piece.file;
    if (piece.what == manifest_piece::kind::iso) {
        value["mode"] = piece.mode2 ? 2 : 1;
        value["lba"] = piece.lba;
        if (!piece.zero_sectors.empty()) {
            json runs = json::array();
            for (const sector_run& run : piece.zero_sectors)
                runs.push_back(json::array({run.first, run.count}));
            value["zero_sectors"] = std::move(runs);
        }
    }
    if (piece.what == manifest_piece::kind::bytes)
        value["data"] = base64_of(piece.data);
    value["crc32"] = crc32_hex(piece.digest.crc32);
    value["md5"] = hex_of(piece.digest.md5);
    return value;
}

// A name the restore may give a file in its folder, or read there: a plain
// name, as a FILE line's is once its folders are cut off.
bool is_plain_name(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
           std::strlen(name.c_str()) == name.size();
}

bool read_runs(const json& value, std::vector<sector_run>& runs)
{
    if (!value.is_array())
        return false;
    for (const json& run : value) {
        if (!run.is_array() || run.size() != 2 || !run[0].is_number_integer() || !run[1].is_number_integer())
            return false;
        runs.push_back({run[0].get<std::int64_t>(), run[1].get<std::int64_t>()});
    }
    return true;
}

// A source file's name as its sheet's FILE line found it: relative to the
// sheet's folder, in it or below it, never above.
bool is_name_below(const std::string& name)
{
    if (name.empty() || name.find(':') != std::string::npos || std::strlen(name.c_str()) != name.size())
        return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/' && name[i] != '\\')
            continue;
        const std::string part = name.substr(start, i - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = i + 1;
    }
    return true;
}

bool read_piece(const json& value, manifest_piece& piece)
{
    if (!value.is_object() || !value.contains("first") || !value["first"].is_number_integer() ||
        !value.contains("bytes") || !value["bytes"].is_number_integer() || !value.contains("kind") ||
        !value["kind"].is_string())
        return false;
    piece.first = value["first"].get<std::int64_t>();
    piece.bytes = value["bytes"].get<std::int64_t>();
    const std::string kind = value["kind"].get<std::string>();
    int index = 0;
    while (index < 5 && kind != kind_names[index])
        ++index;
    if (index == 5 || piece.bytes < 0)
        return false;
    piece.what = static_cast<manifest_piece::kind>(index);
    json digest = value;
    digest["size"] = piece.bytes;
    if (!read_digest(digest, piece.digest, false))
        return false;
    switch (piece.what) {
    case manifest_piece::kind::zeros:
        return true;
    case manifest_piece::kind::bytes:
        return value.contains("data") && value["data"].is_string() &&
               read_base64(value["data"].get<std::string>(), piece.data) &&
               static_cast<std::int64_t>(piece.data.size()) == piece.bytes;
    case manifest_piece::kind::iso:
        if (!value.contains("mode") || !value["mode"].is_number_integer() || !value.contains("lba") ||
            !value["lba"].is_number_integer() || piece.bytes % 2352 != 0)
            return false;
        piece.mode2 = value["mode"].get<int>() == 2;
        piece.lba = value["lba"].get<std::int64_t>();
        if (value.contains("zero_sectors") && !read_runs(value["zero_sectors"], piece.zero_sectors))
            return false;
        [[fallthrough]];
    case manifest_piece::kind::flac:
    case manifest_piece::kind::raw:
        if (!value.contains("file") || !value["file"].is_string())
            return false;
        piece.file = value["file"].get<std::string>();
        return is_plain_name(piece.file);
    }
    return false;
}

constexpr const char* form_words[] = {"as_it_stands", "swapped", "user_data"};

bool read_form(const json& value, file_form& form)
{
    for (std::size_t i = 1; i < std::size(form_words); ++i)
        if (value.is_string() && value.get<std::string>() == form_words[i]) {
            form = static_cast<file_form>(i);
            return true;
        }
    return false;
}

bool read_file_entry(const json& value, manifest_file& file)
{
    if (!value.is_object() || !value.contains("name") || !read_text(value["name"], file.name) ||
        !is_name_below(file.name) || !read_digest(value, file.digest, true) || !value.contains("bin_first") ||
        !value["bin_first"].is_number_integer() || !value.contains("bin_bytes") ||
        !value["bin_bytes"].is_number_integer())
        return false;
    file.bin_first = value["bin_first"].get<std::int64_t>();
    file.bin_bytes = value["bin_bytes"].get<std::int64_t>();
    if ((value.contains("head") && !read_text(value["head"], file.head)) ||
        (value.contains("tail") && !read_text(value["tail"], file.tail)) ||
        (value.contains("form") && !read_form(value["form"], file.form)))
        return false;
    if (file.bin_first < 0 || file.bin_bytes < 0)
        return false;
    const auto head = static_cast<std::int64_t>(file.head.size());
    const auto tail = static_cast<std::int64_t>(file.tail.size());
    if (file.form == file_form::as_it_stands)
        return file.bin_bytes <= INT64_MAX - head - tail && file.digest.size == head + file.bin_bytes + tail;
    const std::int64_t made =
        file.form == file_form::swapped ? file.bin_bytes : file.bin_bytes / raw_sector_size * mode1_user_data_bytes;
    return head == 0 && tail == 0 && file.digest.size <= made;
}

// The pieces run end to end over the BIN, and every file lies within it.
bool covers_the_bin(const disc_manifest& manifest)
{
    std::int64_t at = 0;
    for (const manifest_piece& piece : manifest.pieces) {
        if (piece.first != at || piece.bytes < 0 || piece.bytes > manifest.bin_size - at)
            return false;
        at += piece.bytes;
    }
    if (at != manifest.bin_size)
        return false;
    for (const manifest_file& file : manifest.files)
        if (file.bin_first > manifest.bin_size || file.bin_bytes > manifest.bin_size - file.bin_first)
            return false;
    return true;
}

} // namespace

std::string manifest_text(const disc_manifest& manifest)
{
    json sheet{{"name", text_value(manifest.sheet_name)}};
    put_digest(sheet, manifest.sheet_digest, true);
    sheet["text"] = text_value(manifest.sheet_bytes);
    json files = json::array();
    for (const manifest_file& file : manifest.files) {
        json entry{{"name", text_value(file.name)}};
        put_digest(entry, file.digest, true);
        entry["bin_first"] = file.bin_first;
        entry["bin_bytes"] = file.bin_bytes;
        if (file.form != file_form::as_it_stands)
            entry["form"] = form_words[static_cast<std::size_t>(file.form)];
        if (!file.head.empty())
            entry["head"] = json{{"base64", base64_of(file.head)}};
        if (!file.tail.empty())
            entry["tail"] = json{{"base64", base64_of(file.tail)}};
        files.push_back(std::move(entry));
    }
    json pieces = json::array();
    for (const manifest_piece& piece : manifest.pieces)
        pieces.push_back(piece_value(piece));
    const json whole{{"manifest", manifest_word},
                     {"version", manifest_version},
                     {"sheet", std::move(sheet)},
                     {"files", std::move(files)},
                     {"bin", json{{"size", manifest.bin_size}, {"pieces", std::move(pieces)}}}};
    return whole.dump(2) + "\n";
}

namespace {

bool read_manifest_json(const json& whole, disc_manifest& manifest, std::string& why)
{
    why = "it is not a manifest of this program's version";
    if (!whole.is_object() || whole.value("manifest", "") != manifest_word || !whole.contains("version") ||
        !whole["version"].is_number_integer() || whole["version"].get<std::int64_t>() != manifest_version ||
        !whole.contains("sheet") || !whole.contains("files") || !whole["files"].is_array() ||
        !whole.contains("bin") || !whole["bin"].is_object() || !whole["bin"].contains("pieces") ||
        !whole["bin"]["pieces"].is_array() || !whole["bin"].contains("size") ||
        !whole["bin"]["size"].is_number_integer())
        return false;
    why = "its entries are not well formed";
    const json& sheet = whole["sheet"];
    if (!sheet.is_object() || !sheet.contains("name") || !read_text(sheet["name"], manifest.sheet_name) ||
        !is_plain_name(manifest.sheet_name) || !read_digest(sheet, manifest.sheet_digest, true) ||
        !sheet.contains("text") || !read_text(sheet["text"], manifest.sheet_bytes))
        return false;
    manifest.files.assign(whole["files"].size(), {});
    for (std::size_t i = 0; i < manifest.files.size(); ++i)
        if (!read_file_entry(whole["files"][i], manifest.files[i]))
            return false;
    manifest.bin_size = whole["bin"]["size"].get<std::int64_t>();
    manifest.pieces.assign(whole["bin"]["pieces"].size(), {});
    for (std::size_t i = 0; i < manifest.pieces.size(); ++i)
        if (!read_piece(whole["bin"]["pieces"][i], manifest.pieces[i]))
            return false;
    why = "its pieces do not cover the disc's bytes end to end";
    return covers_the_bin(manifest);
}

} // namespace

bool read_manifest(const std::string& text, disc_manifest& manifest, std::string& why)
{
    json whole;
    try {
        whole = json::parse(text);
    } catch (const json::exception& e) {
        why = std::string("it is not JSON: ") + e.what();
        return false;
    }
    // A value of another type than the one asked for (a number where a
    // word belongs) throws: the manifest is not one.
    try {
        return read_manifest_json(whole, manifest, why);
    } catch (const json::exception&) {
        why = "its entries are not well formed";
        return false;
    }
}
