#include "app/core/currentuser.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/qwweekeditor.h"
#include "app/widgets/stylesheets.h"
#include "localsettings/localpagelook.h"
#include "localsettings/qwadduser.h"
#include "localsettings/qwlocalabout.h"
#include "localsettings/qwlocallog.h"
#include "localsettings/qwlocaloptions.h"
#include "localsettings/qwlocalschedules.h"
#include "localsettings/qwlocalusers.h"
#include "tests/support/appglobals.h"
#include "tests/support/popups.h"
#include "tests/support/readable.h"
#include "tests/support/runfolder.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The largest step in grey between the first pixel of r and any other: what
// a text drawn there stands out from its background by.
int contrastIn(const QImage &shot, QRect r)
{
    r = r.intersected(shot.rect());
    if (r.isEmpty())
        return 0;
    const int ground = qGray(shot.pixel(r.topLeft()));
    int most = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            most = qMax(most, qAbs(qGray(shot.pixel(x, y)) - ground));
    }
    return most;
}

QRect rectIn(const QWidget *w, const QWidget *root)
{
    return QRect(w->mapTo(root, QPoint(0, 0)), w->size());
}

} // namespace

// Every sub-page of the local settings page, inside a window that carries
// the main window's light-table sheet, draws dark with readable texts, and
// every tip it raises says something.
class TestLocalLook : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::RunFolder> m_folder;
    std::unique_ptr<testsupport::AppGlobals> m_globals;

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        m_folder = std::make_unique<testsupport::RunFolder>();
        QVERIFY(m_folder->isValid());
        m_globals = std::make_unique<testsupport::AppGlobals>();
        QVERIFY(m_globals->isValid());
        g_curUserName = QStringLiteral("admin");
        g_curUserRights = 0x1ff;
    }

    void cleanupTestCase()
    {
        g_curUserRights = 0;
        m_globals.reset();
        m_folder.reset();
    }

    void tipSaysKeyTextAndDetail_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "setsuccess" << QString() << "Saved successfully";
        QTest::newRow("with detail") << "setfailed"
                                     << "Record folder"
                                     << "Failed to save: Record folder";
        QTest::newRow("log search busy") << "logsearchbusy" << QString()
                                         << "A search is still running. Search again when its records are listed.";
        QTest::newRow("log range swapped")
            << "lograngeswapped" << QString()
            << "The start date was after the end date: the two were swapped for the search.";
    }
    void tipSaysKeyTextAndDetail()
    {
        QFETCH(QString, key);
        QFETCH(QString, detail);
        QFETCH(QString, shown);
        QWidget parent;
        localpage::showTip(&parent, localpage::FailureTip, key.toLatin1().constData(), detail);
        const QList<qwTipsdlgEx *> tips = parent.findChildren<qwTipsdlgEx *>();
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips.at(0)->tipText(), shown);
        QCOMPARE(tips.at(0)->kind(), int(qwTipsdlgEx::Failure));
        QCOMPARE(testsupport::popupKeys(&parent), QStringList{"tip_" + key});
    }

    void missingTextShowsItsKey()
    {
        QCOMPARE(localpage::text("no-such-key"), QString("no-such-key"));
        QCOMPARE(localpage::text("saveopt", localpage::CommonTexts), QString("Save"));
    }

    // A drop-down list of the options page, moved through by key and by
    // mouse: the entry reached gets the main window's blue highlight.
    void listEntryHighlighted_data()
    {
        QTest::addColumn<bool>("byMouse");
        QTest::newRow("by key") << false;
        QTest::newRow("by mouse") << true;
    }
    void listEntryHighlighted()
    {
        QFETCH(bool, byMouse);
        QWidget host;
        host.setStyleSheet(QLatin1String(styles::kMainWindow));
        auto *layout = new QVBoxLayout(&host);
        auto *options = new qwLocalOptions(&host);
        options->reload();
        layout->addWidget(options);
        host.resize(1100, 680);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QComboBox *list = nullptr;
        for (QComboBox *c : options->findChildren<QComboBox *>())
            list = !list && c->isVisible() && c->count() > 1 ? c : list;
        QVERIFY(list);
        const testsupport::PaintedText t = testsupport::highlightedListEntry(list, byMouse);
        const QString seen = QStringLiteral("text #%1 on #%2: %3:1")
                                 .arg(t.text & 0xffffff, 6, 16, QLatin1Char('0'))
                                 .arg(t.background & 0xffffff, 6, 16, QLatin1Char('0'))
                                 .arg(t.contrast, 0, 'f', 2);
        QVERIFY2(testsupport::contrastRatio(t.background, qRgb(0x1b, 0xaa, 0xfb)) < 1.1, qPrintable(seen));
        QVERIFY2(t.contrast >= 4.5, qPrintable(seen));
        // The highlight leaves the entry's text where it stands.
        const testsupport::PaintedText plain = testsupport::plainListEntry(list);
        QVERIFY(plain.textLeft >= 0);
        QVERIFY2(
            qAbs(t.textLeft - plain.textLeft) <= 1,
            qPrintable(QStringLiteral("text at %1 px highlighted, %2 px plain").arg(t.textLeft).arg(plain.textLeft)));
    }

    void subPageDarkAndReadable_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"options", "schedules", "users", "log", "about", "add user"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void subPageDarkAndReadable()
    {
        QFETCH(QString, name);
        QWidget host;
        host.setStyleSheet(QLatin1String(styles::kMainWindow));
        auto *layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        host.resize(1100, 680);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QWidget *page = nullptr;
        if (name == "options") {
            auto *options = new qwLocalOptions(&host);
            options->reload();
            page = options;
        } else if (name == "schedules") {
            auto *schedules = new qwLocalSchedules(&host);
            schedules->reload();
            // A section shows the week editor's time fields and kind list.
            schedules->weekEditor()->findChild<QPushButton *>("pushButton_Add1")->click();
            page = schedules;
        } else if (name == "users") {
            auto *users = new qwLocalUsers(&host);
            users->reload();
            page = users;
        } else if (name == "log") {
            page = new qwLocalLog(&host);
        } else if (name == "about") {
            page = new qwLocalAbout(&host);
        } else {
            auto *dialog = new qwAddUser(&host, nullptr);
            dialog->findChild<QLineEdit *>("lineEdit_UserName")->setText("guard");
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            page = dialog->findChild<QWidget *>("widget_AddUserBody");
        }
        QVERIFY(page);
        if (page->parentWidget() == &host) {
            layout->addWidget(page);
            page->show();
        }
        QApplication::processEvents();
        const QImage shot = page->grab().toImage();
        if (qEnvironmentVariableIsSet("LOOK_SAVE"))
            shot.save(QDir::temp().filePath("look-" + name + ".png"));

        // The page's own ground, in its bottom left corner.
        const int ground = qGray(shot.pixel(2, shot.height() - 3));
        QVERIFY2(ground < 80, qPrintable(QString::number(ground)));
        for (QAbstractItemView *view : page->findChildren<QAbstractItemView *>()) {
            if (!view->isVisible() || qobject_cast<QHeaderView *>(view))
                continue;
            const QRect r = rectIn(view->viewport(), page);
            const int below = qGray(shot.pixel(r.left() + 5, r.bottom() - 5));
            QVERIFY2(below < 80, qPrintable(view->objectName() + ": " + QString::number(below)));
        }

        QStringList unreadable;
        auto check = [&](QWidget *w, const QString &text, QRect r) {
            if (!w->isVisible() || text.trimmed().isEmpty())
                return;
            const int contrast = contrastIn(shot, r);
            if (contrast < 100)
                unreadable << QStringLiteral("%1 \"%2\": %3").arg(w->metaObject()->className(), text).arg(contrast);
        };
        for (QLabel *label : page->findChildren<QLabel *>())
            check(label, label->text(), rectIn(label, page));
        for (QCheckBox *box : page->findChildren<QCheckBox *>())
            check(box, box->text(), rectIn(box, page));
        // Fields: inside their borders, where the text starts.
        auto inner = [&](QWidget *w) {
            const QRect r = rectIn(w, page).adjusted(3, 3, -3, -3);
            return QRect(r.topLeft(), QSize(r.width() / 2, r.height()));
        };
        for (QLineEdit *edit : page->findChildren<QLineEdit *>()) {
            if (!qobject_cast<QAbstractSpinBox *>(edit->parentWidget()) && edit->echoMode() == QLineEdit::Normal)
                check(edit, edit->text(), inner(edit));
        }
        for (QAbstractSpinBox *spin : page->findChildren<QAbstractSpinBox *>())
            check(spin, spin->text(), inner(spin));
        for (QComboBox *list : page->findChildren<QComboBox *>())
            check(list, list->currentText(), inner(list));
        QVERIFY2(unreadable.isEmpty(), qPrintable(unreadable.join("; ")));
        // The week editor's one-letter buttons are its own, shared with the
        // device schedule dialog.
        QStringList squeezed;
        for (const QString &button : testsupport::squeezedButtons(page)) {
            if (!button.startsWith("\"x\":") && !button.startsWith("\"+\":"))
                squeezed << button;
        }
        QVERIFY2(squeezed.isEmpty(), qPrintable(squeezed.join("; ")));
    }
};

QTEST_MAIN(TestLocalLook)
#include "tst_look.moc"
