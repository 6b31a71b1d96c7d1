// The font-list file: JSON text in UTF-8, no byte-order mark, LF line ends, no final NUL.
//
//   header       37 bytes   {\n  "version": "1.0",\n  "fontlist": [
//   first entry  33 + name  \n    {\n      "filename": "<name>"\n    }
//   later entry  34 + name  a comma, then the first-entry form
//   closing       7 bytes   \n  ]\n}\n
//
// The list is assembled in one buffer sized in advance by the counting pass (at least 128 bytes per file
// met, more when the names need it). The writer refuses an entry that does not fit; its owner then moves the
// text to a larger buffer. The buffer always keeps a NUL after the text.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kJsonBytesPerFile = 128;  // buffer budget per file met, fonts and other files alike
constexpr char kJsonHeader[] = "{\n  \"version\": \"1.0\",\n  \"fontlist\": [";
constexpr char kJsonClosing[] = "\n  ]\n}\n";
constexpr int32_t kJsonHeaderBytes = sizeof kJsonHeader - 1;    // 37
constexpr int32_t kJsonClosingBytes = sizeof kJsonClosing - 1;  // 7
constexpr int32_t kJsonFirstEntryBytes = 33;                    // without the name
constexpr int32_t kJsonLaterEntryBytes = 34;
// A list with no entry still holds header, closing and the terminator.
constexpr int32_t kJsonMinimumCapacity = kJsonHeaderBytes + kJsonClosingBytes + 1;

// The buffer size for `fileCount` files met: 128 per file, at least kJsonMinimumCapacity; -1 when that
// exceeds what a 32-bit length can describe.
int64_t fontListCapacity(int64_t fileCount);

// Bytes that `name` takes inside the quotes. Names are inserted as they are, except for the characters
// JSON does not allow raw in a string: `"` and `\` are escaped with a backslash, control characters
// below 0x20 as \b \f \n \r \t or \u00XX.
size_t jsonEscapedLength(const char* name, size_t nameBytes);

// Appends the pieces of the list to a buffer of `capacity` bytes that the caller owns.
class FontListWriter {
public:
    FontListWriter(char* buffer, int32_t capacity) : m_buffer(buffer), m_capacity(capacity) {}

    // Writes the header at the start of the buffer; false (nothing written) when the buffer is smaller
    // than kJsonMinimumCapacity.
    bool begin();

    // Appends one entry when it, the closing piece and the terminator still fit; false (nothing written)
    // otherwise. `name` is UTF-8 without terminator.
    bool append(const char* name, size_t nameBytes);

    // Appends the closing piece (begin and append always leave room for it).
    void finish();

    // The bytes that appending `name` needs free: the entry, the closing piece and the terminator.
    size_t roomFor(const char* name, size_t nameBytes) const;

    // Continues in `buffer`, which already holds the text written so far (a grown copy of the old one).
    void moveTo(char* buffer, int32_t capacity) {
        m_buffer = buffer;
        m_capacity = capacity;
    }

    int32_t length() const { return m_length; }
    int32_t capacity() const { return m_capacity; }
    // True until the first entry has been appended.
    bool isEmpty() const { return m_first; }

private:
    char* m_buffer;
    int32_t m_capacity;
    int32_t m_length = 0;
    bool m_first = true;
    bool m_begun = false;
};
