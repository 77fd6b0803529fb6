// Every page and dialog that reads before it writes, against every way a read
// can fail: the failure is said, nothing can be sent, nothing the page did
// not read is shown, and once a read succeeds a save sends the device's own
// values back unchanged.

#include "devsetfixture.h"

#include "app/widgets/basewindow.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwdevicesettings.h"
#include "devsettings/qwactionsdialog.h"
#include "devsettings/qwdevsetaudio.h"
#include "devsettings/qwdevsetimage.h"
#include "devsettings/qwdevsetimageex.h"
#include "devsettings/qwdevsetmotion.h"
#include "devsettings/qwdevsetosd.h"
#include "devsettings/qwdevsetschedule.h"
#include "devsettings/qwdevsetstorage.h"
#include "devsettings/qwdevsetusers.h"
#include "devsettings/qwdevsetvideo.h"
#include "devsettings/qwdevsetwifi.h"
#include "devsettings/qwscheduledialog.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QHostAddress>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QXmlStreamReader>

#include <functional>

using namespace devsetfixture;

namespace {

struct Subject
{
    const char *name;
    int pageId; // 0: a dialog, read when shown
    std::function<QWidget *(const QString &port)> make;
    QStringList readKeys;
    const char *sender;                               // the control that sends what was read
    int sets;                                         // the set requests one send makes
    std::function<void(QWidget *)> prepare = nullptr; // before a send
};

template <class P>
std::function<QWidget *(const QString &)> logged(std::function<P *()> make)
{
    return [make](const QString &port) {
        P *w = make();
        w->setDeviceInfo("127.0.0.1", port, "admin", "1234");
        return static_cast<QWidget *>(w);
    };
}

template <class P>
std::function<QWidget *(const QString &)> page()
{
    return logged<P>([] { return new P(nullptr); });
}

void chooseSecondUser(QWidget *w)
{
    auto *table = w->findChild<QTableView *>();
    QVERIFY(table && table->model()->rowCount() > 1);
    table->setCurrentIndex(table->model()->index(1, 0));
}

const QList<Subject> &subjects()
{
    static const QList<Subject> all{
        {"wifi", DEVSET_WIFI, page<qwDevsetWifi>(), {"devability", "network&adapter=1"}, "pushButton_Save", 1},
        {"storage", DEVSET_STORAGE, page<qwDevsetStorage>(), {"diskinfo&id=0"}, "pushButton_Format", 1},
        {"schedule",
         DEVSET_SCHEDULE,
         page<qwDevsetSchedule>(),
         {"schetask&type=0", "schetask&type=1", "schetask&type=2", "record", "snap"},
         "pushButton_Save",
         2},
        {"users", DEVSET_USERS, page<qwDevsetUsers>(), {"user"}, "pushButton_Delete", 1, chooseSecondUser},
        {"video",
         DEVSET_VIDEO,
         page<qwDevsetVideo>(),
         {"videoenc&stream=0", "videoenc&stream=1"},
         "pushButton_Save",
         2},
        {"audio",
         DEVSET_AUDIO,
         page<qwDevsetAudio>(),
         {"devability", "audioencability", "audiovolume"},
         "pushButton_Save",
         2},
        {"image", DEVSET_IMAGE, page<qwDevsetImage>(), {"videoimage"}, "pushButton_Reset", 1},
        {"imageex", DEVSET_IMAGE, page<qwDevsetImageEx>(), {"cameraimage"}, "pushButton_Save", 1},
        {"osd", DEVSET_OSD, page<qwDevsetOsd>(), {"osd"}, "pushButton_Save", 1},
        {"motion", DEVSET_MOTION, page<qwDevsetMotion>(), {"motion"}, "pushButton_Save", 1},
        {"scheduledialog",
         0,
         logged<qwScheduleDialog>([] { return new qwScheduleDialog(nullptr, SCHEDULE_RECORD); }),
         {"schetask&type=1"},
         "pushButton_Save",
         1},
        {"actionsdialog",
         0,
         logged<qwActionsDialog>([] { return new qwActionsDialog(nullptr); }),
         {"alarm&type=2"},
         "pushButton_Save",
         1},
    };
    return all;
}

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

// What a field shows; empty when it shows nothing.
QString shownValue(const QWidget *w)
{
    if (auto *list = qobject_cast<const QComboBox *>(w))
        return list->currentIndex() < 0 ? QString()
                                        : QStringLiteral("#%1 %2").arg(list->currentIndex()).arg(list->currentText());
    if (auto *edit = qobject_cast<const QLineEdit *>(w))
        return edit->text();
    if (auto *box = qobject_cast<const QCheckBox *>(w))
        return box->checkState() == Qt::PartiallyChecked ? QString() : box->isChecked() ? "checked" : "unchecked";
    if (auto *view = qobject_cast<const QAbstractItemView *>(w))
        return view->model()->rowCount() ? QStringLiteral("%1 rows").arg(view->model()->rowCount()) : QString();
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->pixmap(Qt::ReturnByValue).isNull() ? label->text() : QStringLiteral("picture");
    return QStringLiteral("?");
}

// Keeps, on each check box of a page, the state it was last painted in: a
// box whose state changed without a repaint still shows the old one on the
// screen, whatever checkState() says.
class PaintedBoxes : public QObject
{
public:
    explicit PaintedBoxes(QWidget *page) : QObject(page)
    {
        for (QCheckBox *box : page->findChildren<QCheckBox *>())
            box->installEventFilter(this);
    }
    static const char *key() { return "paintedState"; }

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            o->setProperty(key(), int(static_cast<QCheckBox *>(o)->checkState()));
        return false;
    }
};

// Everything a page shows, widget by widget: what each field holds and
// whether it can be used.
QStringList pageLook(QWidget *page)
{
    QStringList out;
    for (QWidget *w : page->findChildren<QWidget *>()) {
        // Scroll bars come and go with the window's size, not the read.
        bool plumbing = false;
        for (QWidget *p = w; p != page; p = p->parentWidget())
            plumbing = plumbing || p->objectName().startsWith("qt_");
        if (plumbing || !w->isVisibleTo(page))
            continue;
        QString value;
        if (auto *box = qobject_cast<QCheckBox *>(w)) {
            const QVariant painted = box->property(PaintedBoxes::key());
            value = QString::number(box->checkState()) +
                    (painted.isValid() && painted.toInt() != box->checkState() ? " drawn otherwise" : "");
        } else if (auto *button = qobject_cast<QAbstractButton *>(w))
            value = button->isChecked() ? "on" : "off";
        else if (auto *slider = qobject_cast<QAbstractSlider *>(w))
            value = QString::number(slider->value());
        else if (auto *spin = qobject_cast<QAbstractSpinBox *>(w))
            value = spin->text();
        else if (auto *view = qobject_cast<QAbstractItemView *>(w)) {
            const QAbstractItemModel *m = view->model();
            for (int r = 0; m && r < m->rowCount(); ++r) {
                for (int c = 0; c < m->columnCount(); ++c)
                    value +=
                        m->index(r, c).data().toString() + "|" + m->index(r, c).data(Qt::UserRole).toString() + ";";
            }
        } else if (qobject_cast<QComboBox *>(w) || qobject_cast<QLineEdit *>(w) || qobject_cast<QLabel *>(w))
            value = shownValue(w);
        out << QStringLiteral("%1 %2 %3").arg(w->objectName(), w->isEnabledTo(page) ? "on" : "off", value);
    }
    return out;
}

const Subject *subjectNamed(const QString &name)
{
    for (const Subject &s : subjects()) {
        if (name == QLatin1String(s.name))
            return &s;
    }
    return nullptr;
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

QByteArray withoutClosingRoot(const QByteArray &doc)
{
    const QByteArray trimmed = doc.trimmed();
    return trimmed.left(trimmed.lastIndexOf("</"));
}

} // namespace

class tst_ReadFail : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        qwDeviceSettings::setSlideDuration(0);
        // A silent device is waited out in a second, not in the page's own time.
        devset::setReadTimeoutCapForTests(1);
    }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_port = m_fx->device().port();
    }
    void cleanup()
    {
        delete m_widget;
        m_fx.reset();
    }

    void failedReadSendsNothing_data();
    void failedReadSendsNothing();
    void failedReadShowsNothing_data();
    void failedReadShowsNothing();
    void laterFailureKeepsWhatWasShown_data();
    void laterFailureKeepsWhatWasShown();
    void rereadShowsAsFirstRead_data();
    void rereadShowsAsFirstRead();
    void stalledRereadSendsNothing_data();
    void stalledRereadSendsNothing();
    void replyJudgement_data();
    void replyJudgement();
    void outageThenRefresh();

private:
    // Reads the subject again: the page selected once more (its refresh
    // button where it has one), a dialog opened anew.
    void read(const Subject &s)
    {
        if (s.pageId == 0 || !m_widget) {
            delete m_widget;
            m_widget = s.make(QString::number(m_port));
        }
        if (s.pageId == 0) {
            m_widget->show();
            return;
        }
        auto *refresh = m_widget->findChild<QAbstractButton *>(QStringLiteral("pushButton_Refresh"));
        if (refresh && refresh->isEnabled())
            refresh->click();
        else
            QMetaObject::invokeMethod(m_widget, "OnInitParameters", Q_ARG(int, s.pageId));
    }
    // Reads the subject with the fault of that mode: true once the failure
    // was said and no read is left.
    bool readAgainstFault(const Subject &s, const QString &mode)
    {
        injectFault(s, mode);
        read(s);
        return state() && QTest::qWaitFor([this] { return tipShown(m_widget) && !state()->isReading(); }, 20000);
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
    bool noteShown() const
    {
        auto *note = m_widget->findChild<QLabel *>(QStringLiteral("label_readFailed"));
        return note && note->isVisibleTo(m_widget);
    }
    DevsetReadState *state() const
    {
        return m_widget ? m_widget->findChild<DevsetReadState *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    }
    QWidget *sender(const Subject &s) const { return m_widget->findChild<QWidget *>(QLatin1String(s.sender)); }
    int countPosts() const
    {
        int n = 0;
        for (const LoggedRequest &r : m_fx->device().requests())
            n += r.method == "POST";
        return n;
    }
    // Closes the page and checks the sets it sent: a page closed lets every
    // set it started reach the device, so none can still be on its way.
    void closeAndCountSets(int sets)
    {
        delete m_widget;
        QCOMPARE(countPosts(), sets);
    }
    // Clicks the sender as if it were enabled, and its containers with it.
    void force(const Subject &s)
    {
        QWidget *w = sender(s);
        for (QWidget *p = w; p && p != m_widget; p = p->parentWidget())
            p->setEnabled(true);
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            button->click();
    }
    void injectFault(const Subject &s, const QString &mode)
    {
        devicesim::Device &d = m_fx->device();
        if (mode == "noconnection") {
            d.stop();
            return;
        }
        if (mode == "last500") {
            d.addFault("get:" + s.readKeys.last(), Fault::status(500, d.subject(s.readKeys.last())));
            return;
        }
        for (const QString &key : s.readKeys) {
            const QByteArray doc = d.subject(key);
            Fault f;
            if (mode == "404")
                f = Fault::status(404, "<html><body>Not Found</body></html>");
            else if (mode == "500")
                f = Fault::status(500, doc); // tidy, with the page's element
            else if (mode == "cut")
                f = Fault::cut();
            else if (mode == "garbage")
                f = Fault::status(200, QByteArray("\x01\xfe<<not xml>>\x00 at all", 20));
            else if (mode == "unclosed")
                f = Fault::status(200, withoutClosingRoot(doc));
            else
                f = Fault::silent();
            d.addFault("get:" + key, f);
        }
    }
    void repair(const QString &mode)
    {
        m_fx->device().clearFaults();
        if (mode == "noconnection")
            QVERIFY(m_fx->device().start(QHostAddress(QHostAddress::LocalHost), m_port));
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

    std::unique_ptr<Fixture> m_fx;
    QPointer<QWidget> m_widget;
    quint16 m_port = 0;
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

void tst_ReadFail::laterFailureKeepsWhatWasShown_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("500") << "500";
    QTest::newRow("unclosed") << "unclosed";
}

void tst_ReadFail::laterFailureKeepsWhatWasShown()
{
    QFETCH(QString, mode);
    const Subject &s = *subjectNamed("motion");
    read(s);
    QTRY_VERIFY_WITH_TIMEOUT(state() && state()->isRead(), 20000);
    auto *threshold = m_widget->findChild<QSlider *>(QStringLiteral("slider_Threshold"));
    QVERIFY(threshold);
    QCOMPARE(threshold->value(), 20);
    QVERIFY(sender(s)->isEnabled());

    // What the failing reply holds must never show.
    QByteArray other = m_fx->device().subject("motion");
    other.replace("<threshold>20</threshold>", "<threshold>77</threshold>");
    m_fx->device().addFault("get:motion",
                            mode == "500" ? Fault::status(500, other) : Fault::status(200, withoutClosingRoot(other)));
    read(s);
    QTRY_VERIFY_WITH_TIMEOUT(tipShown(m_widget) && !state()->isReading(), 20000);
    QVERIFY(popupKeys(m_widget).contains("tip_readfailed"));
    QCOMPARE(threshold->value(), 20);
    QVERIFY(noteShown());
    QVERIFY(!sender(s)->isEnabled());
    force(s);
    closeAndCountSets(0);
}

void tst_ReadFail::rereadShowsAsFirstRead_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("mode");
    // The pages with check boxes.
    for (const char *name : {"wifi", "audio", "osd", "motion"}) {
        for (const char *mode : {"500", "cut"})
            QTest::addRow("%s/%s", name, mode) << QString::fromLatin1(name) << QString::fromLatin1(mode);
    }
}

// A page whose first read failed and whose next read was good shows exactly
// what a page shows whose first read was good: every box the device holds
// on checked.
void tst_ReadFail::rereadShowsAsFirstRead()
{
    QFETCH(QString, subject);
    QFETCH(QString, mode);
    const Subject &s = *subjectNamed(subject);
    read(s);
    new PaintedBoxes(m_widget);
    m_widget->show();
    QTRY_VERIFY_WITH_TIMEOUT(state() && state()->isRead(), 20000);
    QTRY_VERIFY(pageLook(m_widget).filter(" drawn otherwise").isEmpty());
    const QStringList good = pageLook(m_widget);
    delete m_widget;

    QVERIFY(readAgainstFault(s, mode));
    new PaintedBoxes(m_widget);
    m_widget->show();
    popupKeys(m_widget);
    repair(mode);
    auto *again = m_widget->findChild<QAbstractButton *>(QStringLiteral("pushButton_Restore"));
    if (!again)
        again = m_widget->findChild<QAbstractButton *>(QStringLiteral("pushButton_Refresh"));
    if (again)
        again->click();
    else
        read(s);
    QTRY_VERIFY_WITH_TIMEOUT(state()->isRead(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(pageLook(m_widget), good, 20000);
}

void tst_ReadFail::stalledRereadSendsNothing_data()
{
    QTest::addColumn<QString>("subject");
    for (const Subject &s : subjects()) {
        if (s.pageId != 0)
            QTest::newRow(s.name) << QString::fromLatin1(s.name);
    }
}

// A page read well and then selected again while the device stalls: until
// the new read ends, what the page shows may be old, so nothing is sent, not
// even by a forced click; a good read lets it send again.
void tst_ReadFail::stalledRereadSendsNothing()
{
    QFETCH(QString, subject);
    const Subject &s = *subjectNamed(subject);
    read(s);
    QTRY_VERIFY_WITH_TIMEOUT(state() && state()->isRead(), 20000);
    if (s.prepare)
        s.prepare(m_widget);
    QVERIFY(sender(s)->isEnabled());

    m_fx->device().addFault("get:" + s.readKeys.last(), Fault::stall());
    read(s);
    QVERIFY(state()->isReading());
    QVERIFY(!sender(s)->isEnabled());
    force(s);
    QTRY_VERIFY_WITH_TIMEOUT(!state()->isReading(), 20000);
    QVERIFY(popupKeys(m_widget).contains("tip_readfailed"));
    QVERIFY(!sender(s)->isEnabled());
    QCOMPARE(countPosts(), 0);

    m_fx->device().clearFaults();
    read(s);
    QTRY_VERIFY_WITH_TIMEOUT(state()->isRead(), 20000);
    if (s.prepare)
        s.prepare(m_widget);
    QVERIFY(sender(s)->isEnabled());
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

QTEST_MAIN(tst_ReadFail)
#include "tst_readfail.moc"
