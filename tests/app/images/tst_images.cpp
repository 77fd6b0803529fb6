#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

const QString kSource = QStringLiteral(ARDO_SOURCE_DIR);

QStringList qrcPaths()
{
    QFile f(kSource + "/resources/resources.qrc");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(f.readAll());
    QStringList out;
    QRegularExpression file("<file(?:\\s+alias=\"([^\"]+)\")?>([^<]+)</file>");
    auto it = file.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out << QStringLiteral(":/") + (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1));
    }
    return out;
}

} // namespace

class TestImages : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void everyPathHasItsSize()
    {
        const QMap<QString, QSize> sizes{
            {"cms.png", {30, 30}},
            {"buttonclose.png", {172, 25}},
            {"buttonmax.png", {172, 25}},
            {"buttonhide.png", {172, 25}},
            {"buttonrestore.png", {172, 25}},
            {"unlock.png", {172, 25}},
            {"lock.png", {172, 25}},
            {"cpu.png", {24, 24}},
            {"cpu1.png", {24, 24}},
            {"cpu2.png", {24, 24}},
            {"lockicon.png", {30, 30}},
            {"message.png", {30, 30}},
            {"tips.png", {30, 30}},
            {"warning.png", {41, 31}},
            {"wait.gif", {47, 47}},
            {"general/user.png", {26, 26}},
            {"general/password.png", {26, 26}},
            {"frameui/check.png", {14, 14}},
            {"frameui/check1.png", {14, 14}},
            {"frameui/radio.png", {14, 14}},
            {"frameui/radio1.png", {14, 14}},
            {"handle-up.png", {16, 16}},
            {"handle-down.png", {16, 16}},
            {"handle-left.png", {16, 16}},
            {"handle-right.png", {16, 16}},
            {"dropdown.png", {12, 12}},
            {"devsettings/signal.png", {360, 48}},
            {"devsettings/return.png", {112, 28}},
            {"devsettings/accordionopen.png", {20, 20}},
            {"devsettings/accordionclose.png", {20, 20}},
            {"local/edit.png", {20, 20}},
            {"local/delete.png", {20, 20}},
            {"ptz/ptzallbtns.png", {90, 90}},
            {"ptz/ptzallbtns1.png", {90, 90}},
            {"ptz/ptzbtnextend.png", {60, 90}},
            {"ptz/ptzbtnextend1.png", {60, 90}},
            {"ptz/presetctrl.png", {48, 16}},
            {"ptz/presetctrl1.png", {48, 16}},
            {"ptz/speed.png", {22, 22}},
            {"videoimage/saturation.png", {26, 26}},
            {"videoimage/brightness.png", {26, 26}},
            {"videoimage/sharpness.png", {26, 26}},
            {"videoimage/contrast.png", {26, 26}},
            {"videoimage/mirror.png", {26, 26}},
        };
        const QStringList paths = qrcPaths();
        QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), paths.size());
        QVERIFY(paths.contains(":/Others/fonts/Roboto-Regular.ttf"));
        for (auto it = sizes.begin(); it != sizes.end(); ++it) {
            const QString path = ":/images/srcimages/" + it.key();
            QVERIFY2(paths.contains(path), qPrintable(path));
            QImageReader reader(path);
            const QImage img = reader.read();
            QVERIFY2(!img.isNull(), qPrintable(path));
            QCOMPARE(img.size(), it.value());
        }
    }

    void stripCellsDiffer()
    {
        for (const char *name : {"buttonclose", "buttonmax", "buttonhide", "buttonrestore", "unlock", "lock"}) {
            const QImage strip(QString(":/images/srcimages/%1.png").arg(name));
            QList<QImage> cells;
            for (int i = 0; i < 4; ++i)
                cells << strip.copy(i * 43, 0, 43, 25);
            for (int i = 0; i < 4; ++i)
                for (int j = i + 1; j < 4; ++j)
                    QVERIFY2(cells[i] != cells[j], name);
        }
        const QImage signal(":/images/srcimages/devsettings/signal.png");
        for (int i = 0; i < 5; ++i)
            QVERIFY(signal.copy(i * 60, 0, 60, 48) != signal.copy((i + 1) * 60, 0, 60, 48));
    }

    void waitAnimation()
    {
        QImageReader reader(":/images/srcimages/wait.gif");
        QVERIFY(reader.supportsAnimation());
        QVERIFY(reader.imageCount() >= 8);
        QVERIFY(reader.nextImageDelay() >= 60 && reader.nextImageDelay() <= 100);
        const QImage first = reader.read().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(qAlpha(first.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(first.pixel(23, 23)), 0);
    }

    void fontRegisters()
    {
        const int id = QFontDatabase::addApplicationFont(":/Others/fonts/Roboto-Regular.ttf");
        QVERIFY(id >= 0);
        QVERIFY(QFontDatabase::applicationFontFamilies(id).contains("Roboto"));
        QVERIFY(QFile::exists(kSource + "/resources/fonts/LICENSE.txt"));
    }

    // Every picture the sources name must be compiled in.
    void sourcesNameOnlyKnownResources()
    {
        const QStringList paths = qrcPaths();
        // String literals and style-sheet urls, quoted or not.
        QRegularExpression literal("(?:\"|url\\(')?:(/(?:images|Others)/[^\"')]+)");
        int found = 0;
        for (const char *folder :
             {"platform", "app", "liveview", "playback", "localsettings", "devsettings", "media", "device"}) {
            QDirIterator it(kSource + "/" + folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                auto m = literal.globalMatch(QString::fromUtf8(f.readAll()));
                while (m.hasNext()) {
                    const QString path = ":" + m.next().captured(1);
                    ++found;
                    QVERIFY2(paths.contains(path), qPrintable(f.fileName() + ": " + path));
                    QVERIFY2(QFile::exists(path), qPrintable(path));
                }
            }
        }
        QVERIFY(found > 10);
    }
};

QTEST_MAIN(TestImages)
#include "tst_images.moc"
