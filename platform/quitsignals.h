#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// The signals by which a desktop session (log-out, shutdown: SIGTERM) or a
// terminal (SIGINT, SIGHUP) asks the process to end, handed to the event
// loop of the thread that creates this object as quitRequested(), so that
// the program closes the way it does when its window is closed. The handler
// only writes the signal's number into a pipe the loop watches. A second
// such signal ends the process at once, by that signal, in case the orderly
// close hangs. A signal the process was started with ignored (nohup, a
// start script) is left ignored: whoever started it meant it to outlive
// its terminal.
//
// The handlers are process-wide: one object at a time. The fault signals
// belong to installCrashHandler() and are not touched here.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    // Gives the signals back the action each had before.
    ~QuitSignals() override;

    // False when the pipe or a handler could not be set up, or another
    // object holds the handlers; the signals then keep the action they had.
    bool isValid() const { return m_notifier != nullptr; }

    // The first of the signals that arrived, 0 until one did.
    static int received();

signals:
    void quitRequested(int signalNumber);

private:
    void onReadable();
    void release();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace platform
