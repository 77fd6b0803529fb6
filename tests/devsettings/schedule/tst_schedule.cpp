#include "devsetfixture.h"
#include "devsettings/qwdevsetschedule.h"
#include "devsettings/qwscheduledialog.h"
#include "tests/devicesim/xmltree.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

using namespace devsetfixture;
using devicesim::XmlNode;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// A task document with `sections` time sections a day.
QByteArray task(int active, int sections = 2)
{
    QByteArray xml = "<schetask ver=\"2.0\"><active>" + QByteArray::number(active) + "</active><week>";
    for (int d = 0; d < 7; ++d) {
        xml += "<day id=\"" + QByteArray::number(d) + "\">";
        for (int s = 0; s < sections; ++s)
            xml += "<section><start>0" + QByteArray::number(s % 10) + ":00</start><end>09:59</end></section>";
        xml += "</day>";
    }
    return xml + "</week></schetask>";
}

// The document as the device would print it, with `active` set to value.
QByteArray withActive(const QByteArray &xml, const QString &value)
{
    XmlNode doc;
    QString error;
    XmlNode::parse(xml, &doc, &error);
    doc.children[0].text = value;
    return doc.print();
}

QByteArray printed(const QByteArray &body)
{
    XmlNode doc;
    QString error;
    return XmlNode::parse(body, &doc, &error) ? doc.print() : QByteArray(qPrintable(error));
}

class TimerCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Timer;
        return false;
    }
};

} // namespace

class ScheduleTest : public QObject, public PageCase<qwDevsetSchedule>
{
    Q_OBJECT

    QComboBox *box(const char *name) { return child<QComboBox>(m_page.get(), name); }
    QPushButton *button(const char *name) { return child<QPushButton>(m_page.get(), name); }
    QLineEdit *interval() { return child<QLineEdit>(m_page.get(), "lineEdit_Interval"); }

    // Reads the five documents and waits until every reply was handled.
    void load()
    {
        Deliveries replies(m_page.get());
        m_page->OnInitParameters(123);
        QTRY_COMPARE(replies.count, 5);
    }
    // Saves and waits for the success or failure tip.
    QStringList save()
    {
        button("pushButton_Save")->click();
        [&] { QTRY_VERIFY(tipShown(m_page.get())); }();
        QTest::qWait(100);
        return popupKeys(m_page.get());
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init() { QVERIFY(open()); }
    void cleanup() { close(); }

    // A changed task goes back as the device's own document, whole, with only
    // `active` changed: delivered in pieces, and longer than any fixed buffer.
    void taskWrittenBack_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("fault");
        QTest::newRow("shipped") << "schetask&type=0" << QByteArray() << "";
        QTest::newRow("pieces") << "schetask&type=1" << task(0) << "trickle";
        QTest::newRow("6 KB") << "schetask&type=2" << task(0, 16) << "";
    }

    void taskWrittenBack()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, document);
        QFETCH(QString, fault);
        if (!document.isEmpty())
            m_fx->device().setSubject(key, document);
        if (!fault.isEmpty())
            m_fx->device().addFault("get:" + key, Fault::trickle(64, 10));
        const QByteArray stored = m_fx->device().subject(key);
        QVERIFY(stored.size() > (key.endsWith("2") ? 6000 : 900));
        load();
        const char *name = key.endsWith("1")   ? "comboBox_RecordEnable"
                           : key.endsWith("0") ? "comboBox_SnapEnable"
                                               : "comboBox_FtpEnable";
        QCOMPARE(box(name)->currentIndex(), 0);
        box(name)->setCurrentIndex(1);
        QCOMPARE(save(), QStringList{"tip_setsuccess"});
        const QList<LoggedRequest> posts = m_fx->requests("POST", key);
        QCOMPARE(posts.size(), 1);
        QVERIFY(posts.at(0).body.startsWith(kDeclaration + "<schetask ver=\"2.0\">"));
        QCOMPARE(printed(posts.at(0).body), withActive(stored, "1"));
        QCOMPARE(m_fx->device().subject(key), withActive(stored, "1"));
    }

    // A device value the list does not offer shows as an extra entry and
    // goes back as it came with a save of something else; an entry picked
    // instead goes as picked.
    void valueOutsideTheList_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("element");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("pick");
        QTest::addColumn<int>("sent");
        const auto row = [](const char *name, const char *subject, const char *element, int value, const char *list,
                            const char *shown, int pick, int sent) {
            QTest::newRow(name) << QString(subject) << QString(element) << value << QString(list) << QString(shown)
                                << pick << sent;
        };
        row("pre-record 5 s", "record", "presec", 5, "PreRecord", "5 ", -1, 5);
        row("pre-record 5 s, 1 picked", "record", "presec", 5, "PreRecord", "5 ", 1, 1);
        row("package 2 min", "record", "packsec", 120, "PackSize", "2 ", -1, 120);
        row("package 90 s", "record", "packsec", 90, "PackSize", "90 ", -1, 90);
        row("package 3 min, offered", "record", "packsec", 180, "PackSize", "3 ", -1, 180);
        row("record stream 2", "record", "stream", 2, "RecordStream", "2", -1, 2);
        row("frame rate 0", "snap", "framerate", 0, "FrameRate", "0", -1, 0);
        row("quality 9", "snap", "quality", 9, "Quality", "9", -1, 9);
        row("snapshot path 3", "snap", "path", 3, "SnapPath", "3", -1, 3);
    }
    void valueOutsideTheList()
    {
        QFETCH(QString, subject);
        QFETCH(QString, element);
        QFETCH(int, value);
        QFETCH(QString, list);
        QFETCH(QString, shown);
        QFETCH(int, pick);
        QFETCH(int, sent);
        const QString tag = QStringLiteral("<%1>%2</%1>");
        QString stored = QString::fromUtf8(m_fx->device().subject(subject));
        stored.replace(QRegularExpression(tag.arg(element, "[^<]*")), tag.arg(element).arg(value));
        m_fx->device().setSubject(subject, stored.toUtf8());
        load();
        QComboBox *field = box(qPrintable("comboBox_" + list));
        QVERIFY2(field->currentText().startsWith(shown), qPrintable(field->currentText()));
        if (pick >= 0)
            field->setCurrentIndex(pick);
        interval()->setText("7");
        QCOMPARE(save(), QStringList{"tip_setsuccess"});
        const QList<LoggedRequest> posts = m_fx->requests("POST", subject);
        QCOMPARE(posts.size(), 1);
        QVERIFY2(posts.at(0).body.contains(tag.arg(element).arg(sent).toUtf8()), posts.at(0).body.constData());
        // Shown again after a reload of the value the device now holds.
        load();
        QVERIFY2(box(qPrintable("comboBox_" + list))->currentText().startsWith(shown) == (pick < 0),
                 qPrintable(box(qPrintable("comboBox_" + list))->currentText()));
    }

    // A capture longer than the request thread keeps is not written back.
    void overlongCapture()
    {
        m_fx->device().setSubject("schetask&type=2", task(1, 3000));
        QVERIFY(m_fx->device().subject("schetask&type=2").size() > 409600);
        load();
        box("comboBox_FtpEnable")->setCurrentIndex(0);
        button("pushButton_Save")->click();
        QVERIFY(m_fx->waitAnswered("GET", "schetask&type=2", 2, 10000));
        QVERIFY(m_fx->waitAnswered("POST", "snap", 1));
        QTest::qWait(300);
        QCOMPARE(m_fx->count("POST", "schetask&type=2"), 0);
        QVERIFY(popupKeys(m_page.get()).isEmpty());
        QVERIFY(!button("pushButton_Save")->isEnabled());
    }

    void badInterval_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("0") << "0";
    }

    void badInterval()
    {
        QFETCH(QString, text);
        load();
        interval()->setText(text);
        QCOMPARE(save(), QStringList{"tip_invsnapinterval"});
        QVERIFY(m_fx->waitAnswered("POST", "record", 1));
        QCOMPARE(m_fx->count("POST", "snap"), 0);
        QCOMPARE(m_fx->count("GET", "schetask&type=1"), 1);
        QVERIFY(button("pushButton_Save")->isEnabled());
    }

    void snapRefused()
    {
        load();
        m_fx->device().addFault("set:snap", Fault::status(500));
        QCOMPARE(save(), QStringList{"tip_setfailed"});
        QVERIFY(m_fx->waitAnswered("GET", "schetask&type=2", 2));
        QTest::qWait(300);
        QVERIFY(popupKeys(m_page.get()).isEmpty());
    }

    // Save-time reads unanswered: no tip; the guard timer enables Save about
    // 6 s after the last click, and a second Save leaves no timer behind.
    void guardTimer()
    {
        load();
        m_fx->device().addFault("get:schetask", Fault::status(404));
        TimerCounter timers;
        m_page->installEventFilter(&timers);
        button("pushButton_Save")->click();
        QTest::qWait(1000);
        QVERIFY(!button("pushButton_Save")->isEnabled());
        m_page->OnBtnSaveClick();
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(button("pushButton_Save")->isEnabled(), 8000);
        QVERIFY2(clock.elapsed() > 5000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(int(qMax<qint64>(0, 7000 - clock.elapsed())));
        QCOMPARE(timers.count, 1);
        QVERIFY(popupKeys(m_page.get()).isEmpty());
    }

    // Refresh during a save: its late results show nothing.
    void refreshDuringSave()
    {
        load();
        m_fx->device().addFault("set:record", Fault::status(500));
        m_fx->device().addFault("set:record", Fault::delay(800), 1);
        button("pushButton_Save")->click();
        QVERIFY(m_fx->device().waitFor(
            [](const QList<LoggedRequest> &log) {
                for (const LoggedRequest &r : log) {
                    if (r.method == "POST" && r.key == "record")
                        return true;
                }
                return false;
            },
            5000));
        m_page->OnBtnRefreshClick();
        QVERIFY(m_fx->waitAnswered("GET", "snap", 2));
        QTest::qWait(300);
        QVERIFY(popupKeys(m_page.get()).isEmpty());
    }

    void scheduleDialogs()
    {
        load();
        const struct
        {
            const char *button;
            int kind;
        } buttons[] = {{"pushButton_RecordSchedule", SCHEDULE_RECORD},
                       {"pushButton_SnapSchedule", SCHEDULE_SNAPSHOT},
                       {"pushButton_FtpSchedule", SCHEDULE_FTPUPLOAD}};
        m_page->show();
        for (const auto &b : buttons) {
            QMetaObject::invokeMethod(button(b.button), "clicked");
            auto *dialog = m_page->findChild<qwScheduleDialog *>();
            QVERIFY(dialog);
            QCOMPARE(dialog->kind(), b.kind);
            QCOMPARE(dialog->login(), (QStringList{"127.0.0.1", m_fx->port(), "admin", "1234"}));
            delete dialog;
        }

        // The placeholder reads the mode and writes it back in the document.
        const QByteArray stored = m_fx->device().subject("schetask&type=1");
        m_page->OnBtnRecordScheduleClick();
        auto *dialog = m_page->findChild<qwScheduleDialog *>();
        auto *mode = dialog->findChild<QComboBox *>("comboBox_Mode");
        auto *save = dialog->findChild<QPushButton *>("pushButton_Save");
        QTRY_VERIFY(save->isEnabled());
        QCOMPARE(mode->currentIndex(), 2);
        m_fx->device().addFault("set:schetask", Fault::status(500), 1);
        mode->setCurrentIndex(1);
        save->click();
        QTRY_VERIFY(tipShown(dialog));
        QCOMPARE(popupKeys(dialog), QStringList{"tip_setscheduleerr"});
        QVERIFY(save->isEnabled());
        save->click();
        QTRY_VERIFY(!m_page->findChild<qwScheduleDialog *>());
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setschedulesuc"});
        QCOMPARE(m_fx->device().subject("schetask&type=1"), withActive(stored, "1"));
    }
};

QTEST_MAIN(ScheduleTest)
#include "tst_schedule.moc"
