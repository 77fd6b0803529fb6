#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class CGIUtil;

// Reads one subject of the device for a dialog and sends it back changed.
// Every save reads the subject again first and builds its body from that
// fresh copy, so that whatever changed on the device meanwhile (another
// dialog's part of the same document) goes back as the device holds it.
// A read counts only as a whole reply with the status 200; closing abandons a read at once
// and gives a set a few seconds to arrive.
class DeviceDocumentRequest : public QObject
{
    Q_OBJECT
public:
    // The body to send, made from the fresh reply; empty sends nothing.
    using Change = std::function<QByteArray(const QByteArray &body, qint64 length)>;

    DeviceDocumentRequest(QObject *parent, int readId, int saveId);
    ~DeviceDocumentRequest() override;

    void setDevice(const QString &devip, const QString &httpport, const QString &username, const QString &password,
                   const QString &subject);
    void read();
    void save(Change change);

signals:
    // The reply of a read with the status 200 and the length received.
    void documentRead(const QByteArray &body, qint64 length);
    void readFailed();
    void saveDone(bool ok);

private slots:
    void onHeader(int id, int code);
    void onFinished();

private:
    enum class Step { Idle, Reading, ReadingForSave, Sending };
    bool start(Step step, const QString &body = QString());
    void finishSave(bool ok);

    const int m_readId;
    const int m_saveId;
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
    QString m_subject;
    CGIUtil *m_request = nullptr;
    Step m_step = Step::Idle;
    QVector<int> m_codes;
    Change m_change;
};
