#include "platform/widgets/qrangeslider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QToolTip>

namespace {

constexpr int kHandle = 16;
constexpr int kGroove = 8;

} // namespace

QRangeSlider::QRangeSlider(QWidget *parent) : QFrame(parent)
{
    setMouseTracking(true);
    setMinimumSize(2 * kHandle, kHandle);
}

void QRangeSlider::SetStyleSheet(const QString &sheet)
{
    // Each rule "QRangeSlider::<sub>[:hover]:horizontal{...}" with its
    // background-color.
    static const QRegularExpression rule(QStringLiteral("::([a-z-]+)(:hover)?(?::horizontal)?\\s*\\{([^}]*)\\}"));
    static const QRegularExpression colour(QStringLiteral("background-color\\s*:\\s*([^;]+)"));
    auto it = rule.globalMatch(sheet);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QRegularExpressionMatch c = colour.match(m.captured(3));
        if (!c.hasMatch())
            continue;
        const QColor value(c.captured(1).trimmed());
        if (!value.isValid())
            continue;
        const QString sub = m.captured(1);
        const bool hover = !m.captured(2).isEmpty();
        if (sub == QLatin1String("groove"))
            m_groove = value;
        else if (sub == QLatin1String("add-page"))
            m_addPage = value;
        else if (sub == QLatin1String("sub-page"))
            m_subPage = value;
        else if (sub == QLatin1String("handle"))
            (hover ? m_handleHover : m_handle) = value;
    }
    update();
}

void QRangeSlider::SetOrientation(Qt::Orientation) {}

void QRangeSlider::SetShowTooltip(bool show)
{
    m_showTooltip = show;
}

void QRangeSlider::SetTooltipStyle(TooltipType type)
{
    m_tooltip = type;
}

bool QRangeSlider::SetRange(unsigned long min, unsigned long max)
{
    if (min >= max)
        return false;
    m_min = min;
    m_max = max;
    m_first = qBound(m_min, m_first, m_max - 1);
    m_second = qBound(m_first + 1, m_second, m_max);
    update();
    return true;
}

bool QRangeSlider::SetValue(unsigned long first, unsigned long second)
{
    if (first < m_min || first >= second || second > m_max)
        return false;
    m_first = first;
    m_second = second;
    update();
    return true;
}

quint64 QRangeSlider::GetValue() const
{
    return quint64(m_first) << 32 | quint64(m_second & 0xffffffffu);
}

int QRangeSlider::positionOf(unsigned long value) const
{
    const int span = qMax(1, width() - kHandle);
    return kHandle / 2 + int(double(value - m_min) * span / double(m_max - m_min));
}

unsigned long QRangeSlider::valueAt(int x) const
{
    const int span = qMax(1, width() - kHandle);
    const double v = double(x - kHandle / 2) * double(m_max - m_min) / span;
    return m_min + (unsigned long)qBound(0.0, v + 0.5, double(m_max - m_min));
}

int QRangeSlider::handleAt(const QPoint &p) const
{
    const int d0 = qAbs(p.x() - positionOf(m_first));
    const int d1 = qAbs(p.x() - positionOf(m_second));
    return d1 < d0 ? 1 : 0;
}

QString QRangeSlider::tooltipText(unsigned long value) const
{
    if (m_tooltip == TimeTooltip)
        return QStringLiteral("%1:%2")
            .arg(value / 60, 2, 10, QLatin1Char('0'))
            .arg(value % 60, 2, 10, QLatin1Char('0'));
    return QString::number(value);
}

void QRangeSlider::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int y = (height() - kGroove) / 2;
    const int left = positionOf(m_first);
    const int right = positionOf(m_second);
    p.fillRect(QRect(kHandle / 2, y, width() - kHandle, kGroove), m_groove);
    p.fillRect(QRect(kHandle / 2, y, left - kHandle / 2, kGroove), m_subPage);
    p.fillRect(QRect(right, y, width() - kHandle / 2 - right, kGroove), m_subPage);
    p.fillRect(QRect(left, y, right - left, kGroove), m_addPage);
    p.setPen(QColor(0x2a, 0x2a, 0x2a));
    for (int h = 0; h < 2; ++h) {
        p.setBrush(h == m_hovered || h == m_dragged ? m_handleHover : m_handle);
        p.drawEllipse(QPoint(h ? right : left, height() / 2), kHandle / 2 - 1, kHandle / 2 - 1);
    }
}

void QRangeSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragged = handleAt(event->pos());
    update();
}

void QRangeSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragged < 0) {
        const int hovered = handleAt(event->pos());
        if (hovered != m_hovered) {
            m_hovered = hovered;
            update();
        }
        return;
    }
    const unsigned long v = valueAt(event->pos().x());
    // The handles never meet: each stops one step before the other.
    if (m_dragged == 0)
        m_first = qMin(v, m_second - 1);
    else
        m_second = qMax(v, m_first + 1);
    if (m_showTooltip && m_tooltip != NoTooltip)
        QToolTip::showText(event->globalPos(), tooltipText(m_dragged ? m_second : m_first), this);
    update();
}

void QRangeSlider::mouseReleaseEvent(QMouseEvent *)
{
    m_dragged = -1;
    update();
}

void QRangeSlider::leaveEvent(QEvent *)
{
    m_hovered = -1;
    update();
}
