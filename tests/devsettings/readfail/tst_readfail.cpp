// Every page and dialog that reads before it writes, against every way its
// first read can fail: the failure is said, nothing can be sent, nothing the
// page did not read is shown, and once a read succeeds a save sends the
// device's own values back unchanged.

#include "readfailsuite.h"

#include "app/widgets/basewindow.h"

#include <QPushButton>
#include <QXmlStreamReader>

using namespace devsetfixture;
using namespace readfail;

namespace {

// Beyond every list, text field, check box and slider number of a page: the
// labels and views that show what was read, the fields that choose what is
// shown instead, and the one field the page's reads are mainly about.
struct Shown
{
    QStringList more;
    QStringList choosers;
    const char *proof;
};

const QMap<QString, Shown> &shownFields()
{
    static const QMap<QString, Shown> all{
        {"wifi",
         {{"label_Essid", "label_Address", "label_Mask", "label_Gateway", "label_Link", "tableView_Networks"},
          {},
          "label_Address"}},
        {"storage", {{"label_DiskStatus", "label_DiskFormatted", "label_Used", "label_Free"}, {}, "label_Used"}},
        {"schedule", {{}, {}, "comboBox_PackSize"}},
        {"users", {{"tableView_Users"}, {}, "tableView_Users"}},
        {"video", {{"label_BitrateRange0", "label_BitrateRange1"}, {}, "lineEdit_Bitrate0"}},
        {"audio", {{}, {}, "comboBox_Sample"}},
        {"image", {{}, {}, "label_brightnessValue"}},
        {"imageex", {{}, {"comboBox_imgtemplate"}, "comboBox_videostd"}},
        {"osd", {{}, {"lineEdit_Picture"}, "lineEdit_Custom"}},
        {"motion", {{}, {}, "label_ThresholdValue"}},
    };
    return all;
}

// Each element's texts in document order, by name.
QMultiMap<QString, QString> leaves(const QByteArray &xml)
{
    QMultiMap<QString, QString> out;
    QXmlStreamReader r(xml);
    QString name;
    QString text;
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement:
            name = r.name().toString();
            text.clear();
            break;
        case QXmlStreamReader::Characters:
            text += r.text();
            break;
        case QXmlStreamReader::EndElement:
            if (!name.isEmpty())
                out.insert(name, text.trimmed());
            name.clear();
            break;
        default:
            break;
        }
    }
    return out;
}

struct Sink : QObject
{
    void got(int) {}
};

} // namespace

class tst_ReadFail : public ReadFailSuite
{
    Q_OBJECT

private slots:
    void failedReadSendsNothing_data();
    void failedReadSendsNothing();
    void failedReadShowsNothing_data();
    void failedReadShowsNothing();
    void replyJudgement_data();
    void replyJudgement();
    void outageThenRefresh();
    void stoppedReadLeavesRound_data();
    void stoppedReadLeavesRound();
    void refreshWhileReadOut_data();
    void refreshWhileReadOut();

private:
    // The first read answered with the device's error page, the second left
    // unanswered.
    void outage(const QString &failing, const QString &silent)
    {
        devicesim::Device &d = m_fx->device();
        d.addFault("get:" + failing, Fault::status(500, d.subject(failing)));
        d.addFault("get:" + silent, Fault::silent());
    }
    // Every field of the page that shows what was read, by name.
    QMap<QString, QWidget *> fieldsShown(const QString &subject) const
    {
        const Shown &shown = shownFields()[subject];
        QMap<QString, QWidget *> out;
        for (QWidget *w : m_widget->findChildren<QWidget *>()) {
            const QString name = w->objectName();
            const bool field = qobject_cast<QComboBox *>(w) || qobject_cast<QLineEdit *>(w) ||
                               qobject_cast<QCheckBox *>(w) || (name.startsWith("label_") && name.endsWith("Value")) ||
                               shown.more.contains(name);
            if (field && !shown.choosers.contains(name))
                out.insert(name, w);
        }
        return out;
    }
    // The values each set sent against the stored documents as they were
    // before it.
    QStringList changedValues(const QMap<QString, QByteArray> &stored) const
    {
        QStringList out;
        for (const LoggedRequest &r : m_fx->device().requests()) {
            if (r.method != "POST")
                continue;
            QByteArray doc = stored.value(r.key);
            if (doc.isEmpty())
                doc = stored.value(r.key.section('&', 0, 0));
            const QMultiMap<QString, QString> sent = leaves(r.body);
            const QMultiMap<QString, QString> held = leaves(doc);
            for (const QString &name : sent.uniqueKeys()) {
                if (!held.contains(name))
                    continue;
                const QStringList a = sent.values(name);
                const QStringList b = held.values(name);
                const bool same = a.size() == b.size() ? a == b
                                                       : std::all_of(a.begin(), a.end(),
                                                                     [&](const QString &v) { return b.contains(v); });
                if (!same)
                    out << QStringLiteral("%1/%2: %3 for %4").arg(r.key, name, a.join(','), b.join(','));
            }
        }
        return out;
    }
};

void tst_ReadFail::failedReadSendsNothing_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("mode");
    for (const Subject &s : subjects()) {
        for (const char *mode : {"noconnection", "404", "500", "cut", "garbage", "unclosed", "silent"})
            QTest::addRow("%s/%s", s.name, mode) << QString::fromLatin1(s.name) << QString::fromLatin1(mode);
        // The others read well: one failed read is enough.
        if (s.readKeys.size() > 1)
            QTest::addRow("%s/last read 500", s.name) << QString::fromLatin1(s.name) << QStringLiteral("last500");
    }
}

void tst_ReadFail::failedReadSendsNothing()
{
    QFETCH(QString, subject);
    QFETCH(QString, mode);
    const Subject &s = *subjectNamed(subject);
    QVERIFY(readAgainstFault(s, mode));
    QVERIFY(popupKeys(m_widget).contains("tip_readfailed"));
    QVERIFY(!state()->isRead());
    QVERIFY(!sender(s)->isEnabled());
    if (auto *dialog = qobject_cast<BaseWindow *>(m_widget.data())) {
        // The note stands in the dialog's content, clear of its title and
        // its buttons.
        auto *note = m_widget->findChild<QLabel *>(QStringLiteral("label_readFailed"));
        QVERIFY(note && note->isVisible());
        const QRect at(note->mapTo(dialog, QPoint()), note->size());
        QVERIFY2(dialog->getClientRect().contains(at),
                 qPrintable(QStringLiteral("note at %1,%2").arg(at.x()).arg(at.y())));
        QVERIFY(!at.intersects(QRect(sender(s)->mapTo(dialog, QPoint()), sender(s)->size())));
    }

    // Whatever the forced click sent is counted once the page is closed.
    force(s);
    QCOMPARE(countPosts(), 0);
    popupKeys(m_widget); // a page may say why it sent nothing

    repair(mode);
    read(s);
    QTRY_VERIFY_WITH_TIMEOUT(state() && state()->isRead(), 20000);
    QVERIFY(!tipShown(m_widget));
    if (s.prepare)
        s.prepare(m_widget);
    QVERIFY(sender(s)->isEnabled());
    QCOMPARE(countPosts(), 0);

    QMap<QString, QByteArray> stored;
    for (const QString &key : m_fx->device().subjectKeys())
        stored.insert(key, m_fx->device().subject(key));
    qobject_cast<QAbstractButton *>(sender(s))->click();
    QTRY_VERIFY_WITH_TIMEOUT(countPosts() >= s.sets, 20000);
    QCOMPARE(changedValues(stored), QStringList());
    closeAndCountSets(s.sets);
}

void tst_ReadFail::failedReadShowsNothing_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("mode");
    for (const Subject &s : subjects()) {
        if (s.pageId == 0)
            continue;
        // A device's error page holding its settings, and a reply cut short.
        for (const char *mode : {"500", "cut"})
            QTest::addRow("%s/%s", s.name, mode) << QString::fromLatin1(s.name) << QString::fromLatin1(mode);
        // The others read well and were shown as they came.
        if (s.readKeys.size() > 1)
            QTest::addRow("%s/last read 500", s.name) << QString::fromLatin1(s.name) << QStringLiteral("last500");
    }
}

// A page whose first read failed shows every field blank, not its own
// defaults nor what the failed reply held, and says the read failed until
// Restore (Refresh where the page has none) reads the device again.
void tst_ReadFail::failedReadShowsNothing()
{
    QFETCH(QString, subject);
    QFETCH(QString, mode);
    const Subject &s = *subjectNamed(subject);
    QVERIFY(readAgainstFault(s, mode));
    QVERIFY(noteShown());
    const QMap<QString, QWidget *> fields = fieldsShown(subject);
    QVERIFY(fields.contains(shownFields()[subject].proof));
    for (auto it = fields.begin(); it != fields.end(); ++it)
        QVERIFY2(shownValue(*it).isEmpty(), qPrintable(it.key() + " shows " + shownValue(*it)));
    popupKeys(m_widget);

    repair(mode);
    // A read that succeeded may not be asked again.
    const QString asked = mode == "last500" ? s.readKeys.last() : s.readKeys.first();
    const int reads = m_fx->count("GET", asked);
    auto *again = m_widget->findChild<QAbstractButton *>(QStringLiteral("pushButton_Restore"));
    if (!again)
        again = m_widget->findChild<QAbstractButton *>(QStringLiteral("pushButton_Refresh"));
    if (again) {
        QVERIFY(again->isEnabled());
        again->click();
    } else {
        read(s);
    }
    QTRY_VERIFY_WITH_TIMEOUT(state()->isRead(), 20000);
    QVERIFY(m_fx->count("GET", asked) > reads);
    QVERIFY(!noteShown());
    for (auto it = fields.begin(); it != fields.end(); ++it)
        QTRY_VERIFY2_WITH_TIMEOUT(!shownValue(*it).isEmpty(), qPrintable(it.key() + " shows nothing"), 20000);
    QVERIFY(!tipShown(m_widget));
}

void tst_ReadFail::replyJudgement_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<bool>("usable");
    const QByteArray doc = "<?xml version=\"1.0\"?><response><motion><active>1</active></motion></response>";
    QTest::newRow("whole") << doc << QByteArray("motion") << true;
    QTest::newRow("another subject") << doc << QByteArray("osd") << false;
    QTest::newRow("root left open") << doc.left(doc.size() - 11) << QByteArray("motion") << false;
    QTest::newRow("cut in a tag") << doc.left(60) << QByteArray("motion") << false;
    QTest::newRow("text only") << QByteArray("motion") << QByteArray("motion") << false;
    QTest::newRow("empty") << QByteArray() << QByteArray("motion") << false;
    QTest::newRow("trailing junk") << doc + "<x>" << QByteArray("motion") << false;
    QTest::newRow("not UTF-8") << QByteArray(doc).replace("1</active>", "\xe9</active>") << QByteArray("motion")
                               << false;
    QTest::newRow("declared Latin-1")
        << QByteArray(doc).replace("\"?>", "\" encoding=\"ISO-8859-1\"?>").replace("1</active>", "\xe9</active>")
        << QByteArray("motion") << false;
}

void tst_ReadFail::replyJudgement()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, element);
    QFETCH(bool, usable);
    QCOMPARE(devset::usableBody(body, element.constData()), usable);
}

// The window opened while the device is down, the device back: Save on
// Video and on Motion sends nothing and says why; Refresh (on Motion:
// selecting it again), then Save sends the device's own values.
void tst_ReadFail::outageThenRefresh()
{
    m_fx->device().stop();
    QWidget parent;
    auto *window = new qwDeviceSettings(&parent);
    window->setDeviceInfo("127.0.0.1", QString::number(m_port), "admin", "1234");
    const auto select = [&](int id) {
        child<QPushButton>(window, "pushButton_Return")->click();
        child<QPushButton>(window, qPrintable(QStringLiteral("pushButton_Guide%1").arg(id)))->click();
    };
    select(DEVSET_MOTION);
    auto *motion = window->findChild<qwDevsetMotion *>();
    QVERIFY(motion);
    QTRY_VERIFY_WITH_TIMEOUT(tipShown(motion), 20000);
    QCOMPARE(popupKeys(motion), QStringList{"tip_readfailed"});
    select(DEVSET_VIDEO);
    auto *video = window->findChild<qwDevsetVideo *>();
    QVERIFY(video);
    QTRY_VERIFY_WITH_TIMEOUT(tipShown(video), 20000);
    QCOMPARE(popupKeys(video), QStringList{"tip_readfailed"});

    QVERIFY(m_fx->device().start(QHostAddress(QHostAddress::LocalHost), m_port));
    for (QWidget *page : {static_cast<QWidget *>(video), static_cast<QWidget *>(motion)}) {
        auto *save = child<QPushButton>(page, "pushButton_Save");
        QVERIFY(!save->isEnabled());
        save->click();
    }
    QCOMPARE(countPosts(), 0);

    QMap<QString, QByteArray> stored;
    for (const QString &key : m_fx->device().subjectKeys())
        stored.insert(key, m_fx->device().subject(key));
    child<QPushButton>(video, "pushButton_Refresh")->click();
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(video, "pushButton_Save")->isEnabled(), 20000);
    child<QPushButton>(video, "pushButton_Save")->click();
    QVERIFY(m_fx->waitAnswered("POST", "videoenc&stream=1", 1));
    select(DEVSET_MOTION);
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(motion, "pushButton_Save")->isEnabled(), 20000);
    child<QPushButton>(motion, "pushButton_Save")->click();
    QVERIFY(m_fx->waitAnswered("POST", "motion", 1));
    // Closed, the window lets every set it started reach the device: a set
    // of the first clicks would be counted here.
    delete window;
    QCOMPARE(countPosts(), 3);
    QCOMPARE(changedValues(stored), QStringList());
}

void tst_ReadFail::stoppedReadLeavesRound_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("read");
    QTest::newRow("both stopped, both read") << QStringList{"stop", "0", "1"} << true;
    QTest::newRow("failed one read while the other is out") << QStringList{"0", "1"} << true;
    QTest::newRow("stopped and left") << QStringList{"0", "stop"} << false;
}

// Two reads, the first answered 500 while the second is still out; on the
// tip the device is mended and the steps run (a read started, or the second
// stopped). A stopped read never reports; one not started again counts as
// not read well, quietly.
void tst_ReadFail::stoppedReadLeavesRound()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, read);
    devset::setReadTimeoutCapForTests(0); // the silent read stays out until stopped
    QWidget page;
    Sink sink;
    auto *state = new DevsetReadState(&page);
    CGIUtil *requests[2] = {};
    const auto start = [&](int n) {
        const QString url = QStringLiteral("http://127.0.0.1:%1/action/get?subject=videoenc&stream=%2");
        state->startRead(requests[n], 0, n, url.arg(m_port).arg(n), "admin", "1234", 30, &sink, &Sink::got, "videoenc");
    };
    outage("videoenc&stream=0", "videoenc&stream=1");
    start(0);
    start(1);
    QTRY_VERIFY(tipShown(&page));
    QCOMPARE(popupKeys(&page), QStringList{"tip_readfailed"});
    QVERIFY(state->isReading());
    m_fx->device().clearFaults();
    for (const QString &step : steps) {
        if (step == "stop")
            devset::stopRequest(requests[1], 0);
        else
            start(step.toInt());
    }
    QTRY_VERIFY(!state->isReading());
    QCOMPARE(state->isRead(), read);
    QVERIFY(!tipShown(&page));
    for (CGIUtil *&r : requests)
        devset::releaseRequest(r, 0);
}

void tst_ReadFail::refreshWhileReadOut_data()
{
    // The page, the read answered 500, the read still out.
    QTest::addColumn<QStringList>("reads");
    QTest::newRow("video") << QStringList{"video", "videoenc&stream=0", "videoenc&stream=1"};
    QTest::newRow("wifi") << QStringList{"wifi", "network&adapter=1", "netstat&adapter=1"};
    QTest::newRow("audio") << QStringList{"audio", "devability", "audiovolume"};
    QTest::newRow("schedule") << QStringList{"schedule", "schetask&type=0", "snap"};
}

// On the tip the device is mended and the page read again: it reads anew,
// whatever the read still out did, and may send.
void tst_ReadFail::refreshWhileReadOut()
{
    QFETCH(QStringList, reads);
    const Subject &s = *subjectNamed(reads[0]);
    devset::setReadTimeoutCapForTests(2); // out well past the tip
    outage(reads[1], reads[2]);
    read(s);
    QTRY_VERIFY(tipShown(m_widget));
    QVERIFY(state()->isReading());
    popupKeys(m_widget);
    m_fx->device().clearFaults();
    read(s);
    QTRY_VERIFY_WITH_TIMEOUT(!state()->isReading(), 20000);
    QVERIFY(state()->isRead());
    QVERIFY(sender(s)->isEnabled());
    QVERIFY(!noteShown());
    QVERIFY(!tipShown(m_widget));
}

QTEST_MAIN(tst_ReadFail)
#include "tst_readfail.moc"
