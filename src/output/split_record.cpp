#include "output/split_record.h"

#include "base/content_hash.h"
#include "output/output_names.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace {

using json = nlohmann::ordered_json;

// A record of another layout is no record: the run makes a new one.
constexpr int record_version = 1;
// Far more than 99 tracks take: a larger file is not one this program wrote.
constexpr std::int64_t record_size_limit = std::int64_t{16} << 20;

// Names and paths keep every byte: one that is not UTF-8, which JSON cannot
// hold as a string, is kept as its bytes in hex.
json text_value(const std::string& text)
{
    const json value = text;
    const bool utf8 = value.dump(-1, ' ', false, json::error_handler_t::replace) ==
                      value.dump(-1, ' ', false, json::error_handler_t::ignore);
    if (utf8)
        return value;
    std::string hex;
    char digits[3];
    for (const char c : text) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
        hex += digits;
    }
    return json{{"hex", hex}};
}

bool read_text(const json& value, std::string& text)
{
    if (value.is_string()) {
        text = value.get<std::string>();
        return true;
    }
    const auto hex = value.is_object() ? value.find("hex") : value.end();
    if (hex == value.end() || !hex->is_string() || hex->get<std::string>().size() % 2 != 0)
        return false;
    text.clear();
    const std::string digits = hex->get<std::string>();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        unsigned byte = 0;
        if (std::sscanf(digits.c_str() + i, "%2x", &byte) != 1)
            return false;
        text += static_cast<char>(byte);
    }
    return true;
}

// The field of an object, when it is there and of the kind wanted: the
// record is a file anyone may have edited, and nothing in it may throw.
const json* field(const json& object, const char* name)
{
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

template <typename Number>
bool read_number(const json& object, const char* name, Number& number)
{
    const json* value = field(object, name);
    if (value == nullptr || !value->is_number_integer())
        return false;
    number = value->get<Number>();
    return true;
}

bool read_flag(const json& object, const char* name, bool& flag)
{
    const json* value = field(object, name);
    if (value == nullptr || !value->is_boolean())
        return false;
    flag = value->get<bool>();
    return true;
}

std::uint64_t hash_from_text(const std::string& text, bool& ok)
{
    unsigned long long hash = 0;
    int length = 0;
    ok = text.size() == 16 && std::sscanf(text.c_str(), "%16llx%n", &hash, &length) == 1 && length == 16;
    return hash;
}

json output_json(const recorded_output& output)
{
    return json{{"name", text_value(output.name)},
                {"size", output.size},
                {"time", output.time},
                {"hash", output.hashed ? json(hash_text(output.hash)) : json(nullptr)},
                {"recipe", output.recipe},
                {"clean", output.clean}};
}

bool read_output(const json& value, recorded_output& output)
{
    const json* name = field(value, "name");
    const json* hash = field(value, "hash");
    const json* recipe = field(value, "recipe");
    if (name == nullptr || !read_text(*name, output.name) || !read_number(value, "size", output.size) ||
        !read_number(value, "time", output.time) || hash == nullptr || recipe == nullptr || !recipe->is_string() ||
        !read_flag(value, "clean", output.clean))
        return false;
    output.recipe = recipe->get<std::string>();
    output.hashed = hash->is_string();
    bool ok = true;
    if (output.hashed)
        output.hash = hash_from_text(hash->get<std::string>(), ok);
    return ok && (output.hashed || hash->is_null());
}

json source_json(const recorded_source& source)
{
    return json{{"path", text_value(source.path)},
                {"size", source.facts.size},
                {"time", source.facts.time},
                {"volume", source.facts.identity.volume},
                {"index", source.facts.identity.index}};
}

bool read_source(const json& value, recorded_source& source)
{
    const json* path = field(value, "path");
    source.facts.identity.known = true;
    return path != nullptr && read_text(*path, source.path) && read_number(value, "size", source.facts.size) &&
           read_number(value, "time", source.facts.time) &&
           read_number(value, "volume", source.facts.identity.volume) &&
           read_number(value, "index", source.facts.identity.index);
}

std::string record_text(const split_record& record)
{
    json options = json::object();
    for (const auto& [name, value] : record.options)
        options[name] = text_value(value);
    json sources = json::array();
    for (const recorded_source& source : record.sources)
        sources.push_back(source_json(source));
    json outputs = json::array();
    for (const recorded_output& output : record.outputs)
        outputs.push_back(output_json(output));
    const json text{{"version", record_version}, {"complete", record.complete}, {"options", options},
                    {"sources", sources},         {"outputs", outputs}};
    return text.dump(1, '\t') + "\n";
}

bool read_record_text(const std::string& text, split_record& record)
{
    const json value = json::parse(text, nullptr, false);
    int version = 0;
    const json* options = field(value, "options");
    const json* sources = field(value, "sources");
    const json* outputs = field(value, "outputs");
    if (value.is_discarded() || !read_number(value, "version", version) || version != record_version ||
        !read_flag(value, "complete", record.complete) || options == nullptr || !options->is_object() ||
        sources == nullptr || !sources->is_array() || outputs == nullptr || !outputs->is_array())
        return false;
    for (const auto& [name, option] : options->items()) {
        std::string option_value;
        if (!read_text(option, option_value))
            return false;
        record.options.emplace_back(name, option_value);
    }
    for (const json& source : *sources)
        if (!read_source(source, record.sources.emplace_back()))
            return false;
    for (const json& output : *outputs)
        if (!read_output(output, record.outputs.emplace_back()))
            return false;
    return true;
}

void say_nothing(void*, const std::string&) {}

// Without a word when it fails: the record is the next run's aid. One that
// cannot be written leaves the older one, whose entries no longer match
// the files this run replaced, and the next run writes those again; the
// failure that kept it from being written (a full disk, say) is told by the
// files it kept from being written too.
void write_record(const output_folder& folder, const split_record& record, bool durable)
{
    output_file out;
    out.hashing = output_hash::none;
    out.durable = durable;
    if (open_output_file(out, folder, record_file_name()) != 0)
        return;
    const std::string text = record_text(record);
    std::fwrite(text.data(), 1, text.size(), out.stream.get());
    commit_output_file(voice(nullptr, say_nothing, say_nothing, say_nothing), out);
}

} // namespace

bool read_split_record(const run_paths& paths, split_record& record)
{
    record = {};
    const std::string path = output_path(paths, record_file_name());
    if (kind_of_path(path.c_str()) != path_kind::regular_file)
        return false;
    const file_stream file = open_regular_file(path.c_str());
    const std::int64_t size = file ? file_size(file.get()) : -1;
    if (size <= 0 || size > record_size_limit)
        return false;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (std::fread(text.data(), 1, text.size(), file.get()) != text.size() || !read_record_text(text, record)) {
        record = {};
        return false;
    }
    return true;
}

const recorded_output* find_output(const split_record& record, const std::string& name)
{
    for (const recorded_output& output : record.outputs)
        if (output.name == name)
            return &output;
    return nullptr;
}

recorded_output output_entry(const output_folder& folder, const std::string& name)
{
    recorded_output entry;
    entry.name = name;
    file_facts facts;
    if (read_file_facts(output_path(*folder.paths, name).c_str(), facts)) {
        entry.size = facts.size;
        entry.time = facts.time;
    }
    return entry;
}

output_state state_of_output(const run_paths& paths, const recorded_output& entry, unsigned char* buffer,
                             std::size_t buffer_size)
{
    const std::string path = output_path(paths, entry.name);
    file_facts facts;
    if (kind_of_path(path.c_str()) != path_kind::regular_file || !read_file_facts(path.c_str(), facts) ||
        facts.size != entry.size)
        return output_state::changed;
    if (facts.time == entry.time)
        return output_state::same;
    if (!entry.hashed)
        return output_state::unsure;
    std::uint64_t hash = 0;
    return hash_file(path.c_str(), buffer, buffer_size, hash) && hash == entry.hash ? output_state::same
                                                                                   : output_state::changed;
}

void journal_output(const output_folder& folder, recorded_output entry)
{
    split_journal& journal = *folder.journal;
    const std::lock_guard<std::mutex> hold(journal.lock);
    std::vector<recorded_output>& outputs = journal.record.outputs;
    const auto same_name = [&entry](const recorded_output& output) { return output.name == entry.name; };
    const auto found = std::find_if(outputs.begin(), outputs.end(), same_name);
    if (found != outputs.end())
        *found = std::move(entry);
    else
        outputs.push_back(std::move(entry));
    journal.record.complete = false;
    // Not flushed: a record a power loss takes leaves the files to be written again.
    write_record(folder, journal.record, false);
}

void remove_unmade_outputs(const output_folder& folder, const std::vector<std::string>& made)
{
    split_journal& journal = *folder.journal;
    const std::lock_guard<std::mutex> hold(journal.lock);
    std::vector<recorded_output> kept;
    unsigned char buffer[16384];
    for (recorded_output& output : journal.record.outputs) {
        if (std::find(made.begin(), made.end(), output.name) != made.end())
            kept.push_back(std::move(output));
        else if (state_of_output(*folder.paths, output, buffer, sizeof buffer) == output_state::same)
            remove_output_file(folder, output.name.c_str());
    }
    journal.record.outputs = std::move(kept);
}

void write_journal(const output_folder& folder, bool complete)
{
    split_journal& journal = *folder.journal;
    const std::lock_guard<std::mutex> hold(journal.lock);
    journal.record.complete = complete;
    write_record(folder, journal.record, true);
    // The last of the run's files: every rename the run made here goes to
    // the disk with this one's.
    flush_folder_to_disk(output_dir_path(*folder.paths).c_str());
}
