#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Single-instance guard on a named local socket: the first instance
// listens, a later one finds it answering and refuses to start.
class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    // False when another instance already serves name.
    bool listen(const QString &name);
    static bool isServerRunning(const QString &name);

signals:
    void newMessage(const QString &msg);

public slots:
    void newConnection();
    void readyRead();

private:
    QLocalServer *m_server = nullptr;
};
