// ".zzz" files: a plain sequence of chunks, no file header, no chunk count, no end marker.
//
//   offset 0   4 bytes  L, unsigned 32-bit little-endian: length of the data that follows
//   offset 4   L bytes  one complete zlib stream (RFC 1950) that inflates to at most 16284 bytes
//
// Each chunk inflates on its own; the unpacked ".dmp" file is the concatenation of the inflated
// chunks in file order. Fewer than 4 bytes where a length would start (0 to 3) end the file.
#ifndef KOVA_ZZZ_FILE_H
#define KOVA_ZZZ_FILE_H

#include <cstddef>
#include <cstdint>

constexpr size_t kZzzChunkHeaderSize = 4;
// Largest inflated chunk (16284, not 16384).
constexpr size_t kZzzMaxChunkOutput = 16284;
// Largest chunk length accepted. zlib's own bound for a stream of 16284 bytes is 16300 bytes, so
// no genuine chunk comes near this; a longer length is a damaged file, refused without allocating.
constexpr uint32_t kZzzMaxChunkLength = 64 * 1024;

// Result codes of decompressZzzFile.
constexpr int kZzzOk = 0;
constexpr int kZzzOpenFailed = -1;       // input or output file cannot be opened
constexpr int kZzzWriteFailed = -2;      // output file cannot be written completely
constexpr int kZzzAllocFailed = -3;      // a chunk buffer cannot be allocated
constexpr int kZzzInflateFailed = -4;    // a chunk does not inflate, or to more than 16284 bytes

// Unpacks the .zzz file at inputPath into outputPath (created or truncated). inputBytes counts the
// compressed bytes read (length fields excluded), outputBytes the inflated bytes written; both
// start at 0. Output written before a failure stays in the output file. Writes its own lines.
int decompressZzzFile(const char* inputPath, uint32_t& inputBytes, const char* outputPath, uint32_t& outputBytes);

#endif  // KOVA_ZZZ_FILE_H
