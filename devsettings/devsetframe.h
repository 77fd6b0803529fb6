#pragma once

#include "app/core/cgiutil.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <initializer_list>

class BaseWindow;
class QBoxLayout;
class QPushButton;
class QVBoxLayout;
class QWidget;
class QLabel;
class qwTipsdlgEx;

// The pages of the settings window; each id is also the page's language
// section minus one.
enum DevsetPageId {
    DEVSET_GENERAL = 112,
    DEVSET_MAINTAIN = 113,
    DEVSET_TCPIP = 114,
    DEVSET_NETADVANCED = 115,
    DEVSET_WIFI = 116,
    DEVSET_VIDEO = 117,
    DEVSET_AUDIO = 118,
    DEVSET_IMAGE = 119,
    DEVSET_OSD = 120,
    DEVSET_MOTION = 121,
    DEVSET_STORAGE = 122,
    DEVSET_SCHEDULE = 123,
    DEVSET_USERS = 124,
};

// What every settings page and dialog shares: texts, request set-up and
// stopping, tips and request bodies. Pages hold one CGIUtil pointer per
// request kind and act on a signal only when its sender is the object that
// pointer holds now; a replaced request may still have signals queued.
namespace devset {

constexpr int kCommonPage = 33;
constexpr int kLocalPage = 36;
constexpr int kRemotePage = 37;
constexpr int kTipsPage = 38;
constexpr int kAnySection = 48;

// The language text, or "" when the table is not loaded or lacks the key.
QString text(int page, int section, const char *key);
// A text of the image pages: the picture words from page 34, the common
// words from page 33, everything else from the image section of page 37.
QString imageText(const char *key);
QStringList imageTexts(std::initializer_list<const char *> keys);

// The same followed by ":", as every caption shows it.
QString caption(int page, int section, const char *key);

// Ends the request held in r and empties r. A running one gets waitMs to
// finish, then is aborted (which ends it within 200 ms). The object goes by
// deleteLater() so that its address stays taken until every signal it queued
// has been delivered. Its signals are cut, so a read of it never reports:
// the DevsetReadState that watched it drops it from its round.
void stopRequest(CGIUtil *&r, int waitMs);
// For destructors: a read is aborted at once (nobody can show its reply any
// more), a set gets waitMs first so that a save clicked just before closing
// still reaches the device; then the object is deleted.
void releaseRequest(CGIUtil *&r, int waitMs);

// literal holds "%1" (address) and "%2" (port), filled in one pass.
QString devsetUrl(const char *literal, const QString &devip, const QString &httpport);

// Stops r (waitMs), puts a new request of that id into it and prepares it;
// only when the request thread accepted the set-up is the one signal
// connected and the thread started. Returns whether it started.
template <class Receiver, class Slot>
bool startGet(CGIUtil *&r, int waitMs, int id, const QString &url, const QString &user, const QString &password,
              int timeoutSec, Receiver *receiver, Slot slot, CGIUtil::RawDataCallback callback = nullptr,
              void *context = nullptr)
{
    stopRequest(r, waitMs);
    r = new CGIUtil(id);
    if (!r->setGetRequest(url, user, password, callback, context, timeoutSec))
        return false;
    QObject::connect(r, &CGIUtil::sigDataCompleted, receiver, slot);
    r->start(QThread::InheritPriority);
    return true;
}

template <class Receiver, class Slot>
bool startPost(CGIUtil *&r, int waitMs, int id, const QString &url, const QString &user, const QString &password,
               const QString &body, int connectSec, int totalSec, Receiver *receiver, Slot slot)
{
    stopRequest(r, waitMs);
    r = new CGIUtil(id);
    if (!r->setPostRequest(url, user, password, body, nullptr, nullptr, connectSec, totalSec))
        return false;
    QObject::connect(r, &CGIUtil::sigHeaderCompleted, receiver, slot);
    r->start(QThread::InheritPriority);
    return true;
}

// The same for a set whose body goes as the given bytes (the reply is not
// kept) and for a file upload: only sigHeaderCompleted reports.
template <class Receiver, class Slot>
bool startPostEx(CGIUtil *&r, int waitMs, int id, const QString &url, const QString &user, const QString &password,
                 const QByteArray &body, Receiver *receiver, Slot slot)
{
    stopRequest(r, waitMs);
    r = new CGIUtil(id);
    if (!r->setPostRequestEx(url, user, password, body.constData()))
        return false;
    QObject::connect(r, &CGIUtil::sigHeaderCompleted, receiver, slot);
    r->start(QThread::InheritPriority);
    return true;
}

template <class Receiver, class Slot>
bool startUpload(CGIUtil *&r, int waitMs, int id, const QString &url, const QString &user, const QString &password,
                 const QString &filePath, Receiver *receiver, Slot slot)
{
    stopRequest(r, waitMs);
    r = new CGIUtil(id);
    if (!r->setUploadRequest(url, user, password, filePath))
        return false;
    QObject::connect(r, &CGIUtil::sigHeaderCompleted, receiver, slot);
    r->start(QThread::InheritPriority);
    return true;
}

// The number label "label_<name>Value" beside the slider "slider_<name>"
// on page, or null.
QLabel *sliderNumber(const QWidget *page, const QWidget *slider);

// A tip of page 38 whose text key rides in kTipKeyProperty; it deletes itself.
qwTipsdlgEx *showTip(QWidget *parent, int kind, const QString &key);

// Fills %1..%99 of literal with values in one pass, so that a "%2" inside a
// value stays as it is; "%12" is the twelfth value when there are twelve,
// else the first followed by "2". The values go in as given (escape them
// first).
QString fillXml(const QString &literal, const QStringList &values);

// The set-up every dialog of the pages shares: a frameless, window-modal
// dialog that deletes itself when closed, with the program's icon and the
// title on the left. Returns the content widget that fills the client area.
QWidget *prepareDialog(BaseWindow *dialog, const QString &title);

// The page's dark background under its object name and the column that
// holds its contents; with a title, the page's title bar first.
QVBoxLayout *preparePage(QWidget *page, const QString &objectName, const QString &title = QString());

// A row of buttons with captions of page 33 and the object names
// "pushButton_<name>", right-aligned or centred, added to layout. A
// "cancelopt" button closes the window it is in.
struct ButtonSpec
{
    const char *key;
    const char *name;
};
QList<QPushButton *> addButtonRow(QBoxLayout *layout, QWidget *parent, std::initializer_list<ButtonSpec> buttons,
                                  bool centred = true);

// A preview area ("widget_Preview", black, of size preview) and above it an
// overlay ("widget_Overlay", of size overlay, no background of its own, with
// page as its event filter) on a stage widget to put into a layout. The
// overlay is not a native window: on xcb that would hide the picture under it.
struct PreviewStage
{
    QWidget *stage;
    QWidget *preview;
    QWidget *overlay;
};
PreviewStage makePreviewStage(QWidget *page, QSize preview, QSize overlay);

} // namespace devset
