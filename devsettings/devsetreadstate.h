#pragma once

#include "devsettings/devsetframe.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVector>

#include <functional>
#include <initializer_list>

class CGIUtil;
class DevsetUnreadView;
class QBoxLayout;
class QLabel;
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
// says so: once per round in a tip, and in a note on the page until a round
// succeeds. A page that has shown a good round keeps what it showed; one
// that has not shows its fields blank, never values it did not read.
//
// A round begins with a read started while none is out; what counts is the
// last attempt of each of its reads, so a read started again replaces the
// one before it, failed or out. A read stopped by devset::stopRequest (or
// deleted) can never report: it leaves the round at once, as not read well
// unless it is started again, so that a round the page starts after
// stopping its reads begins fresh whatever the stopped ones did.
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

    // Fields that show what the reads give (see DevsetUnreadView::addField),
    // blanked by a failed read while the page has shown no good round. A
    // quiet state shows nothing of its own and takes none.
    void addShown(std::initializer_list<QWidget *> fields);
    void addShown(QWidget *slider, QLabel *number);
    // Where the note that a read failed goes (see
    // DevsetUnreadView::setNoteLayout): a dialog's content, not its title.
    void setNoteLayout(QBoxLayout *layout);
    // Whether the page's fields are blank for want of a good read: a widget
    // the page draws itself draws no values then.
    bool isBlank() const;

    // How the page reads all it shows; Restore on a page that holds no good
    // read reads again (readAgainIfUnread), since defaults would show values
    // the device never gave and could not be saved anyway.
    void setReader(std::function<void()> read) { m_reader = std::move(read); }
    // True when the page is unread: it has then started a read unless one
    // is under way, and Restore does nothing else.
    bool readAgainIfUnread();

    // Every read of the last finished round came back usable, and no round
    // is outstanding.
    bool isRead() const { return m_read; }
    bool isReading() const;

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
        const CGIUtil *request = nullptr; // compared, never used
        // Broken once the request is stopped: stopRequest cuts every link,
        // and what it had queued before is not heard either.
        QMetaObject::Connection link;
        QVector<int> codes;
        bool usable = false; // its usable reply is being delivered

        bool stopped() const { return request && !link; }
    };

    void watch(CGIUtil *request, int id, const char *element, QObject *receiver, std::function<void()> deliver);
    bool isCurrent(int id, const CGIUtil *request) const;
    // Drops the reads that can no longer report.
    void dropStopped();
    void endRound();
    void apply();

    QWidget *m_page;
    const bool m_quiet;
    DevsetUnreadView *m_unread = nullptr;
    std::function<void()> m_reader;
    QHash<int, Pending> m_pending;
    QSet<int> m_failed; // the round's reads whose last attempt was not usable
    QList<QPair<QPointer<QWidget>, bool>> m_controls;
    bool m_read = false;
    bool m_told = false;
    bool m_shown = false; // a round came back usable since the page was made
};
