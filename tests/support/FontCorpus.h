// The real font corpus for C++ tests and benchmarks: the same files as tests/support/font_corpus.py (every
// .ttf, .otf and .ttc under /usr/share/fonts and /usr/share/texmf/fonts/opentype, links followed, each
// real file once, sorted), and a plain reader of one face's tables that reads only the bytes it needs.
// Independent of the library under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corpus {

// Sweeps over every code point of every face take seconds in a plain build and minutes under the
// sanitizers; there they visit every face but only every kSanitizerStride-th code.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORV_CORPUS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KORV_CORPUS_SANITIZED 1
#endif
#endif
#ifdef KORV_CORPUS_SANITIZED
constexpr uint32_t kCodeStride = 7;
#else
constexpr uint32_t kCodeStride = 1;
#endif

using Bytes = std::vector<uint8_t>;

// Sorted real paths of the corpus's font files.
std::vector<std::string> fontFiles();

// The number of fonts in a file: a collection's numFonts, 1 for a single sfnt font, 0 when the file is
// too short or unreadable.
uint32_t faceCount(const std::string& path);

// The bytes of table `tag` (e.g. "cmap") of font `face`; false when the face or the table is not there or
// the table does not lie inside the file.
bool readTable(const std::string& path, uint32_t face, const char* tag, Bytes& table);

// The whole file; false when it cannot be read.
bool readFile(const std::string& path, Bytes& bytes);

}  // namespace corpus
