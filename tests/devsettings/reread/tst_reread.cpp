// A page read again: a later read that fails keeps what a good one showed
// and sends nothing, a good read after a failed one shows what a first good
// read shows, and a read that stalls sends nothing until it has ended.

#include "readfailsuite.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QEvent>
#include <QSlider>

using namespace devsetfixture;
using namespace readfail;

namespace {

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

} // namespace

class tst_Reread : public ReadFailSuite
{
    Q_OBJECT

private slots:
    void laterFailureKeepsWhatWasShown_data();
    void laterFailureKeepsWhatWasShown();
    void rereadShowsAsFirstRead_data();
    void rereadShowsAsFirstRead();
    void stalledRereadSendsNothing_data();
    void stalledRereadSendsNothing();
};

void tst_Reread::laterFailureKeepsWhatWasShown_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("500") << "500";
    QTest::newRow("unclosed") << "unclosed";
}

void tst_Reread::laterFailureKeepsWhatWasShown()
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

void tst_Reread::rereadShowsAsFirstRead_data()
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
void tst_Reread::rereadShowsAsFirstRead()
{
    QFETCH(QString, subject);
    QFETCH(QString, mode);
    const Subject &s = *subjectNamed(subject);
    // A scan answered after the settings, as a loaded machine may have it.
    m_fx->device().addFault("get:wifiscan", Fault::delay(300), 1);
    read(s);
    new PaintedBoxes(m_widget);
    m_widget->show();
    QTRY_VERIFY_WITH_TIMEOUT(state() && state()->isRead(), 20000);
    QTRY_VERIFY(pageLook(m_widget).filter(" drawn otherwise").isEmpty());
    // The wifi page lists the networks and names the one it is on from two
    // requests it sends once its settings are read, outside the read round:
    // the look to compare is the one that holds both.
    if (auto *networks = m_widget->findChild<QAbstractItemView *>(QStringLiteral("tableView_Networks"))) {
        auto *essid = m_widget->findChild<QLabel *>(QStringLiteral("label_Essid"));
        QVERIFY(essid);
        QTRY_VERIFY_WITH_TIMEOUT(networks->model()->rowCount() > 0 && essid->text() == "Office", 20000);
    }
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

void tst_Reread::stalledRereadSendsNothing_data()
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
void tst_Reread::stalledRereadSendsNothing()
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

QTEST_MAIN(tst_Reread)
#include "tst_reread.moc"
