#include "platform/desktop/reveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDebug>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace platform {

bool revealInFileManager(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage msg = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        msg << QStringList{QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded)} << QString();
        const QDBusMessage reply = bus.call(msg, QDBus::Block, 1000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        qDebug() << "file manager not available:" << reply.errorMessage();
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(absolute).absolutePath()));
}

} // namespace platform
