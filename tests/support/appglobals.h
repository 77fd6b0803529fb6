#pragma once

#include <QString>

namespace testsupport {

// Creates the language table, the database and the running log thread in
// the current working directory (a RunFolder made before this), as start-up
// does, and releases them again in shut-down order.
class AppGlobals
{
public:
    explicit AppGlobals(bool withLog = true);
    ~AppGlobals();
    AppGlobals(const AppGlobals &) = delete;
    AppGlobals &operator=(const AppGlobals &) = delete;

    bool isValid() const { return m_valid; }
    // Stops the log thread, which writes everything queued first.
    void flushLog();

private:
    bool m_valid = false;
};

} // namespace testsupport
