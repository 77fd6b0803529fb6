// Back end for Qt platforms other than X11 (offscreen tests, Wayland without
// XWayland): the drawing thread leaves the finished image with the widget
// and the GUI thread paints it. Only here does drawing go through the GUI
// thread.

#include "platform/d3d9/d3d9_p.h"

#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <mutex>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace platform::d3d9 {

namespace {

struct SharedState
{
    std::mutex mutex;
    QImage latest;
    QSize size;
    std::atomic<bool> alive{true};
};

// Lives on the GUI thread, filtering the widget's events.
class PaintFilter : public QObject
{
public:
    PaintFilter(QWidget *widget, std::shared_ptr<SharedState> state) : m_widget(widget), m_state(std::move(state))
    {
        widget->installEventFilter(this);
        connect(widget, &QObject::destroyed, this, [s = m_state] { s->alive = false; });
    }

    void requestUpdate()
    {
        if (m_widget)
            m_widget->update();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_widget)
            return false;
        if (event->type() == QEvent::Resize) {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->size = m_widget->size();
        } else if (event->type() == QEvent::Paint) {
            QImage image;
            {
                std::lock_guard<std::mutex> lock(m_state->mutex);
                image = m_state->latest;
            }
            QPainter p(m_widget);
            if (image.isNull())
                p.fillRect(m_widget->rect(), Qt::black);
            else
                p.drawImage(0, 0, image);
            return true;
        }
        return false;
    }

private:
    QPointer<QWidget> m_widget;
    std::shared_ptr<SharedState> m_state;
};

class QtTarget : public WindowTarget
{
public:
    QtTarget(HWND window, QWidget *widget) : m_window(window), m_state(std::make_shared<SharedState>())
    {
        m_state->size = widget->size();
        m_filter = new PaintFilter(widget, m_state);
    }

    ~QtTarget() override
    {
        // The filter belongs to the GUI thread; it goes there.
        m_filter->deleteLater();
    }

    bool isWindow() override { return m_state->alive.load(); }

    bool clientSize(int *width, int *height) override
    {
        if (!m_state->alive.load())
            return false;
        std::lock_guard<std::mutex> lock(m_state->mutex);
        *width = m_state->size.width();
        *height = m_state->size.height();
        return true;
    }

    bool present(const QImage &backBuffer, const RECT *source, const RECT *dest) override
    {
        return draw([&](QImage &image) {
            return composeBackBuffer(backBuffer, source, dest, image.bits(), int(image.bytesPerLine()), image.width(),
                                     image.height(), AV_PIX_FMT_BGRA);
        });
    }

    bool presentFused(const FusedPicture &picture) override
    {
        return draw([&](QImage &image) {
            return composeFused(m_scaler, picture, image.bits(), int(image.bytesPerLine()), image.width(),
                                image.height(), AV_PIX_FMT_BGRA);
        });
    }

private:
    // Fills a new image of the client size and leaves it with the widget.
    template <typename Fill>
    bool draw(Fill fill)
    {
        int w = 0, h = 0;
        if (!clientSize(&w, &h) || w < 1 || h < 1)
            return false;
        QImage image(w, h, QImage::Format_RGB32);
        if (image.isNull() || !fill(image))
            return false;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->latest = image;
        }
        PaintFilter *filter = m_filter;
        QMetaObject::invokeMethod(
            filter, [filter] { filter->requestUpdate(); }, Qt::QueuedConnection);
        callPresentHook(m_window,
                        PresentedImage{image.constBits(), w, h, int(image.bytesPerLine()), PresentedFormat::Bgrx32});
        return true;
    }

    HWND m_window;
    std::shared_ptr<SharedState> m_state;
    PaintFilter *m_filter;
    FusedScaler m_scaler;
};

} // namespace

std::unique_ptr<WindowTarget> createQtTarget(HWND window)
{
    QWidget *widget = QWidget::find(WId(window));
    if (!widget)
        return nullptr;
    return std::make_unique<QtTarget>(window, widget);
}

} // namespace platform::d3d9
