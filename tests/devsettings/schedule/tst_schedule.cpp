#include "devsetfixture.h"
#include "devsettings/qwdevsetschedule.h"
#include "app/widgets/qclabelex.h"
#include "devsettings/qwscheduledialog.h"
#include "tests/devicesim/xmltree.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimeEdit>

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

// The week of a stored document as "day:start-end" per section, in
// document order; "no week" without one.
QStringList weekOf(const QByteArray &xml)
{
    XmlNode doc;
    QString error;
    if (!XmlNode::parse(xml, &doc, &error))
        return {error};
    for (const XmlNode &week : doc.children) {
        if (week.name != "week")
            continue;
        QStringList out;
        for (const XmlNode &day : week.children) {
            for (const XmlNode &s : day.children)
                out << day.attributes.value("id").toString() + ":" + s.children.value(0).text + "-" +
                           s.children.value(1).text;
        }
        return out;
    }
    return {"no week"};
}

// Every element below the root but the week, printed.
QByteArray allButWeek(const QByteArray &xml)
{
    XmlNode doc;
    QString error;
    XmlNode::parse(xml, &doc, &error);
    QByteArray out;
    for (const XmlNode &c : doc.children) {
        if (c.name != "week")
            out += c.print();
    }
    return out;
}

QStringList shippedWeek(const QMap<int, QStringList> &changed = {})
{
    QStringList out;
    for (int d = 0; d < 7; ++d) {
        const QStringList day = changed.value(d, {"00:00-08:00", "18:00-23:59"});
        for (const QString &s : day)
            out << QString::number(d) + ":" + s;
    }
    return out;
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
    // The device holds value in that element of a subject from now on.
    void hold(const QString &subject, const QString &element, int value)
    {
        const QString tag = QStringLiteral("<%1>%2</%1>");
        QString stored = QString::fromUtf8(m_fx->device().subject(subject));
        stored.replace(QRegularExpression(tag.arg(element, "[^<]*")), tag.arg(element).arg(value));
        m_fx->device().setSubject(subject, stored.toUtf8());
    }
    // Saves and waits for the success or failure tip.
    QStringList save()
    {
        button("pushButton_Save")->click();
        [&] { QTRY_VERIFY(tipShown(m_page.get())); }();
        QTest::qWait(100);
        return popupKeys(m_page.get());
    }

    // The dialog of a task, shown and reading.
    QPointer<qwScheduleDialog> openDialog(int kind)
    {
        auto *dialog = new qwScheduleDialog(m_page.get(), kind);
        dialog->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
        dialog->show();
        return dialog;
    }
    static QList<QWidget *> sections(qwScheduleDialog *dialog, int day)
    {
        return dialog->findChild<QWidget *>(QStringLiteral("widget_Day%1").arg(day))
            ->findChildren<QWidget *>("widget_Section", Qt::FindDirectChildrenOnly);
    }
    static void setSection(QWidget *section, QTime start, QTime end)
    {
        section->findChild<QTimeEdit *>("timeEdit_Start")->setTime(start);
        section->findChild<QTimeEdit *>("timeEdit_End")->setTime(end);
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
        hold(subject, element, value);
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
        // Read whole first: a page that could not read it would not save.
        load();
        m_fx->device().setSubject("schetask&type=2", task(1, 3000));
        QVERIFY(m_fx->device().subject("schetask&type=2").size() > 409600);
        box("comboBox_FtpEnable")->setCurrentIndex(0);
        button("pushButton_Save")->click();
        QVERIFY(m_fx->waitAnswered("GET", "schetask&type=2", 2, 10000));
        QVERIFY(m_fx->waitAnswered("POST", "snap", 1));
        QTest::qWait(300);
        QCOMPARE(m_fx->count("POST", "schetask&type=2"), 0);
        QVERIFY(popupKeys(m_page.get()).isEmpty());
        QVERIFY(!button("pushButton_Save")->isEnabled());
    }

    // An interval out of the range the page offers is refused on save while
    // snapshots are shown on, and nothing of the snapshot settings goes to the
    // device; one the device holds shows as it is, in range or not. While
    // they are shown off the interval cannot be edited: it is not checked and
    // goes back as the device holds it, so the rest of the page still saves.
    void snapInterval_data()
    {
        QTest::addColumn<int>("held"); // -1: the shipped 5
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("snapOn");
        QTest::addColumn<QString>("change"); // "record": pre-record 3 s; "ftp": FTP off
        QTest::addColumn<bool>("refused");
        QTest::newRow("empty") << -1 << "" << true << "" << true;
        QTest::newRow("0") << -1 << "0" << true << "" << true;
        QTest::newRow("601") << -1 << "601" << true << "" << true;
        QTest::newRow("600 accepted") << -1 << "600" << true << "" << false;
        QTest::newRow("device holds 900") << 900 << "" << true << "" << true;
        QTest::newRow("device holds 600") << 600 << "" << true << "" << false;
        QTest::newRow("off, holds 0, record") << 0 << "" << false << "record" << false;
        QTest::newRow("off, holds 0, ftp") << 0 << "" << false << "ftp" << false;
        QTest::newRow("off, holds 900, record") << 900 << "" << false << "record" << false;
        QTest::newRow("off, holds 900, ftp") << 900 << "" << false << "ftp" << false;
        QTest::newRow("off, 0 typed, ftp") << -1 << "0" << false << "ftp" << false;
    }

    void snapInterval()
    {
        QFETCH(int, held);
        QFETCH(QString, text);
        QFETCH(bool, snapOn);
        QFETCH(QString, change);
        QFETCH(bool, refused);
        if (held >= 0)
            hold("snap", "interval", held);
        hold("schetask&type=0", "active", snapOn ? 1 : 0);
        load();
        QCOMPARE(box("comboBox_SnapEnable")->currentIndex(), snapOn ? 1 : 0);
        QCOMPARE(interval()->isEnabled(), snapOn);
        if (held >= 0)
            QCOMPARE(interval()->text(), QString::number(held));
        const QString kept = "<interval>" + interval()->text() + "</interval>";
        if (held < 0)
            interval()->setText(text);
        const QString sent = snapOn ? "<interval>" + interval()->text() + "</interval>" : kept;
        if (change == "record")
            box("comboBox_PreRecord")->setCurrentIndex(3);
        else if (change == "ftp")
            box("comboBox_FtpEnable")->setCurrentIndex(0);
        const QByteArray before = m_fx->device().subject("snap");
        QCOMPARE(save(), QStringList{refused ? "tip_invsnapinterval" : "tip_setsuccess"});
        QVERIFY(m_fx->waitAnswered("POST", "record", 1));
        if (change == "record")
            QVERIFY(m_fx->device().subject("record").contains("<presec>3</presec>"));
        if (change == "ftp")
            QVERIFY(m_fx->device().subject("schetask&type=2").contains("<active>0</active>"));
        if (!refused) {
            const QList<LoggedRequest> posts = m_fx->requests("POST", "snap");
            QCOMPARE(posts.size(), 1);
            QVERIFY2(posts.at(0).body.contains(sent.toUtf8()), posts.at(0).body.constData());
            QVERIFY(m_fx->device().subject("snap").contains(sent.toUtf8()));
            return;
        }
        QCOMPARE(m_fx->count("POST", "snap"), 0);
        QCOMPARE(m_fx->device().subject("snap"), before);
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

    // After the dialog stored a mode the page shows it, so that its next
    // Save leaves the mode the dialog stored.
    void modeAfterDialog_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("by schedule switched off") << 2 << 0 << 0;
        QTest::newRow("off switched to by schedule") << 0 << 2 << 1;
    }
    void modeAfterDialog()
    {
        QFETCH(int, held);
        QFETCH(int, stored);
        QFETCH(int, shown);
        const QString key = QStringLiteral("schetask&type=1");
        hold(key, "active", held);
        load();
        QCOMPARE(box("comboBox_RecordEnable")->currentIndex(), held ? 1 : 0);
        m_page->show();
        m_page->OnBtnRecordScheduleClick();
        QPointer<qwScheduleDialog> dialog = m_page->findChild<qwScheduleDialog *>();
        auto *store = dialog->findChild<QPushButton *>("pushButton_Save");
        QTRY_VERIFY(store->isEnabled());
        dialog->findChild<QComboBox *>("comboBox_Mode")->setCurrentIndex(stored);
        store->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setschedulesuc"});
        QCOMPARE(box("comboBox_RecordEnable")->currentIndex(), shown);
        QCOMPARE(button("pushButton_RecordSchedule")->isEnabled(), shown == 1);

        QCOMPARE(save(), QStringList{"tip_setsuccess"});
        QCOMPARE(m_fx->count("POST", key), 1); // the dialog's alone
        QVERIFY(m_fx->device().subject(key).contains("<active>" + QByteArray::number(stored) + "</active>"));
    }

    // Monday changed, a section added on Tuesday and one removed on Friday:
    // the device holds that week afterwards, the mode and every other
    // element as before, and the dialog opened again shows it.
    void weekEdited_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("recording") << int(SCHEDULE_RECORD);
        QTest::newRow("motion alarm, beside its actions") << int(SCHEDULE_ALARM);
    }
    void weekEdited()
    {
        QFETCH(int, kind);
        QPointer<qwScheduleDialog> dialog = openDialog(kind);
        const QString key = dialog->subject();
        const QByteArray before = m_fx->device().subject(key);
        auto *save = dialog->findChild<QPushButton *>("pushButton_Save");
        QTRY_VERIFY(save->isEnabled());
        QVERIFY(dialog->findChild<QWidget *>("widget_Week")->isVisibleTo(dialog));
        QVERIFY(!dialog->findChild<QLabel *>("label_NotEditable")->isVisibleTo(dialog));
        QCOMPARE(dialog->findChild<QComboBox *>("comboBox_Mode")->currentIndex(), 2);
        for (int d = 0; d < 7; ++d)
            QCOMPARE(dialog->editedWeek().at(d), (QVector<TimeSection>{{0, 480}, {1080, 1439}}));

        setSection(sections(dialog, 1).at(0), QTime(1, 0), QTime(7, 30));
        dialog->findChild<QPushButton *>("pushButton_Add2")->click();
        QCOMPARE(dialog->editedWeek().at(2).at(1), (TimeSection{480, 540})); // in the first free hour
        setSection(sections(dialog, 2).at(2), QTime(12, 0), QTime(13, 0));
        sections(dialog, 5).at(1)->findChild<QPushButton *>("pushButton_Remove")->click();
        save->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setschedulesuc"});
        QCOMPARE(m_fx->count("GET", key), 2); // read again right before the set
        QCOMPARE(m_fx->count("POST", key), 1);
        const QByteArray stored = m_fx->device().subject(key);
        QCOMPARE(weekOf(stored), shippedWeek({{1, {"01:00-07:30", "18:00-23:59"}},
                                              {2, {"00:00-08:00", "12:00-13:00", "18:00-23:59"}},
                                              {5, {"00:00-08:00"}}}));
        QCOMPARE(allButWeek(stored), allButWeek(before));
        XmlNode root;
        QString error;
        QVERIFY(XmlNode::parse(stored, &root, &error));
        QCOMPARE(root.attributes.value("ver").toString(), QStringLiteral("2.0"));

        dialog = openDialog(kind);
        QTRY_VERIFY(dialog->findChild<QPushButton *>("pushButton_Save")->isEnabled());
        QCOMPARE(dialog->editedWeek().at(2), (QVector<TimeSection>{{0, 480}, {720, 780}, {1080, 1439}}));
        QCOMPARE(dialog->editedWeek().at(5), (QVector<TimeSection>{{0, 480}}));
        delete dialog;
    }

    // A section that ends at or before its start, or runs into the next, is
    // refused with the day named, and nothing is sent.
    void weekRefused_data()
    {
        QTest::addColumn<int>("day");
        QTest::addColumn<QTime>("start");
        QTest::addColumn<QTime>("end");
        QTest::addColumn<QString>("tip");
        QTest::newRow("end before start") << 1 << QTime(18, 0) << QTime(17, 0) << "tip_starendtime";
        QTest::newRow("end at start") << 6 << QTime(18, 0) << QTime(18, 0) << "tip_starendtime";
        QTest::newRow("overlap") << 3 << QTime(7, 0) << QTime(19, 0) << "tip_sectionsoverlap";
        QTest::newRow("overlap after sorting") << 0 << QTime(18, 30) << QTime(20, 0) << "tip_sectionsoverlap";
    }
    void weekRefused()
    {
        QFETCH(int, day);
        QFETCH(QTime, start);
        QFETCH(QTime, end);
        QFETCH(QString, tip);
        QPointer<qwScheduleDialog> dialog = openDialog(SCHEDULE_SNAPSHOT);
        auto *save = dialog->findChild<QPushButton *>("pushButton_Save");
        QTRY_VERIFY(save->isEnabled());
        setSection(sections(dialog, day).at(day == 0 ? 0 : 1), start, end);
        save->click();
        QVERIFY(tipShown(dialog));
        const QString text = dialog->findChild<qwTipsdlgEx *>()->messageLabel()->text();
        static const char *const names[] = {"sunday",   "monday", "tuesday", "wednesday",
                                            "thursday", "friday", "saturday"};
        QVERIFY2(text.startsWith(langText(33, 49, names[day])), qPrintable(text));
        QCOMPARE(popupKeys(dialog), QStringList{tip});
        QVERIFY(save->isEnabled());
        QTest::qWait(300);
        QCOMPARE(m_fx->count("POST", "schetask&type=0"), 0);
        QCOMPARE(m_fx->count("GET", "schetask&type=0"), 1);
        delete dialog;
    }

    // A day offers as many sections as the device's fullest day held, or 4.
    void sectionsOffered_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("offered");
        QTest::newRow("2 a day") << 2 << 4;
        QTest::newRow("5 a day") << 5 << 5;
    }
    void sectionsOffered()
    {
        QFETCH(int, held);
        QFETCH(int, offered);
        QByteArray doc = "<schetask><active>2</active><week><day id=\"3\">";
        for (int s = 0; s < held; ++s)
            doc += "<section><start>0" + QByteArray::number(s) + ":00</start><end>0" + QByteArray::number(s) +
                   ":30</end></section>";
        m_fx->device().setSubject("schetask&type=2", doc + "</day></week></schetask>");
        QPointer<qwScheduleDialog> dialog = openDialog(SCHEDULE_FTPUPLOAD);
        QTRY_VERIFY(dialog->findChild<QPushButton *>("pushButton_Save")->isEnabled());
        auto *add = dialog->findChild<QPushButton *>("pushButton_Add0");
        while (add->isEnabled())
            add->click();
        QCOMPARE(sections(dialog, 0).size(), offered);
        QCOMPARE(sections(dialog, 3).size(), held);
        QCOMPARE(dialog->findChild<QPushButton *>("pushButton_Add3")->isEnabled(), held < offered);
        delete dialog;
    }

    // What the device sends wrong is never sent back: a reply that is no
    // whole schedule leaves Save off; a week of another form is shown as not
    // editable and goes back as it came, with only the mode changed.
    void badReplies_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("usable");
        const QByteArray shipped = task(2);
        QByteArray big = task(2);
        big.insert(big.indexOf("<week>"), "<note>" + QByteArray(500 * 1024, 'x') + "</note>");
        QTest::newRow("404") << QByteArray() << "404" << false;
        QTest::newRow("500 with a schedule") << QByteArray() << "500" << false;
        QTest::newRow("garbage answer") << QByteArray() << "garbage" << false;
        QTest::newRow("silence") << QByteArray() << "silent" << false;
        QTest::newRow("garbage body") << QByteArray("schetask active 2 \x01\xff") << "" << false;
        QTest::newRow("truncated") << shipped.left(shipped.size() / 2) << "" << false;
        QTest::newRow("500 KB") << big << "" << false;
        QTest::newRow("no mode") << QByteArray("<schetask><week/></schetask>") << "" << false;
        QTest::newRow("day id 7") << QByteArray(shipped).replace("<day id=\"6\">", "<day id=\"7\">") << "" << true;
        QTest::newRow("25:61") << QByteArray(shipped).replace("09:59", "25:61") << "" << true;
        QTest::newRow("no week") << QByteArray("<schetask><active>2</active></schetask>") << "" << true;
        QTest::newRow("unknown part") << QByteArray(shipped).replace("</start>", "</start><x>1</x>") << "" << true;
    }
    void badReplies()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, fault);
        QFETCH(bool, usable);
        const QString key = "schetask&type=1";
        if (!document.isEmpty())
            m_fx->device().setSubject(key, document);
        if (!fault.isEmpty())
            m_fx->device().addFault("get:" + key, faultNamed(fault, task(1)));
        const QByteArray before = m_fx->device().subject(key);
        QPointer<qwScheduleDialog> dialog = openDialog(SCHEDULE_RECORD);
        auto *save = dialog->findChild<QPushButton *>("pushButton_Save");
        QVERIFY(m_fx->waitAnswered("GET", key, 1));
        if (!usable) {
            QTest::qWait(300);
            QVERIFY(!save->isEnabled());
            QVERIFY(!dialog->findChild<QComboBox *>("comboBox_Mode")->isEnabled());
            save->click();
            dialog->close(); // at once, also while the device keeps silent
            QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1500);
            QCOMPARE(m_fx->count("POST", key), 0);
            return;
        }
        QTRY_VERIFY(save->isEnabled());
        QVERIFY(dialog->findChild<QLabel *>("label_NotEditable")->isVisibleTo(dialog));
        QVERIFY(!dialog->findChild<QWidget *>("widget_Week")->isVisibleTo(dialog));
        dialog->findChild<QComboBox *>("comboBox_Mode")->setCurrentIndex(0);
        save->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(printed(m_fx->device().subject(key)), printed(withActive(before, "0")));
    }

    // Which weeks the editor takes, straight from the document class.
    void weekForms_data()
    {
        QTest::addColumn<QByteArray>("week");
        QTest::addColumn<int>("sections"); // -1: not editable
        const QByteArray s = "<section><start>01:00</start><end>02:00</end></section>";
        QTest::newRow("end before start element")
            << QByteArray("<day id=\"2\"><section><end>02:00</end><start>01:00</start>"
                          "</section></day>")
            << 1;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("day twice") << "<day id=\"2\">" + s + "</day><day id=\"2\"/>" << -1;
        QTest::newRow("id with a tail") << "<day id=\"2x\">" + s + "</day>" << -1;
        QTest::newRow("24:00") << "<day id=\"2\">" + QByteArray(s).replace("02:00", "24:00") + "</day>" << -1;
        QTest::newRow("7:00") << "<day id=\"2\">" + QByteArray(s).replace("01:00", "7:00") + "</day>" << -1;
        QTest::newRow("comment") << "<day id=\"2\"><!-- kept -->" + s + "</day>" << -1;
        QTest::newRow("section attribute")
            << "<day id=\"2\">" + QByteArray(s).replace("<section>", "<section n=\"1\">") + "</day>" << -1;
    }
    void weekForms()
    {
        QFETCH(QByteArray, week);
        QFETCH(int, sections);
        const QByteArray doc = "<schetask><active>1</active><week>" + week + "</week></schetask>";
        ScheduleDocument d;
        QVERIFY(d.parse(doc, doc.size()));
        QCOMPARE(d.weekReadable(), sections >= 0);
        QCOMPARE(d.week().at(2).size(), qMax(sections, 0));
    }
};

QTEST_MAIN(ScheduleTest)
#include "tst_schedule.moc"
