#include "app/core/cgiutil.h"

#include <tinyxml.h>

#include <cstring>
#include <mutex>

#include "app/core/qcxmlhelper.h"
#include "app/core/xmlbuffer.h"

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::atomic<int> g_lowSpeedTimeSec{CGIUtil::kDefaultLowSpeedTimeSec};

// libcurl's global set-up is not thread-safe and must happen once per
// process, before any handle exists; the reply parser needs TinyXML to keep
// white space. Every CGIUtil passes through here in its constructor.
bool initLibraries()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        qcXmlHelper::keepWhiteSpace();
    });
    return ok;
}

int mapStatus(int status)
{
    switch (status) {
    case 200:
        return CGIUtil::ResultOk;
    case 401:
    case 403:
        return CGIUtil::ResultUnauthorized;
    case 400:
        return CGIUtil::ResultBadRequest;
    case 415:
        return CGIUtil::ResultBadMediaType;
    case 416:
        return CGIUtil::ResultBadRange;
    case 500:
        return CGIUtil::ResultServerError;
    case 409:
        return CGIUtil::ResultConflict;
    default:
        return CGIUtil::ResultOther;
    }
}

// The status of a status line: the second part when split at single blanks
// (so "HTTP/1.1  200" has an empty one and gives 0).
int statusOf(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> parts = line.split(' ');
    return parts.size() > 1 ? parts[1].toInt() : 0;
}

bool isConnectError(CURLcode code)
{
    return code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY;
}

// Whether the '>' at pos closes a start tag (not an end tag, an empty-element
// tag, a declaration, a processing instruction or a comment).
bool closesStartTag(const QString &s, int pos)
{
    if (pos > 0 && s[pos - 1] == QLatin1Char('/'))
        return false;
    const int open = s.lastIndexOf(QLatin1Char('<'), pos);
    if (open < 0 || open + 1 >= pos)
        return false;
    const QChar next = s[open + 1];
    return next != QLatin1Char('/') && next != QLatin1Char('?') && next != QLatin1Char('!');
}

// The element's text when it fits maxBytes; an element without text gives
// an empty array and true.
bool readText(const TiXmlElement *e, int maxBytes, QByteArray *out)
{
    const char *text = e->GetText();
    const size_t length = text ? std::strlen(text) : 0;
    if (length > size_t(maxBytes))
        return false;
    *out = QByteArray(text ? text : "", int(length));
    return true;
}

TiXmlElement *nthChild(TiXmlElement *parent, const QByteArray &name, int nth)
{
    if (!parent || nth < 0)
        return nullptr;
    TiXmlElement *e = parent->FirstChildElement(name.constData());
    for (int i = 0; e && i < nth; ++i)
        e = e->NextSiblingElement(name.constData());
    return e;
}

} // namespace

CGIUtil::CGIUtil(int id, QObject *parent) : QThread(parent), m_doc(new TiXmlDocument), m_id(id < 0 ? 0 : id)
{
    if (!initLibraries())
        return;
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
    m_setupOk = m_easy && m_multi;
}

CGIUtil::~CGIUtil()
{
    if (isRunning()) {
        abort();
        wait();
    }
    if (m_multi)
        curl_multi_cleanup(m_multi);
    if (m_easy)
        curl_easy_cleanup(m_easy);
    clearRequest();
}

void CGIUtil::setLowSpeedTime(int seconds)
{
    g_lowSpeedTimeSec = seconds > 0 ? seconds : kDefaultLowSpeedTimeSec;
}

int CGIUtil::lowSpeedTime()
{
    return g_lowSpeedTimeSec;
}

void CGIUtil::clearRequest()
{
    if (m_mime) {
        curl_mime_free(m_mime);
        m_mime = nullptr;
    }
    if (m_headers) {
        curl_slist_free_all(m_headers);
        m_headers = nullptr;
    }
}

void CGIUtil::resetReply()
{
    m_body.clear();
    m_bodyLength = 0;
    m_headerBytes = 0;
    m_bodyReceived = false;
    m_atResponseStart = true;
    m_statusMapped = false;
    m_lastPercent = 0;
    m_lastFound = nullptr;
    m_cursor = nullptr;
    m_doc->Clear();
    m_parsed = false;
}

bool CGIUtil::prepare(const QString &url, const QString &user, const QString &password)
{
    if (!m_setupOk || !url.startsWith(QLatin1String("http://")) || user.isEmpty() || password.isEmpty())
        return false;
    curl_easy_reset(m_easy);
    clearRequest();
    m_mode = Mode::None;
    m_progressWanted = false;
    m_callback = nullptr;
    m_context = nullptr;
    resetReply();

    // Settings every transfer shares. Credentials go as their own options
    // (libcurl copies them), so length and a ':' in the user name do not matter.
    curl_easy_setopt(m_easy, CURLOPT_URL, url.toUtf8().constData());
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    curl_easy_setopt(m_easy, CURLOPT_USERNAME, user.toLatin1().constData());
    curl_easy_setopt(m_easy, CURLOPT_PASSWORD, password.toLatin1().constData());
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CGIUtil::onHeaderData);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CGIUtil::onDiscardedBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    // The transfer-info callback also carries abort() into libcurl.
    curl_easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &CGIUtil::onTransferProgress);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFODATA, this);
    return true;
}

bool CGIUtil::setGetRequest(const QString &url, const QString &user, const QString &password, RawDataCallback callback,
                            void *context, int timeoutSec)
{
    if (!prepare(url, user, password))
        return false;
    if (callback && context) {
        m_callback = callback;
        m_context = context;
    }
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CGIUtil::onBodyData);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, long(timeoutSec));
    curl_easy_setopt(m_easy, CURLOPT_TIMEOUT, long(timeoutSec));
    m_mode = Mode::Get;
    return true;
}

bool CGIUtil::setPostRequest(const QString &url, const QString &user, const QString &password, const QString &body,
                             RawDataCallback callback, void *context, int connectSec, int totalSec)
{
    if (body.isEmpty() || !prepare(url, user, password))
        return false;
    m_postBody = QByteArray(kDeclaration) + condenseMarkup(body).toUtf8();
    // An empty Expect keeps libcurl from waiting for an interim answer.
    m_headers = curl_slist_append(nullptr, "Content-Type:text/xml;charset=utf-8");
    m_headers = curl_slist_append(m_headers, "Expect:");
    bool ok = m_headers != nullptr;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CGIUtil::onBodyData) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_postBody.size())) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_postBody.constData()) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, long(connectSec)) == CURLE_OK;
    curl_easy_setopt(m_easy, CURLOPT_TIMEOUT, long(totalSec));
    if (!ok) {
        clearRequest();
        return false;
    }
    if (callback && context) {
        m_callback = callback;
        m_context = context;
        m_progressWanted = true;
    }
    m_mode = Mode::Post;
    return true;
}

bool CGIUtil::setPostRequestEx(const QString &url, const QString &user, const QString &password, const char *body)
{
    if (!body || !*body || !prepare(url, user, password))
        return false;
    m_postBody = QByteArray(kDeclaration) + QByteArray(body);
    m_headers = curl_slist_append(nullptr, "Content-Type:text/xml;charset=utf-8");
    m_headers = curl_slist_append(m_headers, "Expect:");
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_postBody.size()));
    curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_postBody.constData());
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, long(lowSpeedTime()));
    m_mode = Mode::PostEx;
    return true;
}

bool CGIUtil::setUploadRequest(const QString &url, const QString &user, const QString &password,
                               const QString &filePath)
{
    if (filePath.isEmpty() || !m_easy || !m_multi || !prepare(url, user, password))
        return false;
    m_mime = curl_mime_init(m_easy);
    curl_mimepart *part = curl_mime_addpart(m_mime);
    curl_mime_name(part, "sendfile");
    // Also names the part's file; the content type is libcurl's choice.
    curl_mime_filedata(part, filePath.toLocal8Bit().constData());
    for (const char *line : {"Expect:", "User-Agent: curl/7.51.0", "Connection: Keep-Alive", "Cache-Control: no-cache",
                             "Accept-Encoding: gzip,deflate"})
        m_headers = curl_slist_append(m_headers, line);
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_easy, CURLOPT_MIMEPOST, m_mime);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, long(lowSpeedTime()));
    curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &CGIUtil::onUploadProgress);
    m_mode = Mode::Upload;
    return true;
}

void CGIUtil::abort()
{
    m_abort = true;
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

void CGIUtil::run()
{
    if (m_mode == Mode::None || m_abort)
        return;
    resetReply(); // a second start() sends the request again from scratch
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
        emit sigHeaderCompleted(m_id, ResultNoConnection);
        return;
    }
    int running = 0;
    bool loopFailed = curl_multi_perform(m_multi, &running) != CURLM_OK;
    while (!loopFailed && running > 0 && !m_abort) {
        // At most a second per pass, less when libcurl has a timer due sooner.
        long dueMs = -1;
        curl_multi_timeout(m_multi, &dueMs);
        const int waitMs = (dueMs >= 0 && dueMs < 1000) ? int(dueMs) : 1000;
        if (curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
            loopFailed = true;
            break;
        }
        if (m_abort)
            break;
        loopFailed = curl_multi_perform(m_multi, &running) != CURLM_OK;
    }

    bool done = false;
    CURLcode result = CURLE_OK;
    if (!loopFailed && !m_abort) {
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(m_multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy) {
                done = true;
                result = msg->data.result;
            }
        }
    }
    // Removing an unfinished transfer closes its connection.
    curl_multi_remove_handle(m_multi, m_easy);
    if (m_abort)
        return; // the owner asked for the end; it expects no report
    if (loopFailed || !done) {
        emit sigHeaderCompleted(m_id, ResultNoConnection);
        return;
    }
    reportEnd(result);
}

void CGIUtil::reportEnd(CURLcode result)
{
    if (result == CURLE_OPERATION_TIMEDOUT)
        emit sigHeaderCompleted(m_id, ResultTimeout);
    else if (!m_statusMapped)
        emit sigHeaderCompleted(m_id, isConnectError(result) ? ResultNoConnection : ResultOther);
    if (m_bodyReceived && (m_mode == Mode::Get || m_mode == Mode::Post))
        emit sigDataCompleted(m_id);
}

size_t CGIUtil::onHeaderData(char *data, size_t size, size_t count, void *p)
{
    auto *self = static_cast<CGIUtil *>(p);
    const size_t n = size * count;
    if (self->m_abort)
        return 0; // ends the transfer; nothing is reported after abort()
    self->m_headerBytes += qint64(n);
    const QByteArray line(data, int(n));
    if (self->m_atResponseStart) {
        // A status line; interim 1xx answers are followed by the real one.
        self->m_atResponseStart = false;
        const int status = statusOf(line);
        if (!self->m_statusMapped && (status < 100 || status > 199)) {
            self->m_statusMapped = true;
            emit self->sigHeaderCompleted(self->m_id, mapStatus(status));
        }
    }
    if (line == "\r\n" || line == "\n")
        self->m_atResponseStart = true;
    return n;
}

size_t CGIUtil::onBodyData(char *data, size_t size, size_t count, void *p)
{
    auto *self = static_cast<CGIUtil *>(p);
    const size_t n = size * count;
    if (self->m_abort)
        return 0;
    if (self->m_bodyLength + qint64(n) < kReplyBufferBytes)
        self->m_body.append(data, int(n));
    self->m_bodyLength += qint64(n);
    if (self->m_callback && self->m_context)
        self->m_callback(self->m_id, data, int(n), self->m_context);
    self->m_bodyReceived = true;
    return n;
}

size_t CGIUtil::onDiscardedBody(char *, size_t size, size_t count, void *)
{
    return size * count;
}

void CGIUtil::progress(curl_off_t total, curl_off_t now)
{
    if (total <= 0 || now <= 0)
        return;
    const int percent = int(qint64(now) * 100 / qint64(total));
    if (percent != m_lastPercent) {
        m_lastPercent = percent;
        emit sigProcessProgress(m_id, percent, 100);
    }
}

int CGIUtil::onTransferProgress(void *p, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t)
{
    auto *self = static_cast<CGIUtil *>(p);
    if (self->m_abort)
        return 1;
    if (self->m_progressWanted)
        self->progress(dltotal, dlnow);
    return 0;
}

int CGIUtil::onUploadProgress(void *p, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow)
{
    auto *self = static_cast<CGIUtil *>(p);
    if (self->m_abort)
        return 1;
    self->progress(ultotal, ulnow);
    return 0;
}

QString CGIUtil::condenseMarkup(const QString &body)
{
    const QString s = body.trimmed();
    QString out;
    out.reserve(s.size());
    const int n = s.size();
    int i = 0;
    while (i < n) {
        if (!s[i].isSpace()) {
            out += s[i++];
            continue;
        }
        int end = i;
        while (end < n && s[end].isSpace())
            ++end;
        const bool betweenTags = i > 0 && s[i - 1] == QLatin1Char('>') && end < n && s[end] == QLatin1Char('<');
        const bool wholeValue =
            betweenTags && closesStartTag(s, i - 1) && end + 1 < n && s[end + 1] == QLatin1Char('/');
        if (betweenTags && !wholeValue)
            out += QLatin1Char(' ');
        else
            out += s.midRef(i, end - i);
        i = end;
    }
    return out;
}

// Reply accessors.

void CGIUtil::setReplyBody(const QByteArray &body)
{
    resetReply();
    m_body = body.left(kReplyBufferBytes - 1);
    m_bodyLength = body.size();
    m_bodyReceived = true;
}

bool CGIUtil::parseReply()
{
    if (m_parsed)
        return true;
    m_lastFound = nullptr;
    m_cursor = nullptr;
    m_doc->Clear();
    xmlbuffer::parse(m_doc.get(), m_body, TIXML_ENCODING_UNKNOWN);
    m_parsed = !m_doc->Error();
    return m_parsed;
}

bool CGIUtil::readFromRoot(const QString &name, int maxBytes, QByteArray *text)
{
    if (name.isEmpty() || !haveBody() || !parseReply())
        return false;
    TiXmlElement *e = qcXmlHelper::deepFind(m_doc->RootElement(), name.toUtf8());
    if (!e)
        return false;
    m_lastFound = e;
    return readText(e, maxBytes, text) && !text->isEmpty();
}

bool CGIUtil::getXmlInt(const QString &name, int *value)
{
    QByteArray text;
    if (!value || !readFromRoot(name, kMaxIntTextBytes, &text))
        return false;
    *value = QString::fromUtf8(text).toInt();
    return true;
}

bool CGIUtil::getXmlString(const QString &name, QString *value)
{
    QByteArray text;
    if (!value || !readFromRoot(name, kMaxStringTextBytes, &text))
        return false;
    *value = QString::fromUtf8(text);
    return true;
}

bool CGIUtil::enterSection(const QString &name, bool fromRoot)
{
    if (name.isEmpty() || !haveBody())
        return false;
    TiXmlElement *start = nullptr;
    if (fromRoot) {
        if (!parseReply())
            return false;
        start = m_doc->RootElement();
    } else {
        if (!m_lastFound)
            return false;
        start = m_cursor ? m_cursor : m_doc->RootElement();
    }
    TiXmlElement *e = qcXmlHelper::deepFind(start, name.toUtf8());
    if (!e)
        return false;
    m_lastFound = e;
    m_cursor = e;
    return true;
}

bool CGIUtil::nextSection()
{
    if (!m_cursor)
        return false;
    TiXmlElement *next = m_cursor->NextSiblingElement();
    if (!next)
        return false;
    m_cursor = next;
    return true;
}

bool CGIUtil::enterChildSection(const QString &name)
{
    if (name.isEmpty() || !haveBody() || !m_cursor)
        return false;
    TiXmlElement *e = m_cursor->FirstChildElement(name.toUtf8().constData());
    if (!e)
        return false;
    m_lastFound = e;
    m_cursor = e;
    return true;
}

TiXmlElement *CGIUtil::sectionParent() const
{
    return m_cursor ? m_cursor : m_lastFound;
}

bool CGIUtil::readSectionChild(const QString &name, int nth, QByteArray *text)
{
    if (name.isEmpty() || !haveBody())
        return false;
    TiXmlElement *e = nthChild(sectionParent(), name.toUtf8(), nth);
    return e && readText(e, kMaxIntTextBytes, text);
}

bool CGIUtil::getSectionInt(const QString &name, int *value, int nth)
{
    QByteArray text;
    if (!value || !readSectionChild(name, nth, &text))
        return false;
    *value = QString::fromUtf8(text).toInt();
    return true;
}

bool CGIUtil::getSectionString(const QString &name, QString *value, int nth)
{
    QByteArray text;
    if (!value || !readSectionChild(name, nth, &text))
        return false;
    *value = QString::fromUtf8(text);
    return true;
}

bool CGIUtil::getSectionChildInt(const QString &name, int *value)
{
    TiXmlElement *parent = sectionParent();
    if (name.isEmpty() || !value || !haveBody() || !parent)
        return false;
    const QByteArray key = name.toUtf8();
    for (TiXmlElement *child = parent->FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (!child->FirstChild())
            continue;
        TiXmlElement *grandchild = child->FirstChildElement(key.constData());
        QByteArray text;
        if (grandchild && readText(grandchild, kMaxIntTextBytes, &text)) {
            *value = QString::fromUtf8(text).toInt();
            return true;
        }
    }
    return false;
}

bool CGIUtil::getSectionText(QString *text)
{
    if (!m_cursor || !text || !haveBody())
        return false;
    const char *t = m_cursor->GetText();
    *text = t ? QString::fromUtf8(t) : QString();
    return true;
}
