// lib_check: calls each static library of the Windows prefix once and checks
// the answer: zlib, libdeflate, Nettle, xxHash, liblzma, libzstd, bzip2, libFLAC, expat,
// and libarchive reading a zip and a 7z of each common method. One PASS/FAIL line
// each, then "N passed, M failed"; exit status 1 if any failed.
#include <archive.h>
#include <archive_entry.h>
#include <bzlib.h>
#include <expat.h>
#include <FLAC/stream_decoder.h>
#include <libdeflate.h>
#include <lzma.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <xxhash.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archives.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what, const std::string& detail) {
  std::printf("%s %s: %s\n", ok ? "PASS" : "FAIL", what.c_str(), detail.c_str());
  ++(ok ? passed : failed);
}

std::string hex(const unsigned char* bytes, size_t size) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// The first member of an archive in memory: "NAME SIZE bytes, crc32 CRC", or
// what libarchive said went wrong.
std::string first_member(const unsigned char* data, size_t size) {
  archive* reader = archive_read_new();
  archive_read_support_format_zip(reader);
  archive_read_support_format_7zip(reader);
  std::string result;
  archive_entry* entry;
  if (archive_read_open_memory(reader, data, size) != ARCHIVE_OK ||
      archive_read_next_header(reader, &entry) != ARCHIVE_OK) {
    result = std::string("error: ") + archive_error_string(reader);
  } else {
    std::string body;
    char buffer[4096];
    la_ssize_t got;
    while ((got = archive_read_data(reader, buffer, sizeof buffer)) > 0) body.append(buffer, size_t(got));
    if (got < 0) {
      result = std::string("error: ") + archive_error_string(reader);
    } else {
      unsigned long crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
      result = std::string(archive_entry_pathname(entry)) + " " + std::to_string(body.size()) +
               " bytes, crc32 " + std::to_string(crc);
    }
  }
  archive_read_free(reader);
  return result;
}

}  // namespace

int main() {
  const char text[] = "trackcarve";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const size_t size = std::strlen(text);

  unsigned long crc = crc32(0, bytes, uInt(size));
  check(crc == 1217512801ul, "zlib " + std::string(zlibVersion()) + " crc32", std::to_string(crc));
  const unsigned long deflate_crc = libdeflate_crc32(0, bytes, size);
  check(deflate_crc == 1217512801ul, "libdeflate crc32", std::to_string(deflate_crc));

  md5_ctx md5;
  md5_init(&md5);
  md5_update(&md5, size, bytes);
  unsigned char md5_digest_bytes[MD5_DIGEST_SIZE];
  md5_digest(&md5, sizeof md5_digest_bytes, md5_digest_bytes);
  std::string md5_hex = hex(md5_digest_bytes, sizeof md5_digest_bytes);
  check(md5_hex == "6f36558b068cde5cd8219fb71ce0c919", "Nettle MD5", md5_hex);

  sha1_ctx sha1;
  sha1_init(&sha1);
  sha1_update(&sha1, size, bytes);
  unsigned char sha1_digest_bytes[SHA1_DIGEST_SIZE];
  sha1_digest(&sha1, sizeof sha1_digest_bytes, sha1_digest_bytes);
  std::string sha1_hex = hex(sha1_digest_bytes, sizeof sha1_digest_bytes);
  check(sha1_hex == "c42c9c18a58d8b5ed4293d74eec96e1a79fcd5b6", "Nettle SHA-1", sha1_hex);

  char xxh3[17];
  std::snprintf(xxh3, sizeof xxh3, "%016llx", static_cast<unsigned long long>(XXH3_64bits(text, size)));
  check(std::string(xxh3) == "f8b7a61e71d7075b", "xxHash " + std::to_string(XXH_versionNumber()) + " XXH3_64bits",
        xxh3);

  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret lzma_status = lzma_stream_decoder(&stream, UINT64_MAX, 0);
  check(lzma_status == LZMA_OK, "liblzma " + std::string(lzma_version_string()) + " lzma_stream_decoder",
        "status " + std::to_string(lzma_status));
  lzma_end(&stream);

  std::vector<char> packed(ZSTD_compressBound(size));
  size_t packed_size = ZSTD_compress(packed.data(), packed.size(), text, size, 3);
  char unpacked[32] = {};
  size_t unpacked_size = ZSTD_isError(packed_size) ? packed_size
                                                   : ZSTD_decompress(unpacked, sizeof unpacked, packed.data(), packed_size);
  check(!ZSTD_isError(unpacked_size) && unpacked_size == size && std::memcmp(unpacked, text, size) == 0,
        "libzstd " + std::string(ZSTD_versionString()) + " ZSTD_decompress",
        std::to_string(packed_size) + " bytes back to " + std::to_string(unpacked_size));

  check(std::strncmp(BZ2_bzlibVersion(), "1.", 2) == 0, "bzip2 BZ2_bzlibVersion", BZ2_bzlibVersion());

  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  check(decoder != nullptr, "libFLAC " + std::string(FLAC__VERSION_STRING) + " FLAC__stream_decoder_new",
        decoder ? "a decoder" : "none");
  if (decoder) FLAC__stream_decoder_delete(decoder);

  // A DAT's game name, with an entity and a character outside ASCII.
  const char dat[] = "<datafile><game name=\"Caf\xC3\xA9 &amp; Co\"/></datafile>";
  std::string game;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &game);
  XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char** attributes) {
    if (std::strcmp(name, "game") == 0 && attributes[0] != nullptr) *static_cast<std::string*>(data) = attributes[1];
  });
  const bool parsed = XML_Parse(parser, dat, int(std::strlen(dat)), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  check(parsed && game == "Caf\xC3\xA9 & Co", std::string(XML_ExpatVersion()) + " XML_Parse", game);

  const std::string expected = "track.txt 750 bytes, crc32 1519746624";
  const struct {
    const char* name;
    const unsigned char* data;
    size_t size;
  } archives[] = {{"deflate.zip", deflate_zip, deflate_zip_len},
                  {"bzip2.zip", bzip2_zip, bzip2_zip_len},
                  {"deflate.7z", deflate_7z, deflate_7z_len},
                  {"bzip2.7z", bzip2_7z, bzip2_7z_len},
                  {"lzma2.7z", lzma2_7z, lzma2_7z_len}};
  for (const auto& in : archives) {
    std::string member = first_member(in.data, in.size);
    check(member == expected, std::string(archive_version_string()) + " reads " + in.name, member);
  }

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
