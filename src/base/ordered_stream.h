// A stream of bytes (several files' bytes one after another) that producers
// on several threads put in, each its own ranges in any order, and that
// consumers take strictly in order, each on a thread of its own, through a
// ring of fixed size: a producer whose bytes lie past the ring's reach waits
// until the consumers have taken enough. Bytes that no producer claims, or
// that a producer let go of without putting them, are read by the filler.
//
// Whoever holds the lowest bytes not yet taken never waits for another
// producer, so as long as the producers of claimed bytes put them in order
// within their claims and release their claims at the end, the stream always
// reaches its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct stream_range {
    std::int64_t first = 0;
    std::int64_t end = 0;
};

// Bytes a producer will put; `owner` names the producer.
struct stream_claim {
    stream_range range;
    std::size_t owner = 0;
    bool open = true;
};

// Takes the stream's bytes in order; a call never spans a mark.
using stream_consumer = std::function<void(std::int64_t at, const unsigned char* bytes, std::size_t size)>;
// Reads size bytes of the stream from at; returns how many it could give
// (the rest are taken as zeros).
using stream_filler = std::function<std::size_t(std::int64_t at, unsigned char* buffer, std::size_t size)>;

struct stream_plan {
    std::int64_t total = 0;
    std::size_t window = 0;             // the ring's size in bytes
    std::vector<std::int64_t> marks;    // sorted: where the files begin
    std::vector<stream_claim> claims;
    std::vector<stream_consumer> consumers;
    // By consumer (none: false): run by the producers' own calls, as they
    // put bytes or wait for room, rather than on a thread of its own.
    std::vector<bool> by_producers;
    stream_filler fill;                 // runs on the first consumer's thread
};

struct ordered_stream_state;   // ordered_stream.cpp

class ordered_stream {
public:
    explicit ordered_stream(stream_plan plan);
    ~ordered_stream();
    ordered_stream(const ordered_stream&) = delete;
    ordered_stream& operator=(const ordered_stream&) = delete;

    // Puts bytes at `at`, which its owner claimed; bytes the stream has
    // already are skipped. Waits while they lie past the ring's reach.
    void put(std::int64_t at, const unsigned char* bytes, std::size_t size);
    // The owner puts nothing more: what it claimed and did not put is the filler's.
    void release(std::size_t owner);
    // Releases every claim and waits until every consumer has taken every byte.
    void finish();

private:
    std::unique_ptr<ordered_stream_state> state_;
};
