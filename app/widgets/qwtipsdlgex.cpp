#include "app/widgets/qwtipsdlgex.h"

#include "app/widgets/qclabelex.h"
#include "app/widgets/stylesheets.h"
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
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignTop);
    m_label->resize(210, 60);
    if (kind == FilePath)
        connect(m_label, &qcLabelEx::sigClick, this, &qwTipsdlgEx::onHiperlinkClick);

    resize(256, 156);
    m_timerId = startTimer(kLifetimeMs, Qt::PreciseTimer);
}

qwTipsdlgEx::~qwTipsdlgEx()
{
    if (m_timerId != -1)
        killTimer(m_timerId);
}

void qwTipsdlgEx::setRevealFunction(RevealFunction fn)
{
    revealFunction() =
        fn ? std::move(fn) : RevealFunction([](const QString &path) { return platform::revealInFileManager(path); });
}

void qwTipsdlgEx::setTipText(const QString &text)
{
    m_label->setText(text);
}

void qwTipsdlgEx::onHiperlinkClick()
{
    if (m_kind != FilePath)
        return;
    revealFunction()(m_label->text());
}

QRect qwTipsdlgEx::availableArea() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1280, 1024);
}

QPoint qwTipsdlgEx::shownPos() const
{
    const QRect a = availableArea();
    return a.topLeft() + QPoint(a.width() - width(), a.height() - height());
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

void qwTipsdlgEx::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    move(hiddenPos());
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
    m_label->setGeometry(client.left() + 16, client.top() + 12, 210, 90);
}
