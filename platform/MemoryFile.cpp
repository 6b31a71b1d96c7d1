#include "platform/File.h"

#include <cstring>

bool MemoryFile::seek(int64_t offset, Origin origin) {
    const int64_t base = origin == Origin::Start ? 0 : int64_t(m_size);
    if (offset < -base || offset > INT64_MAX - base) return false;
    const int64_t target = base + offset;
    // Like fseek, positions past the end are allowed; reads there simply return nothing.
    m_pos = size_t(target);
    return true;
}

size_t MemoryFile::read(void* destination, size_t count) {
    if (m_pos >= m_size) return 0;
    const size_t n = count < m_size - m_pos ? count : m_size - m_pos;
    if (n) std::memcpy(destination, m_data + m_pos, n);
    m_pos += n;
    return n;
}
