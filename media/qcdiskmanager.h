#pragma once

#include "app/core/settingranges.h"
#include "platform/stoptoken.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <functional>
#include <optional>

// Keeps room on the disk that holds the recordings: every few cycles of 2 s it
// measures the free space of the record root and, below the minimum, deletes
// the oldest finished recordings until the minimum plus 2 GiB is reached.
// Once a day, and whenever the clock went back, recordings dated in the
// future are moved out of the way into backup folders.
class qcDiskManager : public QThread
{
    Q_OBJECT
public:
    using FreeSpaceFunction = std::function<std::optional<qint64>(const QString &root)>;
    static constexpr qint64 kDefaultMinGiB = settingranges::kReservedSize.min;
    static constexpr int kCycleMs = 2000;

    explicit qcDiskManager(QObject *parent = nullptr);
    ~qcDiskManager() override;

    bool setRecordRoot(const QString &root);
    // The recordings go to another folder from now on (the operator chose
    // one while the program runs): the room is kept there. An empty root
    // leaves the guard idle.
    void moveRecordRoot(const QString &root);
    bool setMinFreeSpace(qint64 gib);
    // A reserve the operator changed while the program runs; unlike the
    // start-up value it may also be lower than before (never below the
    // default minimum), so that fewer recordings give way. A changed reserve
    // is checked at the next cycle.
    void replaceMinFreeSpace(qint64 gib);
    qint64 minFreeSpace() const { return m_minGiB.load(); }
    int cycleLimit() const { return m_limit.load(); }
    QString recordRoot();

    // The next cycle checks the free space (a recorder ran out of room).
    void requestCheck() { m_checkNow = true; }
    // The next cycle moves the recordings that end in the future (a recorder
    // ended one after the clock went back).
    void requestLatePass() { m_latePassNow = true; }
    void stop();
    // Free-space checks done so far.
    int checkCount() const { return m_checks.load(); }
    // Daily passes run to their end so far; what one pass moves is all in
    // place once this counts it.
    int passCount() const { return m_passes.load(); }

    // One check and one daily pass, as the cycle runs them.
    void checkFreeSpace();
    void dailyPass();

    // The bytes available to an unprivileged caller; no value when the
    // system cannot say. Tests install their own (an empty function restores
    // the system's).
    static void setFreeSpaceFunction(FreeSpaceFunction function);
    static std::optional<qint64> freeSpace(const QString &root);
    static int parseTimeOfDay(const QString &text);

protected:
    void run() override;

private:
    void collect(const QString &folder, QFileInfoList *out);
    // `root`: the record root the pass began with, the top of every change.
    bool removeEmptyFolders(const QString &root, const QString &folder);
    void moveTodaysLateFiles(const QString &root, const QString &folder, const QDateTime &now);

    std::atomic<qint64> m_minGiB{kDefaultMinGiB};
    std::atomic<bool> m_checkNow{true};
    std::atomic<bool> m_latePassNow{false};
    std::atomic<int> m_limit{24};
    std::atomic<int> m_checks{0};
    std::atomic<int> m_passes{0};
    int m_counter = 0;
    platform::StopToken m_stop;
    QMutex m_rootMutex;
    QString m_root;
    QDateTime m_previous;
    bool m_firstPass = true;
};
