#include "cue/chd_codecs.h"

#include "cue/chd_flac.h"
#include "cue/chd_image.h"
#include "cue/sector_codes.h"

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int sector_bytes = 2352;
constexpr int subcode_bytes = chd_frame_bytes - sector_bytes;
constexpr std::size_t cd_flac_max_block = sector_bytes;
constexpr std::uint32_t flac_max_block = 2048;

enum class stream_kind { deflate, lzma, zstd };

// Raw deflate (no zlib header), one stream per hunk part.
struct inflater {
    z_stream stream{};
    bool ready = false;
    ~inflater()
    {
        if (ready)
            inflateEnd(&stream);
    }
};

bool inflate_raw(inflater& z, const unsigned char* in, std::size_t size, unsigned char* out, std::size_t out_size)
{
    if (!z.ready) {
        z.ready = inflateInit2(&z.stream, -MAX_WBITS) == Z_OK;
        if (!z.ready)
            return false;
    } else if (inflateReset(&z.stream) != Z_OK) {
        return false;
    }
    z.stream.next_in = const_cast<Bytef*>(in);
    z.stream.avail_in = static_cast<uInt>(size);
    z.stream.next_out = out;
    z.stream.avail_out = static_cast<uInt>(out_size);
    const int result = inflate(&z.stream, Z_FINISH);
    return (result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR) && z.stream.avail_out == 0;
}

// Raw LZMA (no header, no end marker) with the properties chdman gives it:
// lc 3, lp 0, pb 2. Its dictionary is never more than the part it codes.
struct lzma_decoder {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~lzma_decoder() { lzma_end(&stream); }
};

bool decode_lzma(lzma_decoder& lzma, const unsigned char* in, std::size_t size, unsigned char* out,
                 std::size_t out_size)
{
    lzma_options_lzma options{};
    options.dict_size = static_cast<std::uint32_t>(std::max<std::size_t>(out_size, LZMA_DICT_SIZE_MIN));
    options.lc = 3;
    options.lp = 0;
    options.pb = 2;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_raw_decoder(&lzma.stream, filters) != LZMA_OK)
        return false;
    lzma.stream.next_in = in;
    lzma.stream.avail_in = size;
    lzma.stream.next_out = out;
    lzma.stream.avail_out = out_size;
    const lzma_ret result = lzma_code(&lzma.stream, LZMA_RUN);
    return (result == LZMA_OK || result == LZMA_STREAM_END) && lzma.stream.avail_out == 0;
}

struct zstd_deleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using zstd_context = std::unique_ptr<ZSTD_DCtx, zstd_deleter>;

bool decode_zstd(ZSTD_DCtx* context, const unsigned char* in, std::size_t size, unsigned char* out,
                 std::size_t out_size)
{
    if (context == nullptr || ZSTD_isError(ZSTD_DCtx_reset(context, ZSTD_reset_session_only)))
        return false;
    ZSTD_inBuffer input{in, size, 0};
    ZSTD_outBuffer output{out, out_size, 0};
    while (input.pos < input.size && output.pos < output.size) {
        const std::size_t result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result) || result == 0)
            break;
    }
    return output.pos == output.size;
}

// The block size of a hunk's FLAC stream, as chdman picks it.
std::uint32_t cd_flac_block_size(std::size_t sector_data)
{
    std::size_t block = sector_data / 4;
    while (block > cd_flac_max_block)
        block /= 2;
    return static_cast<std::uint32_t>(block);
}

} // namespace

struct chd_codecs::contexts {
    std::uint32_t hunk_bytes;
    std::size_t frames;
    std::vector<unsigned char> sectors;    // a CD hunk's first part, decoded
    std::vector<unsigned char> subcodes;   // and its second
    inflater deflate;
    lzma_decoder lzma;
    zstd_context zstd;
    std::unique_ptr<flac_hunk_decoder> flac;

    bool decode(stream_kind kind, const unsigned char* in, std::size_t size, unsigned char* out, std::size_t out_size)
    {
        switch (kind) {
        case stream_kind::deflate:
            return inflate_raw(deflate, in, size, out, out_size);
        case stream_kind::lzma:
            return decode_lzma(lzma, in, size, out, out_size);
        case stream_kind::zstd:
            if (!zstd)
                zstd.reset(ZSTD_createDCtx());
            return decode_zstd(zstd.get(), in, size, out, out_size);
        }
        return false;
    }

    // The frames again from their sectors and subcodes; a set bit of
    // `rebuilt` marks a sector whose sync and ECC are to be computed.
    void join_frames(unsigned char* out, const unsigned char* rebuilt) const
    {
        for (std::size_t frame = 0; frame < frames; ++frame) {
            unsigned char* to = out + frame * chd_frame_bytes;
            std::memcpy(to, sectors.data() + frame * sector_bytes, sector_bytes);
            std::memcpy(to + sector_bytes, subcodes.data() + frame * subcode_bytes, subcode_bytes);
            if (rebuilt != nullptr && (rebuilt[frame / 8] >> (frame % 8) & 1U) != 0)
                restore_sync_and_ecc(to);
        }
    }

    bool decode_cd(stream_kind sector_kind, stream_kind subcode_kind, const unsigned char* in, std::size_t size,
                   unsigned char* out)
    {
        const std::size_t bitmap_bytes = (frames + 7) / 8;
        const int length_bytes = hunk_bytes < 65536 ? 2 : 3;
        const std::size_t head = bitmap_bytes + static_cast<std::size_t>(length_bytes);
        if (size < head)
            return false;
        const auto first_size = static_cast<std::size_t>(big_endian(in + bitmap_bytes, length_bytes));
        if (first_size > size - head ||
            !decode(sector_kind, in + head, first_size, sectors.data(), sectors.size()) ||
            !decode(subcode_kind, in + head + first_size, size - head - first_size, subcodes.data(), subcodes.size()))
            return false;
        join_frames(out, in);
        return true;
    }

    // Plain FLAC: the whole hunk as samples, after a byte that says in which
    // byte order they go back: 'B' big-endian, 'L' little-endian.
    bool decode_flac(const unsigned char* in, std::size_t size, unsigned char* out)
    {
        if (size < 1 || (in[0] != 'B' && in[0] != 'L'))
            return false;
        if (!flac)
            flac = std::make_unique<flac_hunk_decoder>();
        std::uint32_t block = hunk_bytes / 4;
        while (block > flac_max_block)
            block /= 2;
        if (flac->decode(in + 1, size - 1, block, out, hunk_bytes / 4) < 0)
            return false;
        for (std::uint32_t i = 0; in[0] == 'L' && i + 1 < hunk_bytes; i += 2)
            std::swap(out[i], out[i + 1]);
        return true;
    }

    bool decode_cd_flac(const unsigned char* in, std::size_t size, unsigned char* out)
    {
        if (!flac)
            flac = std::make_unique<flac_hunk_decoder>();
        const std::int64_t taken = flac->decode(in, size, cd_flac_block_size(sectors.size()), sectors.data(),
                                                sectors.size() / 4);
        if (taken < 0 || static_cast<std::uint64_t>(taken) > size ||
            !inflate_raw(deflate, in + taken, size - static_cast<std::size_t>(taken), subcodes.data(),
                         subcodes.size()))
            return false;
        join_frames(out, nullptr);
        return true;
    }
};

bool reads_chd_codec(std::uint32_t codec)
{
    return codec == four_cc("cdlz") || codec == four_cc("cdzl") || codec == four_cc("cdfl") ||
           codec == four_cc("cdzs") || codec == four_cc("zlib") || codec == four_cc("lzma") ||
           codec == four_cc("zstd") || codec == four_cc("flac");
}

chd_codecs::chd_codecs(std::uint32_t hunk_bytes) : contexts_(std::make_unique<contexts>())
{
    contexts_->hunk_bytes = hunk_bytes;
    contexts_->frames = hunk_bytes / chd_frame_bytes;
    contexts_->sectors.resize(contexts_->frames * sector_bytes);
    contexts_->subcodes.resize(contexts_->frames * subcode_bytes);
}

chd_codecs::~chd_codecs() = default;

bool chd_codecs::decompress(std::uint32_t codec, const unsigned char* in, std::size_t size, unsigned char* out)
{
    contexts& c = *contexts_;
    switch (codec) {
    case four_cc("cdlz"):
        return c.decode_cd(stream_kind::lzma, stream_kind::deflate, in, size, out);
    case four_cc("cdzl"):
        return c.decode_cd(stream_kind::deflate, stream_kind::deflate, in, size, out);
    case four_cc("cdzs"):
        return c.decode_cd(stream_kind::zstd, stream_kind::zstd, in, size, out);
    case four_cc("cdfl"):
        return c.decode_cd_flac(in, size, out);
    case four_cc("zlib"):
        return c.decode(stream_kind::deflate, in, size, out, c.hunk_bytes);
    case four_cc("lzma"):
        return c.decode(stream_kind::lzma, in, size, out, c.hunk_bytes);
    case four_cc("zstd"):
        return c.decode(stream_kind::zstd, in, size, out, c.hunk_bytes);
    case four_cc("flac"):
        return c.decode_flac(in, size, out);
    default:
        return false;
    }
}
