#include <QtTest>

#include "app/core/generalthread.h"

namespace {

struct Seen
{
    void *context = nullptr;
    int interval = -1;
    QList<_st_general_item *> *list = nullptr;
    void *user = nullptr;
    QThread *thread = nullptr;
};

void record(void *context, int interval, QList<_st_general_item *> *list, void *user)
{
    auto *seen = static_cast<Seen *>(user);
    seen->context = context;
    seen->interval = interval;
    seen->list = list;
    seen->thread = QThread::currentThread();
}

void fillList(void *, int interval, QList<_st_general_item *> *list, void *)
{
    for (int i = 0; i < interval; ++i) {
        auto *item = new _st_general_item;
        item->fields[0] = QString::number(i);
        item->fields[6] = QStringLiteral("a text long enough to live on the heap, not in a short buffer");
        list->append(item);
    }
}

} // namespace

class TestGeneralThread : public QObject
{
    Q_OBJECT
private slots:
    void runWithoutFunctionFinishesAtOnce()
    {
        GeneralThread t;
        QVERIFY(!t.setFunction(nullptr));
        t.start();
        QVERIFY(t.wait(5000));
    }

    void functionGetsItsArguments()
    {
        Seen seen;
        Seen other;
        int context = 0;
        GeneralThread t;
        QVERIFY(t.setFunction(record));
        QVERIFY(t.setInterval(1000));
        QVERIFY(!t.setInterval(0)); // refused: the old one stays
        QVERIFY(!t.setInterval(-5));
        QVERIFY(t.setContext(&context, &other));
        // A null context keeps the stored one; a null user pointer is refused.
        QVERIFY(t.setContext(nullptr, &seen));
        QVERIFY(!t.setContext(nullptr, nullptr));
        t.start();
        QVERIFY(t.wait(5000));
        QCOMPARE(seen.context, static_cast<void *>(&context));
        QCOMPARE(seen.interval, 1000);
        QVERIFY(seen.list != nullptr);
        QCOMPARE(seen.thread, static_cast<QThread *>(&t));
        QCOMPARE(other.interval, -1);
    }

    void recordsAreFreedWithTheThread()
    {
        // LeakSanitizer fails the run if the destructor leaves them.
        GeneralThread t;
        QVERIFY(t.setFunction(fillList));
        QVERIFY(t.setInterval(50));
        t.start();
        QVERIFY(t.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestGeneralThread)
#include "tst_generalthread.moc"
