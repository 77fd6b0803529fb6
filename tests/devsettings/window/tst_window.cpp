#include "app/widgets/stylesheets.h"
#include "devsetfixture.h"
#include "devsettings/devsetframe.h"
#include "devsettings/qwdevicesettings.h"
#include "devsettings/qwdevsetimage.h"
#include "devsettings/qwdevsetimageex.h"
#include "devsettings/qwdevsetmotion.h"
#include "devsettings/qwdevsetstorage.h"
#include "devsettings/qwdevsetusers.h"
#include "devsettings/qwuserinformations.h"

#include <QAbstractEventDispatcher>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>

using namespace devsetfixture;

class WindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> m_fx;
    QWidget *m_parent = nullptr;
    QPointer<qwDeviceSettings> m_window;

    void open(const QString &password = "1234")
    {
        m_window = new qwDeviceSettings(m_parent);
        m_window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", password);
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        qwDeviceSettings::setSlideDuration(0);
    }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_parent = new QWidget;
    }
    void cleanup()
    {
        delete m_parent;
        m_fx.reset();
    }

    void selection()
    {
        open();
        QVERIFY(m_fx->waitAnswered("GET", "devability", 1));
        QSignalSpy init(m_window.data(), &qwDeviceSettings::sigInitParameters);
        child<QPushButton>(m_window, "pushButton_Guide122")->click();
        auto *page = m_window->findChild<qwDevsetStorage *>();
        QVERIFY(page);
        QVERIFY(m_window->pageArea()->isAncestorOf(page));
        QCOMPARE(init.count(), 1);
        QVERIFY(m_fx->waitAnswered("GET", "diskinfo&id=0", 1));
        const LoggedRequest read = m_fx->requests("GET", "diskinfo&id=0").at(0);
        QCOMPARE(read.user + ":" + read.password, QStringLiteral("admin:1234"));

        // Shown: ignored; after return the same page is used again.
        m_window->onGuideSelect(122);
        QCOMPARE(init.count(), 1);
        child<QPushButton>(m_window, "pushButton_Return")->click();
        QVERIFY(m_window->pageArea()->isHidden());
        for (int id : {111, 125, 112})
            m_window->onGuideSelect(id);
        QCOMPARE(init.count(), 1);
        m_window->onGuideSelect(122);
        QCOMPARE(m_window->findChildren<qwDevsetStorage *>().size(), 1);
        QVERIFY(m_fx->waitAnswered("GET", "diskinfo&id=0", 2));
        QCOMPARE(m_fx->count("GET", "devability"), 1);
    }

    // Pages come after the window's first show; under the program's style
    // sheet their buttons, too, keep room beside their texts.
    void pageButtonsFitTheirTexts()
    {
        m_parent->setStyleSheet(QString::fromLatin1(styles::kMainWindow));
        open();
        m_window->show();
        for (int id : {116, 122, 123, 124}) {
            m_window->onGuideSelect(id);
            QCoreApplication::sendPostedEvents();
            const QStringList squeezed = testsupport::squeezedButtons(m_window->pageArea());
            QVERIFY2(squeezed.isEmpty(), qPrintable(squeezed.join(", ")));
            child<QPushButton>(m_window, "pushButton_Return")->click();
        }
    }

    // A new password of the window's own account, set on the users page,
    // reaches the window, its owner and the next page selected.
    void passwordThroughUsersPage()
    {
        open();
        QSignalSpy spy(m_window.data(), &qwDeviceSettings::sigBaseInfoChange);
        m_window->onGuideSelect(124);
        auto *users = m_window->findChild<qwDevsetUsers *>();
        auto *table = users->findChild<QTableView *>("tableView_Users");
        QTRY_COMPARE(table->model()->rowCount(), 3);
        table->setCurrentIndex(table->model()->index(0, 0));
        users->OnBtnModifyClicked();
        auto *dialog = users->findChild<qwUserInformations *>();
        dialog->findChild<QLineEdit *>("lineEdit_Password")->setText("pw2");
        dialog->findChild<QLineEdit *>("lineEdit_Confirm")->setText("pw2");
        dialog->findChild<QPushButton *>("pushButton_Save")->click();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), (QVariantList{"127.0.0.1", m_fx->port(), "admin", "pw2"}));
        QCOMPARE(m_fx->device().password(), QStringLiteral("pw2"));
        m_window->pageArea()->hide();
        m_window->onGuideSelect(122);
        QVERIFY(m_fx->waitAnswered("GET", "diskinfo&id=0", 1));
        QCOMPARE(m_fx->requests("GET", "diskinfo&id=0").at(0).status, 200);
    }

    // The motion status is asked for while its page is shown, not after
    // the back arrow left it.
    void motionPollOnlyWhileShown()
    {
        qwDevsetMotion::setPollIntervalForTests(20);
        open();
        m_window->show();
        m_window->onGuideSelect(DEVSET_MOTION);
        auto *motion = m_window->findChild<qwDevsetMotion *>();
        QVERIFY(motion);
        QVERIFY(m_fx->waitAnswered("GET", "mdstatus", 2));
        const auto polls = [motion] {
            const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(motion);
            return std::count_if(timers.cbegin(), timers.cend(), [](const auto &t) { return t.interval == 20; });
        };
        QCOMPARE(polls(), 1);
        child<QPushButton>(m_window, "pushButton_Return")->click();
        QCOMPARE(polls(), 0);
        const int asked = m_fx->count("GET", "mdstatus");
        m_window->onGuideSelect(DEVSET_MOTION);
        QCOMPARE(polls(), 1);
        QVERIFY(m_fx->waitAnswered("GET", "mdstatus", asked + 2));
        qwDevsetMotion::setPollIntervalForTests(200);
    }

    void ability_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("style");
        QTest::newRow("imgstyle 1") << QByteArray("<response><imgstyle>1</imgstyle></response>") << 1;
        QTest::newRow("shipped") << QByteArray() << 0;
        QTest::newRow("missing") << QByteArray("<response><adapter>2</adapter></response>") << -1;
        QTest::newRow("404") << QByteArray("404") << -1;
    }

    void ability()
    {
        QFETCH(QByteArray, document);
        QFETCH(int, style);
        if (document == "404")
            m_fx->device().addFault("get:devability", Fault::status(404));
        else if (!document.isEmpty())
            m_fx->device().setSubject("devability", document);
        m_window = new qwDeviceSettings(m_parent);
        m_window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", ""); // no login yet: not read
        m_window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
        m_window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
        QVERIFY(m_fx->waitAnswered("GET", "devability", 1));
        QTRY_COMPARE(m_window->imageStyle(), style);
        QCOMPARE(m_fx->count("GET", "devability"), 1);
        QCOMPARE(m_fx->requests("GET", "devability").at(0).password, QStringLiteral("1234"));
        m_window->onGuideSelect(119);
        QCOMPARE(qobject_cast<qwDevsetImage *>(m_window->page(119)) != nullptr, style != 1);
        QCOMPARE(qobject_cast<qwDevsetImageEx *>(m_window->page(119)) != nullptr, style == 1);
    }

    void slide()
    {
        qwDeviceSettings::setSlideDuration(400);
        open();
        m_window->show();
        m_window->onGuideSelect(122);
        const QPoint place = m_window->getClientRect().topLeft();
        QVERIFY(m_window->pageArea()->pos() != place);
        QTRY_COMPARE_WITH_TIMEOUT(m_window->pageArea()->pos(), place, 1000);
        qwDeviceSettings::setSlideDuration(0);
        m_window->pageArea()->hide();
        m_window->onGuideSelect(122);
        QCOMPARE(m_window->pageArea()->pos(), place);
    }

    // Closing while the Wi-Fi page's reads hang abandons them at once.
    void closeWhileReading()
    {
        m_fx->device().addFault("*", Fault::silent());
        open();
        m_window->show();
        m_window->onGuideSelect(116);
        QVERIFY(m_fx->device().waitForRequests(2, 5000)); // the window's and the page's ability reads
        m_window->close();
        QTRY_VERIFY_WITH_TIMEOUT(m_window.isNull(), 1500);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
