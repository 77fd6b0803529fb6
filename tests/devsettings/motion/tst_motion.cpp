#include "devsetfixture.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwactionsdialog.h"
#include "devsettings/qwdevsetmotion.h"
#include "devsettings/qwscheduledialog.h"
#include "tests/devicesim/xmltree.h"
#include "tests/support/readable.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>

#include <atomic>

using namespace devsetfixture;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

QByteArray motion(const QByteArray &resolution, const QList<QByteArray> &rects, const QByteArray &sensitivity = "5")
{
    QByteArray doc = "<response><motion><active>1</active><resolution>" + resolution + "</resolution><sensitivity>" +
                     sensitivity + "</sensitivity><threshold>20</threshold>";
    for (const QByteArray &r : rects)
        doc += "<rect>" + r + "</rect>";
    return doc + "</motion></response>";
}

QByteArray status(int rows, int cols, const QByteArray &cells, int move = 0)
{
    return "<response><mdstatus><row>" + QByteArray::number(rows) + "</row><col>" + QByteArray::number(cols) +
           "</col><move>" + QByteArray::number(move) + "</move><cell>" + cells + "</cell></mdstatus></response>";
}

QByteArray words(int n, const QByteArray &word = "00000000")
{
    QList<QByteArray> all;
    for (int i = 0; i < n; ++i)
        all << word;
    return all.join(',');
}

const char *const kActions[] = {"record", "snapshot", "ftp", "sendemail", "alarmout", "notifyserver", "audioout"};

QByteArray printed(const QByteArray &xml)
{
    devicesim::XmlNode doc;
    QString error;
    return devicesim::XmlNode::parse(xml, &doc, &error) ? doc.print() : error.toUtf8();
}

// The alarm document with the given action texts (in kActions' order, an
// empty one left out) after the shipped week.
QByteArray alarm(const QList<QByteArray> &actions, const QByteArray &week = {})
{
    QByteArray doc = "<alarm ver=\"2.0\"><active>2</active>" +
                     (week.isNull() ? QByteArray("<week><day id=\"1\"><section><start>00:00</start><end>08:00</end>"
                                                 "</section></day></week>")
                                    : week);
    for (int i = 0; i < actions.size(); ++i) {
        if (!actions[i].isEmpty())
            doc += QByteArray("<") + kActions[i] + ">" + actions[i] + "</" + kActions[i] + ">";
    }
    return doc + "</alarm>";
}

using Drag = QPair<QPoint, QPoint>;

// What the preview shows of the regions: a region snapped to the grid past
// the preview's edge shows up to the edge.
QVector<QRect> shown(const QVector<QRect> &regions)
{
    QVector<QRect> out;
    for (const QRect &r : regions)
        out << r.intersected(QRect(0, 0, 640, 360));
    return out;
}

} // namespace

class MotionTest : public QObject, public PageCase<qwDevsetMotion>
{
    Q_OBJECT

    void load()
    {
        Deliveries deliveries(m_page.get());
        const int before = m_fx->count("GET", "motion");
        m_page->OnInitParameters(121);
        QVERIFY(m_fx->waitAnswered("GET", "motion", before + 1));
        QTRY_VERIFY(deliveries.count >= 1);
        // The status polls are delivered to the page as well: the read is
        // done only when its round is.
        auto *reads = m_page->findChild<DevsetReadState *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(reads);
        QTRY_VERIFY(!reads->isReading());
    }
    void drag(const Drag &d)
    {
        QWidget *overlay = w<QWidget>("widget_Overlay");
        QTest::mousePress(overlay, Qt::LeftButton, {}, d.first);
        QTest::mouseMove(overlay, d.second);
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, d.second);
    }
    QByteArray save()
    {
        const int before = m_fx->count("POST", "motion");
        w<QPushButton>("pushButton_Save")->click();
        if (!m_fx->waitAnswered("POST", "motion", before + 1))
            return {};
        return m_fx->requests("POST", "motion").last().body;
    }
    // Waits until the status GETs reach n and their replies were handled.
    void waitStatus(int n)
    {
        QVERIFY(m_fx->waitAnswered("GET", "mdstatus", n));
        QTRY_VERIFY(m_fx->requests("GET", "mdstatus").size() >= n);
    }

    QPointer<qwActionsDialog> openActions()
    {
        auto *dialog = new qwActionsDialog(m_page.get());
        m_fx->login(*dialog);
        dialog->show();
        return dialog;
    }
    // Each action as "key=0|1", or "key=-" when its box is disabled.
    static QStringList boxes(QWidget *dialog)
    {
        QStringList out;
        for (const char *key : kActions) {
            auto *b = dialog->findChild<QCheckBox *>(QLatin1String("checkBox_") + key);
            out << QLatin1String(key) + "=" + (b->isEnabled() ? QString::number(b->isChecked()) : "-");
        }
        return out;
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        qwDevsetMotion::setPollIntervalForTests(200);
        QVERIFY(open());
        m_page->show();
    }
    void cleanup() { close(); }

    // Polls while enabled, never two at once.
    void detectionOnAndPolling()
    {
        QCOMPARE(m_fx->count("GET", "mdstatus"), 0);
        load();
        for (const char *name : {"pushButton_ClearAll", "pushButton_DetectAll", "slider_Sensitivity",
                                 "slider_Threshold", "pushButton_Schedule", "pushButton_Actions"})
            QVERIFY2(w<QWidget>(name)->isEnabled(), name);
        QVERIFY(m_fx->waitAnswered("GET", "mdstatus", 4));
        QTRY_VERIFY(!m_page->motionCells().isEmpty());

        // While the device answers slowly, a tick is skipped rather than a
        // second poll started: each poll follows the previous answer, which
        // the device holds back 500 ms, whatever the load.
        m_fx->device().addFault("get:mdstatus", Fault::delay(500));
        const int slowStart = m_fx->count("GET", "mdstatus");
        QVERIFY(m_fx->waitAnswered("GET", "mdstatus", slowStart + 3));
        const QList<LoggedRequest> log = m_fx->requests("GET", "mdstatus");
        for (int i = slowStart + 1; i < log.size(); ++i)
            QVERIFY(log.at(i).arrival >= log.at(i - 1).arrival.addMSecs(450));

        w<QCheckBox>("checkBox_Enable")->click();
        QVERIFY(!w<QWidget>("slider_Threshold")->isEnabled());
    }

    // The sliders' values at their widest, whole and readable on the panel.
    void valuesReadable()
    {
        load();
        w<QSlider>("slider_Sensitivity")->setValue(10);
        w<QSlider>("slider_Threshold")->setValue(100);
        for (const char *name : {"label_SensitivityValue", "label_ThresholdValue"}) {
            const testsupport::PaintedText t = testsupport::paintedText(w<QLabel>(name));
            QVERIFY2(t.contrast >= 4.5 && !t.clipped,
                     qPrintable(QStringLiteral("%1: %2 on %3, %4, clipped %5")
                                    .arg(name, QColor(t.text).name(), QColor(t.background).name())
                                    .arg(t.contrast)
                                    .arg(t.clipped)));
        }
    }

    // The device counts sensitivity from 0; a rect that fails still counts.
    void readValues()
    {
        m_fx->device().setSubject("motion", motion("640x360", {"10,10,0,5", "0,0,32,30"}, "0"));
        load();
        QCOMPARE(w<QSlider>("slider_Sensitivity")->value(), 1);
        QVERIFY(m_page->regions().at(0).isEmpty());
        QCOMPARE(m_page->regions().at(1), QRect(0, 0, 32, 30));
        QCOMPARE(save(), kDeclaration + "<request><motion ver=\"2.0\"><active>1</active><resolution>640x360"
                                        "</resolution><sensitivity>0</sensitivity><threshold>20</threshold>"
                                        "<rect>0,0,0,0</rect><rect>0,0,32,30</rect><rect>0,0,0,0</rect>"
                                        "<rect>0,0,0,0</rect></motion></request>");
        QCOMPARE(popupKeys(m_page.get()), QStringList{});
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setsuccess"});
        m_fx->device().addFault("set:motion", Fault::status(500));
        save();
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setfailed"});
    }

    void drawing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QList<QByteArray>>("stored");
        QTest::addColumn<Drag>("drag");
        QTest::addColumn<QList<QByteArray>>("sent");
        // Rectangles as "x,y,w,h", blank-separated; "-" for an unused one.
        const auto row = [](const QByteArray &name, const QByteArray &frame, const char *stored, const Drag &d,
                            const QByteArray &sent) {
            auto rects = [](const QByteArray &all) {
                QList<QByteArray> out;
                for (const QByteArray &r : all.split(' '))
                    out << (r == "-" ? QByteArray("0,0,0,0") : r);
                return QByteArray(all).isEmpty() ? QList<QByteArray>{} : out;
            };
            QTest::newRow(name.constData()) << frame << rects(stored) << d << rects(sent);
        };
        const Drag down{{10, 10}, {20, 20}};
        row("640", "640x360", "", down, "0,0,32,30 - - -");
        row("1280", "1280x720", "", down, "0,0,64,60 - - -");
        row("reverse", "640x360", "", {{20, 20}, {10, 10}}, "0,0,32,30 - - -");
        row("click", "640x360", "", {{40, 40}, {40, 40}}, "32,30,16,15 - - -");
        row("click on a region", "640x360", "0,0,160,90", {{40, 40}, {40, 40}}, "- - - -");
        row("1 and 3 in use: 2", "640x360", "320,0,16,15 - 320,60,16,15", down, "320,0,16,15 0,0,32,30 320,60,16,15 -");
        row("three in use: 4", "640x360", "320,0,16,15 320,30,16,15 320,60,16,15 320,90,16,15", down,
            "320,0,16,15 320,30,16,15 320,60,16,15 0,0,32,30");
        // To the overlay's last column and row: the frame's last ones.
        const Drag corner{{610, 335}, {640, 360}};
        row("640x360", "640x360", "", corner, "608,330,32,30 - - -");
        row("1280x720", "1280x720", "", corner, "1216,660,64,60 - - -");
        row("704x576", "704x576", "", corner, "668,528,36,48 - - -");
    }
    void drawing()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QList<QByteArray>, stored);
        QFETCH(Drag, drag);
        QFETCH(QList<QByteArray>, sent);
        m_fx->device().setSubject("motion", motion(frame, stored));
        load();
        this->drag(drag);
        const QByteArray body = save();
        QList<QByteArray> rects;
        for (const QByteArray &part : body.split('<')) {
            if (part.startsWith("rect>"))
                rects << part.mid(5);
        }
        QCOMPARE(rects, sent);
        // What was saved comes back as drawn.
        const QVector<QRect> drawn = shown(m_page->regions());
        load();
        QCOMPARE(shown(m_page->regions()), drawn);
    }

    void detectAll()
    {
        m_fx->device().setSubject("motion", motion("1920x1080", {"0,0,16,15", "0,0,16,15"}));
        load();
        w<QPushButton>("pushButton_DetectAll")->click();
        QVERIFY(save().contains("<rect>0,0,1920,1080</rect><rect>0,0,0,0</rect><rect>0,0,0,0</rect>"));
    }

    // Saving, reading back and saving again changes nothing, for frames that
    // are not whole multiples of the preview too.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<Drag>("region");
        for (const char *frame : {"640x360", "1280x720", "1920x1080", "704x576", "2688x1520"}) {
            QTest::addRow("%s one cell", frame) << QByteArray(frame) << Drag{{20, 20}, {20, 20}};
            QTest::addRow("%s block", frame) << QByteArray(frame) << Drag{{40, 35}, {200, 170}};
            QTest::addRow("%s to the edge", frame) << QByteArray(frame) << Drag{{500, 300}, {640, 360}};
        }
    }
    void roundTrip()
    {
        QFETCH(QByteArray, frame);
        QFETCH(Drag, region);
        m_fx->device().setSubject("motion", motion(frame, {}));
        load();
        drag(region);
        const QByteArray first = save();
        const QVector<QRect> drawn = shown(m_page->regions());
        load();
        QCOMPARE(shown(m_page->regions()), drawn);
        QCOMPARE(save(), first);
    }

    void levels()
    {
        m_fx->device().setSubjectSource("mdstatus", {});
        m_fx->device().setSubject("mdstatus", status(24, 40, words(30), 250));
        load();
        QTRY_COMPARE(m_page->levelHistory().last(), 200);
        m_page.reset();

        // The oldest level drops out after 316 newer ones.
        std::atomic<int> polls{0};
        m_fx->device().setSubjectSource("mdstatus", [&polls] { return status(1, 1, "0", ++polls == 1 ? 100 : 7); });
        qwDevsetMotion::setPollIntervalForTests(5);
        m_page = std::make_unique<qwDevsetMotion>(nullptr);
        m_fx->login(*m_page);
        m_page->show();
        load();
        QTRY_VERIFY(m_page->levelHistory().contains(100));
        QTRY_VERIFY_WITH_TIMEOUT(m_page->levelHistory().count(7) == qwDevsetMotion::kHistory, 20000);
        m_page.reset();
    }

    void cells_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QVector<QRect>>("cells");
        QTest::newRow("bit 31") << status(1, 32, "80000000") << QVector<QRect>{QRect(620, 0, 20, 360)};
        QVector<QRect> all;
        for (int j = 0; j < 32; ++j)
            all << QRect(j * 20, 0, 20, 360);
        QTest::newRow("ffffffff") << status(1, 32, "ffffffff") << all;
        QTest::newRow("not a number") << status(1, 32, "fffffffff") << QVector<QRect>{};
        QTest::newRow("40 x 24, bit 41") << status(24, 40, "00000000,00000200," + words(28))
                                         << QVector<QRect>{QRect(16, 15, 16, 15)};
        QTest::newRow("last of 30 words")
            << status(24, 40, words(29) + ",80000000") << QVector<QRect>{QRect(624, 345, 16, 15)};
        QTest::newRow("3 rows, 2 columns")
            << status(3, 2, "3f")
            << QVector<QRect>{QRect(0, 0, 320, 120),     QRect(320, 0, 320, 120), QRect(0, 120, 320, 120),
                              QRect(320, 120, 320, 120), QRect(0, 240, 320, 120), QRect(320, 240, 320, 120)};
        // Word 511 is the last one read; word 512 lies past the grid's bits.
        QTest::newRow("600 words") << status(1, 600 * 32, words(511) + ",00000001," + words(88, "ffffffff"))
                                   << QVector<QRect>{QRect(545, 0, 0, 360)};
    }
    void cells()
    {
        QFETCH(QByteArray, document);
        QFETCH(QVector<QRect>, cells);
        m_fx->device().setSubjectSource("mdstatus", {});
        m_fx->device().setSubject("mdstatus", document);
        load();
        waitStatus(1);
        QTRY_COMPARE(m_page->motionCells(), cells);
    }

    void setupDialogs()
    {
        load();
        w<QPushButton>("pushButton_Schedule")->click();
        w<QPushButton>("pushButton_Actions")->click();
        auto *schedule = m_page->findChild<qwScheduleDialog *>();
        auto *actions = m_page->findChild<qwActionsDialog *>();
        QVERIFY(schedule && actions);
        QCOMPARE(schedule->windowModality(), Qt::WindowModal);
        QCOMPARE(actions->windowModality(), Qt::WindowModal);
        QVERIFY(m_fx->waitAnswered("GET", "alarm&type=2", 1));
        QCOMPARE(m_fx->requests("GET", "alarm&type=2").at(0).password, QStringLiteral("1234"));
    }

    // Off: nothing is drawn, and the mouse draws nothing.
    void detectionOff()
    {
        m_fx->device().setSubject("motion", "<response><motion><active>0</active></motion></response>");
        load();
        drag({{10, 10}, {50, 50}});
        QVERIFY(m_page->regions().at(0).isEmpty());
        w<QPushButton>("pushButton_Restore")->click();
        QCOMPARE(w<QSlider>("slider_Sensitivity")->value(), 6);
        QCOMPARE(w<QSlider>("slider_Threshold")->value(), 20);
        QCOMPARE(m_fx->count("POST", "motion"), 0);
    }

    // Read, changed, saved, read again: the device holds the new actions
    // and every other part of the document, including a schedule change
    // made on the device after the dialog had read it.
    void actionsSaved()
    {
        const QString key = "alarm&type=2";
        const QByteArray before = m_fx->device().subject(key);
        QPointer<qwActionsDialog> dialog = openActions();
        auto *save = dialog->findChild<QPushButton *>("pushButton_Save");
        QTRY_VERIFY(save->isEnabled());
        QCOMPARE(boxes(dialog), (QStringList{"record=1", "snapshot=0", "ftp=0", "sendemail=1", "alarmout=0",
                                             "notifyserver=1", "audioout=0"}));
        QVERIFY(!dialog->findChild<QLabel *>("label_NoActions")->isVisibleTo(dialog));
        dialog->findChild<QCheckBox *>("checkBox_ftp")->setChecked(true);
        dialog->findChild<QCheckBox *>("checkBox_record")->setChecked(false);
        const QByteArray meanwhile = QByteArray(before).replace("<active>2</active>", "<active>1</active>");
        m_fx->device().setSubject(key, meanwhile);
        save->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setsuccess"});
        QCOMPARE(m_fx->count("GET", key), 2);
        QCOMPARE(m_fx->count("POST", key), 1);
        QCOMPARE(printed(m_fx->device().subject(key)), printed(QByteArray(meanwhile)
                                                                   .replace("<record>1</record>", "<record>0</record>")
                                                                   .replace("<ftp>0</ftp>", "<ftp>1</ftp>")));

        dialog = openActions();
        QTRY_VERIFY(dialog->findChild<QPushButton *>("pushButton_Save")->isEnabled());
        QCOMPARE(boxes(dialog).mid(0, 3), (QStringList{"record=0", "snapshot=0", "ftp=1"}));
        delete dialog;
    }

    // A box is enabled only for an action the document holds as 0 or 1, and
    // only those go back, toggled here; a reply that is no whole document
    // enables nothing and sends nothing.
    void actionsOfTheDocument_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("saved"); // empty: Save stays off
        const QByteArray all = alarm({"1", "0", "0", "1", "0", "1", "0"});
        QByteArray big = all;
        big.insert(big.indexOf("<week>"), "<note>" + QByteArray(500 * 1024, 'x') + "</note>");
        const QByteArray oddWeek = "<week><day id=\"9\"><section><start>25:61</start><end>08:00</end></section>"
                                   "</day></week>";
        QTest::newRow("three of seven") << alarm({"0", "2", " 1 ", "", "", "", "1"}) << ""
                                        << "0 - 1 - - - 1" << alarm({"1", "2", "0", "", "", "", "0"});
        QTest::newRow("nested") << QByteArray("<alarm><linkage><sendemail>1</sendemail></linkage></alarm>") << ""
                                << "- - - 1 - - -"
                                << QByteArray("<alarm><linkage><sendemail>0</sendemail></linkage></alarm>");
        QTest::newRow("odd week kept") << alarm({"1", "0", "0", "1", "0", "1", "0"}, oddWeek) << ""
                                       << "1 0 0 1 0 1 0" << alarm({"0", "1", "1", "0", "1", "0", "1"}, oddWeek);
        QTest::newRow("none") << alarm({}) << ""
                              << "- - - - - - -" << QByteArray();
        QTest::newRow("404") << all << "404"
                             << "- - - - - - -" << QByteArray();
        QTest::newRow("500 with actions") << all << "500"
                                          << "- - - - - - -" << QByteArray();
        QTest::newRow("garbage answer") << all << "garbage"
                                        << "- - - - - - -" << QByteArray();
        QTest::newRow("silence") << all << "silent"
                                 << "- - - - - - -" << QByteArray();
        QTest::newRow("truncated") << all.left(all.size() - 20) << ""
                                   << "- - - - - - -" << QByteArray();
        QTest::newRow("500 KB") << big << ""
                                << "- - - - - - -" << QByteArray();
    }
    void actionsOfTheDocument()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, fault);
        QFETCH(QString, shown);
        QFETCH(QByteArray, saved);
        const QString key = "alarm&type=2";
        m_fx->device().setSubject(key, document);
        if (!fault.isEmpty())
            m_fx->device().addFault("get:" + key, faultNamed(fault, document));
        QPointer<qwActionsDialog> dialog = openActions();
        auto *save = dialog->findChild<QPushButton *>("pushButton_Save");
        QVERIFY(m_fx->waitAnswered("GET", key, 1));
        if (saved.isEmpty()) {
            QTest::qWait(300);
        } else {
            QTRY_VERIFY(save->isEnabled());
        }
        QStringList states;
        for (const QString &b : boxes(dialog))
            states << b.section('=', 1);
        QCOMPARE(states.join(' '), shown);
        QCOMPARE(dialog->findChild<QLabel *>("label_NoActions")->isVisibleTo(dialog),
                 QByteArray(QTest::currentDataTag()) == "none");
        if (saved.isEmpty()) {
            QVERIFY(!save->isEnabled());
            save->click();
            dialog->close(); // at once, also while the device keeps silent
            QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1500);
            QCOMPARE(m_fx->count("POST", key), 0);
            return;
        }
        for (QCheckBox *b : dialog->findChildren<QCheckBox *>()) {
            if (b->isEnabled())
                b->toggle();
        }
        save->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(printed(m_fx->device().subject(key)), printed(saved));
    }
};

QTEST_MAIN(MotionTest)
#include "tst_motion.moc"
