// Stand-in for the runtime library's byte-file calls on UTF-16 paths: open ("rb"), seek, tell, read, close.
// The identification and the scan worker read files only through this interface, so tests and fuzz targets
// can hand them bytes held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class File {
public:
    virtual ~File() = default;
    enum class Origin { Start, End };
    // Moves the file position; false on failure (like a non-zero fseek result).
    virtual bool seek(int64_t offset, Origin origin) = 0;
    // The current position, or -1 on failure.
    virtual int64_t tell() = 0;
    // Reads up to `count` bytes; returns the number read (fewer at the end of the file or on error).
    virtual size_t read(void* destination, size_t count) = 0;
};

// How the runtime buffers a file's reads. Buffered reads fill a block (4 KB and more) whatever is asked for,
// which suits reading a file from start to end; unbuffered reads ask the system for exactly the bytes
// wanted, which suits reading a few scattered ranges of a large file.
enum class FileBuffering { Buffered, Unbuffered };

// Opens a file for reading in binary mode. On failure returns nullptr and sets `error` to the platform's
// error number (always positive). Closing is the destruction of the object.
std::unique_ptr<File> openFileForReading(const char16_t* path, int& error,
                                         FileBuffering buffering = FileBuffering::Buffered);

// A file whose bytes are held in memory (tests, fuzzing, support tools). It does not own the bytes.
class MemoryFile final : public File {
public:
    MemoryFile(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool seek(int64_t offset, Origin origin) override;
    int64_t tell() override { return int64_t(m_pos); }
    size_t read(void* destination, size_t count) override;

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
