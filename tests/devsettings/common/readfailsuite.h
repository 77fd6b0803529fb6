#pragma once

// What the suites of the settings pages' failed reads share (a first read
// that fails, a page read again): every page and dialog that reads before it
// writes, a fresh loopback device per row, the faults a read can meet, and
// the sets a page sent. A suite derives from ReadFailSuite and lists this
// header among its sources, for its slots.

#include "devsetfixture.h"

#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwactionsdialog.h"
#include "devsettings/qwdevicesettings.h"
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
#include <QCheckBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTableView>
#include <QtTest>

#include <functional>
#include <memory>

namespace readfail {

using namespace devsetfixture;

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

inline void chooseSecondUser(QWidget *w)
{
    auto *table = w->findChild<QTableView *>();
    QVERIFY(table && table->model()->rowCount() > 1);
    table->setCurrentIndex(table->model()->index(1, 0));
}

inline const QList<Subject> &subjects()
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

// What a field shows; empty when it shows nothing.
inline QString shownValue(const QWidget *w)
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

inline const Subject *subjectNamed(const QString &name)
{
    for (const Subject &s : subjects()) {
        if (name == QLatin1String(s.name))
            return &s;
    }
    return nullptr;
}

inline QByteArray withoutClosingRoot(const QByteArray &doc)
{
    const QByteArray trimmed = doc.trimmed();
    return trimmed.left(trimmed.lastIndexOf("</"));
}

} // namespace readfail

// Out of any namespace: Q_INIT_RESOURCE declares its function where it
// stands.
class ReadFailSuite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        qwDeviceSettings::setSlideDuration(0);
    }
    void init()
    {
        // A silent device is waited out in a second, not in the page's own
        // time, unless a case says otherwise.
        devset::setReadTimeoutCapForTests(1);
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_port = m_fx->device().port();
    }
    void cleanup()
    {
        delete m_widget;
        m_fx.reset();
    }

protected:
    using Fault = devsetfixture::Fault;
    using Fixture = devsetfixture::Fixture;
    using LoggedRequest = devsetfixture::LoggedRequest;
    using Subject = readfail::Subject;

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
        return state() &&
               QTest::qWaitFor([this] { return devsetfixture::tipShown(m_widget) && !state()->isReading(); }, 20000);
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
                f = Fault::status(200, readfail::withoutClosingRoot(doc));
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

    std::unique_ptr<Fixture> m_fx;
    QPointer<QWidget> m_widget;
    quint16 m_port = 0;
};
