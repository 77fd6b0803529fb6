#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>

class QWidget;
struct xcb_connection_t;

namespace platform {

// Follows whether an X11 window manager holds a top-level widget's native
// window in a frame of its own. A manager lets go of a hidden window only
// when it comes round to it; a window put into another one before that is
// taken back by the manager to the desktop, where it later shows as a window
// of its own. Does nothing on other platforms: the widget is never held
// there.
class WindowManagerFrame : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit WindowManagerFrame(QWidget *widget, QObject *parent = nullptr);
    ~WindowManagerFrame() override;

    // Whether a manager holds the shown widget or is about to: framed as
    // the X server has it now or as the events Qt handled say, or not yet
    // mapped while a reparenting manager runs (the manager still has to
    // answer the map request).
    bool isHeld();

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

signals:
    // Qt handled the manager's taking the window out of its frame, and with
    // it every event the manager sent about the window before.
    void released();

private:
    quint32 parentOf(quint32 window, bool *ok);

    QPointer<QWidget> m_widget;
    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    bool m_framed = false;
};

} // namespace platform
