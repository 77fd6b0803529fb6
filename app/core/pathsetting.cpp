#include "app/core/pathsetting.h"

#include <QSettings>
#include <QStringList>

const char *const kConfigureIni = "configure.ini";

namespace {

const char *keyFor(int pathId)
{
    static const char *const keys[] = {"DWNDIR", "RECDIR", "PICDIR", "INPTDIR", "OUPTDIR", "FMDIR", "NORDIR"};
    if (pathId < PATH_DOWNLOAD || pathId > PATH_NORMAL)
        return nullptr;
    return keys[pathId - PATH_DOWNLOAD];
}

} // namespace

QString getPathSetting(int pathId)
{
    const char *key = keyFor(pathId);
    if (!key)
        return QString();
    QSettings settings(QString::fromLatin1(kConfigureIni), QSettings::IniFormat);
    return settings.value(QString::fromLatin1(key)).toString();
}

bool setPathSetting(int pathId, const QString &folder)
{
    const char *key = keyFor(pathId);
    if (!key)
        return false;
    QSettings settings(QString::fromLatin1(kConfigureIni), QSettings::IniFormat);
    settings.setValue(QString::fromLatin1(key), folder);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString getParentDir(const QString &filePath)
{
    QStringList parts = filePath.split(QLatin1Char('/'));
    parts.removeLast();
    return parts.join(QLatin1Char('/'));
}
