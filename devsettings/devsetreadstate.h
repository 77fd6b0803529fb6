#pragma once

#include "devsettings/devsetframe.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVector>

#include <functional>

class CGIUtil;
class QWidget;

namespace devset {

// Whether a finished read may be shown and sent back: the request reported
// the status 200 and nothing after it, its body was kept whole and is a
// closed XML document holding an element of that name (any, when null). A
// 500 with a tidy body is the device's error page, not its settings.
bool usableReply(const QVector<int> &codes, CGIUtil *request, const char *element);
bool usableBody(const QByteArray &body, const char *element);

// The time-out a read gets: as asked, or at most the test cap.
int readTimeout(int seconds);
// Tests that wait out a silent device shorten every read to this many
// seconds; 0 takes the cap away.
void setReadTimeoutCapForTests(int seconds);

} // namespace devset

// What a page knows of its own reads: which are outstanding, whether the
// last round of them all came back usable. The controls that send what was
// read (Save, and on the image pages every control that sends on change)
// are disabled while a round is outstanding and stay so until one succeeds,
// so that a page never writes its constructor's defaults, a device's error
// page or what an earlier round showed over the settings. A failed read
// keeps what the page showed and says so once per round.
class DevsetReadState : public QObject
{
    Q_OBJECT
public:
    // A quiet one judges reads without a tip: for reads whose failure the
    // page reports its own way.
    explicit DevsetReadState(QWidget *page, bool quiet = false);

    // A control that sends what was read; it starts with the page's wish as
    // it stands now.
    void addControl(QWidget *control);
    // The page's own wish for a registered control; it holds once the page
    // has been read.
    void setControlEnabled(QWidget *control, bool on);

    // Every read of the last finished round came back usable, and no round
    // is outstanding.
    bool isRead() const { return m_read; }
    bool isReading() const { return !m_pending.isEmpty(); }

    // As devset::startGet, but the reply reaches the slot only when usable;
    // otherwise the round fails. A request the thread refuses (no login yet)
    // fails it without a tip: nothing was asked of the device.
    template <class Receiver>
    bool startRead(CGIUtil *&r, int waitMs, int id, const QString &url, const QString &user, const QString &password,
                   int timeoutSec, Receiver *receiver, void (Receiver::*slot)(int), const char *element,
                   CGIUtil::RawDataCallback callback = nullptr, void *context = nullptr)
    {
        devset::stopRequest(r, waitMs);
        r = new CGIUtil(id);
        begin(id);
        if (!r->setGetRequest(url, user, password, callback, context, devset::readTimeout(timeoutSec))) {
            end(id, false, false);
            return false;
        }
        watch(r, id, element, receiver, [receiver, slot, id] { (receiver->*slot)(id); });
        r->start(QThread::InheritPriority);
        return true;
    }

    // For reads that report another way (a document request).
    void begin(int id);
    void end(int id, bool ok, bool tell = true);

private:
    struct Pending
    {
        CGIUtil *request = nullptr;
        QVector<int> codes;
    };

    void watch(CGIUtil *request, int id, const char *element, QObject *receiver, std::function<void()> deliver);
    bool isCurrent(int id, const CGIUtil *request) const;
    void apply();

    QWidget *m_page;
    const bool m_quiet;
    QHash<int, Pending> m_pending;
    QList<QPair<QPointer<QWidget>, bool>> m_controls;
    bool m_read = false;
    bool m_failed = false;
    bool m_told = false;
};
