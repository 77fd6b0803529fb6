#include "app/widgets/qwtipsdlgex.h"

#include "app/widgets/plaintext.h"
#include "app/widgets/qclabelex.h"
#include "app/widgets/stylesheets.h"
#include "app/widgets/tiplayout.h"
#include "platform/desktop/reveal.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>

namespace {
qwTipsdlgEx::RevealFunction &revealFunction()
{
    static qwTipsdlgEx::RevealFunction fn = [](const QString &path) { return platform::revealInFileManager(path); };
    return fn;
}
} // namespace

qwTipsdlgEx::qwTipsdlgEx(QWidget *parent, int kind) : BaseWindow(parent, 0, 256, 156), m_kind(kind)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("widget_Tipsex"));
    setStyleSheet(QString::fromLatin1(styles::kTipWindow));
    setTitleIcon(QStringLiteral(":/images/srcimages/message.png"));

    m_label = new qcLabelEx(this);
    const char *sheet = styles::kTipSuccess;
    if (kind == Failure)
        sheet = styles::kTipFailure;
    else if (kind == FilePath)
        sheet = styles::kTipPath;
    m_label->setStyleSheet(QString::fromLatin1(sheet));
    m_label->setWordWrap(kind != FilePath);
    m_label->setAlignment(Qt::AlignTop);
    m_label->resize(kMessageWidth, 60);
    m_label->setTextFormat(Qt::PlainText);
    if (kind == FilePath) {
        connect(m_label, &qcLabelEx::sigClick, this, &qwTipsdlgEx::onHiperlinkClick);
    }

    resize(256, 156);
    m_timerId = startTimer(kLifetimeMs, Qt::PreciseTimer);
}

qwTipsdlgEx::~qwTipsdlgEx()
{
    if (m_timerId != -1)
        killTimer(m_timerId);
    tiplayout::Stack::tips().release(m_place);
}

void qwTipsdlgEx::setRevealFunction(RevealFunction fn)
{
    revealFunction() =
        fn ? std::move(fn) : RevealFunction([](const QString &path) { return platform::revealInFileManager(path); });
}

void qwTipsdlgEx::setTipText(const QString &text)
{
    m_text = text;
    if (m_kind != FilePath) {
        m_label->setText(text);
        return;
    }
    m_label->ensurePolished();
    const QFontMetrics metrics = m_label->fontMetrics();
    m_label->setText(tiplayout::fitPath(text, metrics, kMessageWidth, kMessageHeight / metrics.lineSpacing())
                         .join(QLatin1Char('\n')));
    m_label->setToolTip(plaintext::toolTip(text));
}

void qwTipsdlgEx::onHiperlinkClick()
{
    if (m_kind != FilePath)
        return;
    revealFunction()(m_text);
}

QRect qwTipsdlgEx::availableArea() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1280, 1024);
}

QPoint qwTipsdlgEx::shownPos() const
{
    // Stacked upwards from the corner; when the column is full the next
    // tips start over at the corner.
    const QRect a = availableArea();
    const int perColumn = qMax(1, a.height() / qMax(1, height()));
    const int level = qMax(0, m_place) % perColumn;
    return a.topLeft() + QPoint(a.width() - width(), a.height() - height() * (level + 1));
}

QPoint qwTipsdlgEx::hiddenPos() const
{
    const QRect a = availableArea();
    return a.topLeft() + QPoint(a.width() - width(), a.height());
}

void qwTipsdlgEx::slide(const QPoint &from, const QPoint &to, bool thenClose)
{
    auto *anim = new QPropertyAnimation(this, "pos", this);
    anim->setDuration(kSlideMs);
    anim->setStartValue(from);
    anim->setEndValue(to);
    if (thenClose)
        connect(anim, &QPropertyAnimation::finished, this, &qwTipsdlgEx::onAnimationFinished);
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void qwTipsdlgEx::placeBeforeShow()
{
    if (m_place < 0)
        m_place = tiplayout::Stack::tips().take();
    move(hiddenPos());
}

void qwTipsdlgEx::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    slide(hiddenPos(), shownPos(), false);
}

void qwTipsdlgEx::hideEvent(QHideEvent *event)
{
    BaseWindow::hideEvent(event);
    if (!m_closing)
        slide(shownPos(), hiddenPos(), false);
}

void qwTipsdlgEx::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        event->ignore();
        if (!m_slidingOut) {
            m_slidingOut = true;
            slide(pos(), hiddenPos(), true);
        }
        return;
    }
    BaseWindow::closeEvent(event);
}

void qwTipsdlgEx::onAnimationFinished()
{
    m_closing = true;
    close();
}

void qwTipsdlgEx::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timerId) {
        killTimer(m_timerId);
        m_timerId = -1;
        close();
    }
}

void qwTipsdlgEx::resizeEvent(QResizeEvent *event)
{
    BaseWindow::resizeEvent(event);
    const QRect client = getClientRect();
    m_label->setGeometry(client.left() + 16, client.top() + 12, kMessageWidth, kMessageHeight);
}

qwTipsdlgEx *showKeyedTip(QWidget *parent, int kind, const QString &key, const QString &text)
{
    auto *tip = new qwTipsdlgEx(parent, kind);
    tip->setProperty(kTipKeyProperty, key);
    tip->setTipText(text);
    tip->show();
    return tip;
}
