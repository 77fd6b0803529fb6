#include "platform/desktop/windowframe.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>

namespace platform {

WindowManagerFrame::WindowManagerFrame(QWidget *widget, QObject *parent) : QObject(parent), m_widget(widget)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // A connection of our own: its questions never wait behind Qt's events.
    int screen = 0;
    m_connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    m_root = it.data->root;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowManagerFrame::~WindowManagerFrame()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    xcb_disconnect(m_connection);
}

quint32 WindowManagerFrame::parentOf(quint32 window, bool *ok)
{
    xcb_generic_error_t *error = nullptr;
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), &error);
    std::free(error);
    *ok = tree != nullptr;
    const quint32 parent = tree ? tree->parent : 0;
    std::free(tree);
    return parent;
}

bool WindowManagerFrame::isHeld()
{
    if (!m_connection || !m_widget || !m_widget->isWindow() || !m_widget->internalWinId())
        return false;
    if (m_framed)
        return true;
    // Qt may not have handled the manager's reparenting yet; the server knows.
    const quint32 window = quint32(m_widget->internalWinId());
    bool ok = false;
    const quint32 parent = parentOf(window, &ok);
    if (!ok)
        return false;
    if (parent != m_root)
        return true;
    xcb_get_window_attributes_reply_t *attributes =
        xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
    const bool unmapped = attributes && attributes->map_state == XCB_MAP_STATE_UNMAPPED;
    std::free(attributes);
    if (!unmapped || !m_widget->isVisible())
        return false;
    // Shown for Qt, not mapped for the server: a manager has the map request.
    // Whether one that frames windows runs, the page's own window says.
    const QWidget *owner = m_widget->parentWidget() ? m_widget->parentWidget()->window() : nullptr;
    if (!owner || !owner->internalWinId())
        return false;
    const quint32 ownerParent = parentOf(quint32(owner->internalWinId()), &ok);
    return ok && ownerParent != m_root;
}

bool WindowManagerFrame::nativeEventFilter(const QByteArray &eventType, void *message, long *result)
{
    Q_UNUSED(result)
    if (eventType != "xcb_generic_event_t" || !m_widget || !m_widget->internalWinId())
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_REPARENT_NOTIFY)
        return false;
    const auto *reparent = static_cast<const xcb_reparent_notify_event_t *>(message);
    if (reparent->window != m_widget->internalWinId())
        return false;
    // Qt itself moves the window only between the desktop and the widget's
    // parent, and into the parent only once it is no window any more.
    const bool framed = m_widget->isWindow() && reparent->parent != m_root;
    const bool wasFramed = m_framed;
    m_framed = framed;
    if (wasFramed && !framed)
        emit released();
    return false;
}

} // namespace platform
