#include <QtTest>

#include <QLabel>

#include <memory>

#include "localsettings/qwlocalabout.h"
#include "tests/support/appglobals.h"
#include "tests/support/runfolder.h"

class AboutTest : public QObject
{
    Q_OBJECT

private slots:
    void namesTheSoftwareItsVersionAndCopyright()
    {
        testsupport::RunFolder folder;
        QVERIFY(folder.isValid());
        testsupport::AppGlobals globals(false);
        QVERIFY(globals.isValid());
        qwLocalAbout about;
        about.reload();
        auto value = [&](const char *name) {
            auto *label = about.findChild<QLabel *>(QLatin1String(name));
            return label ? label->text() : QStringLiteral("(none)");
        };
        QCOMPARE(value("label_SoftwareName"), QString("ARDO Client"));
        QCOMPARE(value("label_SoftwareVersion"), QString(PROJECT_VERSION));
        QVERIFY(!QString(PROJECT_VERSION).isEmpty());
        QVERIFY2(value("label_SoftwareCopyright").contains("ARDO Client"),
                 qPrintable(value("label_SoftwareCopyright")));
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
