#include "devsettings/devicedocumentrequest.h"

#include "app/core/cgiutil.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

namespace {
constexpr int kWaitMs = 5000;
constexpr int kReadTimeoutSec = 6;
} // namespace

DeviceDocumentRequest::DeviceDocumentRequest(QObject *parent, int readId, int saveId)
    : QObject(parent), m_readId(readId), m_saveId(saveId)
{}

DeviceDocumentRequest::~DeviceDocumentRequest()
{
    devset::releaseRequest(m_request, kWaitMs);
}

void DeviceDocumentRequest::setDevice(const QString &devip, const QString &httpport, const QString &username,
                                      const QString &password, const QString &subject)
{
    m_devip = devip;
    m_httpport = httpport;
    m_username = username;
    m_password = password;
    m_subject = subject;
}

void DeviceDocumentRequest::read()
{
    if (!start(Step::Reading))
        emit readFailed();
}

void DeviceDocumentRequest::save(Change change)
{
    m_change = std::move(change);
    if (!start(Step::ReadingForSave))
        finishSave(false);
}

bool DeviceDocumentRequest::start(Step step, const QString &body)
{
    devset::stopRequest(m_request, kWaitMs);
    m_step = Step::Idle;
    m_codes.clear();
    const bool send = step == Step::Sending;
    const QString url =
        devset::devsetUrl(send ? "http://%1:%2/action/set?subject=" : "http://%1:%2/action/get?subject=", m_devip,
                          m_httpport) +
        m_subject;
    m_request = new CGIUtil(send ? m_saveId : m_readId);
    const bool ready = send ? m_request->setPostRequest(url, m_username, m_password, body, nullptr, nullptr, 3, 5)
                            : m_request->setGetRequest(url, m_username, m_password, nullptr, nullptr,
                                                       devset::readTimeout(kReadTimeoutSec));
    if (!ready)
        return false;
    // Both before the thread starts: the status comes first, the end after
    // the body, in that order on this thread.
    connect(m_request, &CGIUtil::sigHeaderCompleted, this, &DeviceDocumentRequest::onHeader);
    connect(m_request, &QThread::finished, this, &DeviceDocumentRequest::onFinished);
    m_step = step;
    m_request->start(QThread::InheritPriority);
    return true;
}

void DeviceDocumentRequest::onHeader(int, int code)
{
    if (sender() == m_request)
        m_codes << code;
}

void DeviceDocumentRequest::onFinished()
{
    if (!m_request || sender() != m_request)
        return;
    const Step step = m_step;
    // A read counts only whole; a set by its status alone (its reply may be
    // empty).
    const bool ok = step == Step::Sending ? !m_codes.isEmpty() && m_codes.first() == CGIUtil::ResultOk
                                          : devset::usableReply(m_codes, m_request, nullptr);
    m_step = Step::Idle;
    switch (step) {
    case Step::Reading:
        if (ok)
            emit documentRead(m_request->replyBody(), m_request->replyLength());
        else
            emit readFailed();
        break;
    case Step::ReadingForSave: {
        const QByteArray body = ok ? m_change(m_request->replyBody(), m_request->replyLength()) : QByteArray();
        if (body.isEmpty() || !start(Step::Sending, QString::fromUtf8(body)))
            finishSave(false);
        break;
    }
    case Step::Sending:
        finishSave(ok);
        break;
    case Step::Idle:
        break;
    }
}

void DeviceDocumentRequest::finishSave(bool ok)
{
    m_change = nullptr;
    emit saveDone(ok);
}
