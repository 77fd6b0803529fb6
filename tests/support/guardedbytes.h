#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace testsupport {

// A copy of some bytes that ends exactly where an inaccessible page begins,
// so a read past the last byte faults even inside a library that no
// sanitizer instruments.
class GuardedBytes
{
public:
    GuardedBytes(const char *data, size_t size)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t pages = (size + page - 1) / page;
        m_length = (pages + 1) * page;
        void *map = mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            m_length = 0;
            return;
        }
        m_map = static_cast<char *>(map);
        if (mprotect(m_map + pages * page, page, PROT_NONE) != 0)
            return;
        m_data = m_map + pages * page - size;
        if (size)
            std::memcpy(m_data, data, size);
    }
    ~GuardedBytes()
    {
        if (m_map)
            munmap(m_map, m_length);
    }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;

    // Null when the pages could not be set up.
    const char *data() const { return m_data; }

private:
    char *m_map = nullptr;
    char *m_data = nullptr;
    size_t m_length = 0;
};

} // namespace testsupport
