#pragma once

// What every settings window suite needs: a run folder with the language
// table and a loopback device with the shipped documents, whose login the
// pages are given.

#include "app/core/qclanguagexml.h"
#include "app/widgets/qwtipsdlgex.h"
#include "tests/devicesim/device.h"
#include "tests/devicesim/motionstatus.h"
#include "tests/support/appglobals.h"
#include "tests/support/runfolder.h"
#include "tests/support/popups.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QtTest>

#include <memory>

namespace devsetfixture {

using devicesim::Fault;
using devicesim::LoggedRequest;
using testsupport::popupKeys;

class Fixture
{
public:
    Fixture() : m_globals(false)
    {
        m_device = std::make_unique<devicesim::Device>();
        m_device->setCredentials("admin", "1234");
        m_device->setSubjectSource("mdstatus", devicesim::motionStatusSource());
        m_ok = m_folder.isValid() && m_globals.isValid() &&
               m_device->loadSubjects(QStringLiteral(DEVICESIM_SUBJECTS_DIR)) && m_device->start();
    }
    ~Fixture()
    {
        // Replaced requests go by deleteLater.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    bool isValid() const { return m_ok; }
    devicesim::Device &device() { return *m_device; }
    QString port() const { return QString::number(m_device->port()); }
    const testsupport::RunFolder &folder() const { return m_folder; }

    template <class P>
    void login(P &page, const QString &user = "admin", const QString &password = "1234")
    {
        page.setDeviceInfo("127.0.0.1", port(), user, password);
    }

    // Requests of that method ("GET", "POST") and subject key so far.
    QList<LoggedRequest> requests(const QByteArray &method, const QString &key) const
    {
        QList<LoggedRequest> found;
        const QList<LoggedRequest> log = m_device->requests();
        for (const LoggedRequest &r : log) {
            if (r.method == method && r.key == key)
                found << r;
        }
        return found;
    }
    int count(const QByteArray &method, const QString &key) const { return requests(method, key).size(); }
    // Waits, handling events meanwhile, until that many requests of the
    // kind have been answered.
    bool waitAnswered(const QByteArray &method, const QString &key, int n, int ms = 5000) const
    {
        return QTest::qWaitFor(
            [&] {
                int done = 0;
                for (const LoggedRequest &r : m_device->requests())
                    done += r.method == method && r.key == key && r.answered;
                return done >= n;
            },
            ms);
    }

private:
    testsupport::RunFolder m_folder;
    testsupport::AppGlobals m_globals;
    std::unique_ptr<devicesim::Device> m_device;
    bool m_ok = false;
};

// Counts the queued calls a widget receives: every reply and result of its
// requests arrives as one, so a test can wait until they have been handled.
class Deliveries : public QObject
{
public:
    explicit Deliveries(QObject *watched) { watched->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::MetaCall;
        return false;
    }
};

// A device's wrong answer by name: "silent", "garbage" or a status code
// sent with body.
inline Fault faultNamed(const QString &name, const QByteArray &body)
{
    return name == "silent"    ? Fault::silent()
           : name == "garbage" ? Fault::garbage()
                               : Fault::status(name.toInt(), body);
}

inline QString langText(int page, int section, const char *key)
{
    return g_langXml->getLangText(page, section, QLatin1String(key));
}

// Whether a tip is shown below widget (read them with popupKeys, which also
// deletes them, so never inside QTRY_*).
inline bool tipShown(QWidget *widget)
{
    return !widget->findChildren<qwTipsdlgEx *>().isEmpty();
}

template <class T>
T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

inline QStringList itemTexts(const QComboBox *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

// A fresh device and page for every case, the page logged in; a suite
// derives from it and calls open() in init() and close() in cleanup().
template <class P>
class PageCase
{
protected:
    std::unique_ptr<Fixture> m_fx;
    std::unique_ptr<P> m_page;

    bool open()
    {
        m_fx = std::make_unique<Fixture>();
        if (!m_fx->isValid())
            return false;
        m_page = std::make_unique<P>(nullptr);
        m_fx->login(*m_page);
        return true;
    }
    void close()
    {
        m_page.reset();
        m_fx.reset();
    }
    template <class T = QComboBox>
    T *w(const char *name)
    {
        return child<T>(m_page.get(), name);
    }
    QStringList texts(const char *name) { return itemTexts(w(name)); }
};

} // namespace devsetfixture
