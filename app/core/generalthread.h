#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include <array>

// A record the thread function may add to the thread's list; the thread
// owns and frees the records.
struct _st_general_item
{
    std::array<QString, 7> fields;
};

typedef void (*GeneralThreadFunc)(void *context, int interval, QList<_st_general_item *> *list, void *user);

// Runs one plain function on a thread of its own. The function decides how
// long it runs; the owner makes it return (a flag it polls) and waits for
// the thread before deleting it.
class GeneralThread : public QThread
{
    Q_OBJECT
public:
    GeneralThread();
    ~GeneralThread() override;

    bool setFunction(GeneralThreadFunc func);
    // Refuses a value below 1; the function then sees the old interval.
    bool setInterval(int interval);
    // A null context keeps the stored one; a null user pointer is refused.
    bool setContext(void *context, void *user);

protected:
    void run() override;

private:
    QList<_st_general_item *> m_list;
    void *m_context = nullptr;
    GeneralThreadFunc m_func = nullptr;
    int m_interval = 0;
    void *m_user = nullptr;
};
