#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

#include <curl/curl.h>

class TiXmlDocument;
class TiXmlElement;

// One HTTP request to a device's CGI interface, carried out on a thread of
// its own. The owner creates it with an id, prepares one request with one of
// the setters, connects the signals and starts it; the outcome comes back as
// a result code (sigHeaderCompleted), the end of a received body
// (sigDataCompleted) and progress. The reply body is kept and can be read as
// XML after the thread has finished. An owner that wants it gone calls
// abort(), waits for the thread and deletes it; it never terminates it.
class CGIUtil : public QThread
{
    Q_OBJECT
public:
    // Called on the request thread for every chunk of reply body.
    typedef void (*RawDataCallback)(int id, const char *data, int length, void *context);

    // Result codes of sigHeaderCompleted.
    enum Result {
        ResultOk = 0,            // 200
        ResultUnauthorized = 1,  // 401, 403
        ResultBadRequest = 7,    // 400
        ResultBadMediaType = 8,  // 415
        ResultBadRange = 9,      // 416
        ResultNoConnection = 10, // cannot connect (or a failing transfer loop)
        ResultServerError = 11,  // 500
        ResultConflict = 12,     // 409
        ResultTimeout = 13,      // time-out, or no progress on a transfer without one
        ResultOther = 255        // any other status, or a failure without a status
    };

    // A reply body is kept while it stays below this many bytes.
    static constexpr int kReplyBufferBytes = 409600;
    // Longest element texts the accessors read, in bytes.
    static constexpr int kMaxIntTextBytes = 127;
    static constexpr int kMaxStringTextBytes = 255;
    // The POST variant with caller bytes and the upload have no total
    // time-out; a transfer that moves less than a byte a second for this
    // long ends with ResultTimeout.
    static constexpr int kDefaultLowSpeedTimeSec = 30;

    explicit CGIUtil(int id, QObject *parent = nullptr);
    ~CGIUtil() override;

    CGIUtil(const CGIUtil &) = delete;
    CGIUtil &operator=(const CGIUtil &) = delete;

    int id() const { return m_id; }
    // True once a GET was prepared (until another setter prepares something
    // else), so that an owner can tell reads from sets when it stops them.
    bool isGetRequest() const { return m_mode == Mode::Get; }

    // Each setter refuses (false, nothing set) a URL not beginning with
    // "http://", an empty user or password, and the empty body or path of its
    // own. The callback and its context are kept only when both are given.
    bool setGetRequest(const QString &url, const QString &user, const QString &password, RawDataCallback callback,
                       void *context, int timeoutSec);
    // The body is sent as UTF-8 behind an XML declaration, its markup
    // white space condensed (see condenseMarkup()); callback and context also
    // switch on download progress.
    bool setPostRequest(const QString &url, const QString &user, const QString &password, const QString &body,
                        RawDataCallback callback, void *context, int connectSec, int totalSec);
    // The body's bytes go unchanged behind the XML declaration; the reply
    // body is not kept and only sigHeaderCompleted reports.
    bool setPostRequestEx(const QString &url, const QString &user, const QString &password, const char *body);
    // The file as the multipart part "sendfile", with upload progress; only
    // sigHeaderCompleted and sigProcessProgress report.
    bool setUploadRequest(const QString &url, const QString &user, const QString &password, const QString &filePath);

    // Ends a running transfer soon (well within 200 ms) from any thread;
    // nothing is emitted afterwards.
    void abort();

    // Reply accessors, for after the thread has finished.
    // A body that came some other way (a saved reply, a fuzz input) takes
    // the place of the received one.
    void setReplyBody(const QByteArray &body);
    bool parseReply();
    bool getXmlInt(const QString &name, int *value);
    bool getXmlString(const QString &name, QString *value);
    bool enterSection(const QString &name, bool fromRoot);
    bool nextSection();
    // Moves the cursor to the first child element of that name of the cursor
    // element; unlike enterSection it never leaves that element. False, the
    // cursor unchanged, when there is none.
    bool enterChildSection(const QString &name);
    bool getSectionInt(const QString &name, int *value, int nth);
    bool getSectionString(const QString &name, QString *value, int nth);
    bool getSectionChildInt(const QString &name, int *value);
    bool getSectionText(QString *text);

    // The kept reply body (at most kReplyBufferBytes - 1 bytes) and the
    // length of the whole body received.
    QByteArray replyBody() const { return m_body; }
    qint64 replyLength() const { return m_bodyLength; }
    // The device answered with a final status line: the request reached it,
    // whatever the code. False for a request that could not be delivered
    // (no connection, time-out or failure before any status, abort).
    bool answered() const { return m_statusMapped; }

    // Trims the text, makes each run of white space between a '>' and the
    // next '<' one blank, but keeps a run that is the whole value of an
    // element; every other character passes unchanged.
    static QString condenseMarkup(const QString &body);

    // Tests shorten the low-speed time.
    static void setLowSpeedTime(int seconds);
    static int lowSpeedTime();

signals:
    void sigHeaderCompleted(int id, int error);
    void sigDataCompleted(int id);
    void sigProcessProgress(int id, int now, int total);

protected:
    void run() override;

private:
    enum class Mode { None, Get, Post, PostEx, Upload };

    bool prepare(const QString &url, const QString &user, const QString &password);
    void clearRequest();
    void resetReply();
    void reportEnd(CURLcode result);
    TiXmlElement *sectionParent() const;
    // Deep search from the root (the match becomes the last-found element)
    // and its non-empty text of at most maxBytes.
    bool readFromRoot(const QString &name, int maxBytes, QByteArray *text);
    // The text of the nth child of that name below the section cursor.
    bool readSectionChild(const QString &name, int nth, QByteArray *text);
    bool haveBody() const { return m_bodyLength > 0; }

    static size_t onHeaderData(char *data, size_t size, size_t count, void *self);
    static size_t onBodyData(char *data, size_t size, size_t count, void *self);
    static size_t onDiscardedBody(char *data, size_t size, size_t count, void *self);
    static int onTransferProgress(void *self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                                  curl_off_t ulnow);
    static int onUploadProgress(void *self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);
    void progress(curl_off_t total, curl_off_t now);

    std::unique_ptr<TiXmlDocument> m_doc;
    TiXmlElement *m_lastFound = nullptr;
    TiXmlElement *m_cursor = nullptr;
    CURL *m_easy = nullptr;
    CURLM *m_multi = nullptr;
    bool m_setupOk = false;
    Mode m_mode = Mode::None;
    bool m_parsed = false;
    QByteArray m_body;
    qint64 m_bodyLength = 0;
    qint64 m_headerBytes = 0;
    const int m_id;
    int m_lastPercent = 0;
    bool m_progressWanted = false;
    RawDataCallback m_callback = nullptr;
    void *m_context = nullptr;
    QByteArray m_postBody; // must live until the transfer ends
    curl_mime *m_mime = nullptr;
    curl_slist *m_headers = nullptr;
    std::atomic<bool> m_abort{false};
    bool m_bodyReceived = false;
    bool m_atResponseStart = true; // the next header line is a status line
    bool m_statusMapped = false;   // the final status has been reported
};
