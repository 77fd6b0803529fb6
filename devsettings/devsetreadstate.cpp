#include "devsettings/devsetreadstate.h"

#include "app/core/cgiutil.h"
#include "app/core/xmlreply.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetunreadview.h"

#include <QWidget>

#include <algorithm>
#include <atomic>

namespace devset {

namespace {
std::atomic<int> g_readTimeoutCap{0};
} // namespace

bool usableBody(const QByteArray &body, const char *element)
{
    return xmlreply::usableBody(body, element);
}

bool usableReply(const QVector<int> &codes, CGIUtil *request, const char *element)
{
    if (!request || codes.isEmpty())
        return false;
    for (int code : codes) {
        if (code != CGIUtil::ResultOk)
            return false; // a status other than 200, or a time-out after it
    }
    return xmlreply::usableWholeBody(*request, element);
}

int readTimeout(int seconds)
{
    const int cap = g_readTimeoutCap.load();
    return cap > 0 ? qMin(seconds, cap) : seconds;
}

void setReadTimeoutCapForTests(int seconds)
{
    g_readTimeoutCap = qMax(0, seconds);
}

} // namespace devset

DevsetReadState::DevsetReadState(QWidget *page, bool quiet)
    : QObject(page), m_page(page), m_quiet(quiet), m_unread(quiet ? nullptr : new DevsetUnreadView(page))
{}

void DevsetReadState::addShown(std::initializer_list<QWidget *> fields)
{
    for (QWidget *field : fields)
        addShown(field, nullptr);
}

void DevsetReadState::addShown(QWidget *slider, QLabel *number)
{
    if (m_unread)
        m_unread->addField(slider, number);
}

void DevsetReadState::setNoteLayout(QBoxLayout *layout)
{
    if (m_unread)
        m_unread->setNoteLayout(layout);
}

bool DevsetReadState::isBlank() const
{
    return m_unread && m_unread->isBlank();
}

bool DevsetReadState::readAgainIfUnread()
{
    if (m_read)
        return false;
    if (!isReading() && m_reader)
        m_reader();
    return true;
}

void DevsetReadState::addControl(QWidget *control)
{
    m_controls.append({control, !control->testAttribute(Qt::WA_ForceDisabled)});
    control->setEnabled(m_read && m_controls.last().second);
}

void DevsetReadState::setControlEnabled(QWidget *control, bool on)
{
    for (auto &entry : m_controls) {
        if (entry.first == control) {
            entry.second = on;
            control->setEnabled(on && m_read);
            return;
        }
    }
    control->setEnabled(on);
}

bool DevsetReadState::isReading() const
{
    return std::any_of(m_pending.cbegin(), m_pending.cend(), [](const Pending &p) { return !p.stopped() || p.usable; });
}

void DevsetReadState::begin(int id)
{
    dropStopped();
    m_pending.remove(id);
    m_failed.remove(id);
    if (m_pending.isEmpty()) {
        // A new round. What the page shows meanwhile is the last round's,
        // but the device may have changed since: nothing is sent until this
        // round has come back usable, or a save made now would be overtaken
        // by the values still on their way.
        m_failed.clear();
        m_told = false;
        m_read = false;
        apply();
    } else if (m_failed.isEmpty()) {
        // The failure told of was this read's: failing again is news.
        m_told = false;
    }
    m_pending[id] = Pending{};
}

void DevsetReadState::end(int id, bool ok, bool tell)
{
    if (!m_pending.remove(id))
        return;
    if (!ok) {
        // At once, not when the round's last read ends.
        m_failed.insert(id);
        m_read = false;
        apply();
        if (tell && m_unread) {
            if (!m_shown)
                m_unread->blank();
            m_unread->showNote(true);
        }
        if (tell && !m_quiet && !m_told) {
            m_told = true;
            devset::showTip(m_page, qwTipsdlgEx::Failure, QStringLiteral("readfailed"));
        }
    }
    dropStopped();
    if (m_pending.isEmpty())
        endRound();
}

void DevsetReadState::dropStopped()
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        // One stopped while its usable reply is being shown was read, and
        // ends when that is done.
        if (!it->stopped() || it->usable) {
            ++it;
            continue;
        }
        // Not read well, though no tip says so: the page stopped it, the
        // device did nothing wrong.
        m_failed.insert(it.key());
        it = m_pending.erase(it);
    }
}

void DevsetReadState::endRound()
{
    m_read = m_failed.isEmpty();
    apply();
    if (m_read && m_unread) {
        m_shown = true;
        m_unread->settle();
        m_unread->showNote(false);
    } else if (m_unread && m_unread->isBlank()) {
        // The round's usable replies were shown as they came; without
        // the rest they are not what the device holds.
        m_unread->blank();
    }
}

bool DevsetReadState::isCurrent(int id, const CGIUtil *request) const
{
    const auto it = m_pending.constFind(id);
    return it != m_pending.constEnd() && it->request == request && !it->stopped();
}

void DevsetReadState::watch(CGIUtil *request, int id, const char *element, QObject *receiver,
                            std::function<void()> deliver)
{
    Pending &pending = m_pending[id];
    pending.request = request;
    // An object that goes unanswered (the page closing) fails the round
    // without a word.
    pending.link = connect(request, &QObject::destroyed, this, [this, request, id] {
        if (isCurrent(id, request))
            end(id, false, false);
    });
    const QByteArray name = element ? QByteArray(element) : QByteArray();
    connect(request, &CGIUtil::sigHeaderCompleted, this, [this, request](int nID, int code) {
        if (isCurrent(nID, request))
            m_pending[nID].codes << code;
    });
    // On the page as context, so that the page's slot sees the request as
    // its sender.
    connect(request, &CGIUtil::sigDataCompleted, receiver, [this, request, name, deliver](int nID) {
        if (!isCurrent(nID, request))
            return;
        const bool ok =
            devset::usableReply(m_pending.value(nID).codes, request, name.isEmpty() ? nullptr : name.constData());
        if (ok) {
            m_pending[nID].usable = true;
            if (m_unread)
                m_unread->release();
            deliver(); // may start the page's next reads: the round stays open
        }
        // Ended, even if the page stopped it while it was shown.
        const auto it = m_pending.constFind(nID);
        if (it != m_pending.constEnd() && it->request == request)
            end(nID, ok);
    });
    // A thread that ends without a usable reply.
    connect(request, &QThread::finished, this, [this, request, id] {
        if (isCurrent(id, request))
            end(id, false);
    });
}

void DevsetReadState::apply()
{
    for (const auto &entry : qAsConst(m_controls)) {
        if (entry.first)
            entry.first->setEnabled(m_read && entry.second);
    }
}
