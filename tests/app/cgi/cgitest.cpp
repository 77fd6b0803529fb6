#include "cgitest.h"

#include <QCoreApplication>
#include <QtTest>

Recorder::Recorder(CGIUtil *util) : m_id(util->id())
{
    const auto count = [this] { ++emitted; };
    connect(util, &CGIUtil::sigHeaderCompleted, this, count, Qt::DirectConnection);
    connect(util, &CGIUtil::sigDataCompleted, this, count, Qt::DirectConnection);
    connect(util, &CGIUtil::sigProcessProgress, this, count, Qt::DirectConnection);
    connect(
        util, &CGIUtil::sigHeaderCompleted, this,
        [this](int id, int code) {
            wrongId |= id != m_id;
            events << QStringLiteral("h:%1").arg(code);
        },
        Qt::QueuedConnection);
    connect(
        util, &CGIUtil::sigDataCompleted, this,
        [this](int id) {
            wrongId |= id != m_id;
            events << QStringLiteral("d");
        },
        Qt::QueuedConnection);
    connect(
        util, &CGIUtil::sigProcessProgress, this,
        [this](int id, int now, int total) {
            wrongId |= id != m_id || total != 100;
            percents << now;
        },
        Qt::QueuedConnection);
}

bool runToEnd(CGIUtil &util, int timeoutMs)
{
    util.start();
    const bool ended = util.wait(timeoutMs);
    QCoreApplication::sendPostedEvents();
    return ended;
}

QString DeviceTest::url(const QString &pathAndQuery) const
{
    return m_dev->baseUrl() + pathAndQuery;
}

void DeviceTest::init()
{
    CGIUtil::setLowSpeedTime(CGIUtil::kDefaultLowSpeedTimeSec);
    m_dev = std::make_unique<devicesim::Device>();
    m_dev->setCredentials(QStringLiteral("admin"), QStringLiteral("1234"));
    m_dev->loadSubjects(QStringLiteral(DEVICESIM_SUBJECTS_DIR));
    QVERIFY(m_dev->start());
}

void DeviceTest::cleanup()
{
    m_dev.reset();
}
