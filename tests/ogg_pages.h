// A check of an Ogg stream's framing, shared by the tests and the whole-run
// fuzz target: what a kill or a full disk would cut short fails it.
#pragma once

#include <ogg/ogg.h>

#include <cstring>
#include <string>

// The bytes are nothing but whole pages, the last of them (and only it)
// marked end-of-stream.
inline bool ends_in_one_end_of_stream_page(const std::string& bytes)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(bytes.size()));
    std::memcpy(buffer, bytes.data(), bytes.size());
    ogg_sync_wrote(&sync, static_cast<long>(bytes.size()));
    ogg_page page;
    int eos_pages = 0;
    bool last_is_eos = false;
    bool whole = true;
    std::size_t consumed = 0;
    for (long result; (result = ogg_sync_pageseek(&sync, &page)) != 0;) {
        if (result < 0) {
            whole = false;   // bytes that are not a page
            consumed += static_cast<std::size_t>(-result);
            continue;
        }
        consumed += static_cast<std::size_t>(result);
        last_is_eos = ogg_page_eos(&page) != 0;
        eos_pages += last_is_eos ? 1 : 0;
    }
    ogg_sync_clear(&sync);
    return whole && consumed == bytes.size() && eos_pages == 1 && last_is_eos;
}
