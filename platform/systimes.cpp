#include "platform/systimes.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace platform {

bool parseSystemTimes(const char *line, quint64 &idle, quint64 &kernel, quint64 &user)
{
    if (!line || std::strncmp(line, "cpu", 3) != 0 || (line[3] != ' ' && line[3] != '\t'))
        return false;
    // user nice system idle iowait irq softirq steal (guest columns are
    // already counted in user and are left out).
    enum { User, Nice, System, Idle, IoWait, Irq, SoftIrq, Steal, Columns };
    unsigned long long v[Columns] = {};
    const char *p = line + 3;
    int count = 0;
    while (count < Columns) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0' || *p == '\n')
            break;
        if (*p < '0' || *p > '9')
            return false;
        char *end = nullptr;
        errno = 0;
        v[count] = std::strtoull(p, &end, 10);
        if (errno == ERANGE || end == p)
            return false;
        p = end;
        ++count;
    }
    if (count <= Idle)
        return false;
    user = v[User] + v[Nice];
    idle = v[Idle] + v[IoWait];
    kernel = v[System] + v[Irq] + v[SoftIrq] + v[Steal] + idle;
    return true;
}

bool readSystemTimes(quint64 &idle, quint64 &kernel, quint64 &user)
{
    std::ifstream stat("/proc/stat");
    std::string line;
    return std::getline(stat, line) && parseSystemTimes(line.c_str(), idle, kernel, user);
}

} // namespace platform
