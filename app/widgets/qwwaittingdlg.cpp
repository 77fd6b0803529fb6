#include "app/widgets/qwwaittingdlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QMovie>
#include <QTimerEvent>

qwWaittingDlg::qwWaittingDlg(QWidget *parent) : QWidget(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::WindowModal);
    resize(260, 260);

    auto *layout = new QGridLayout(this);
    m_label = new QLabel(this);
    m_label->setFixedSize(47, 47);
    m_movie = new QMovie(QStringLiteral(":/images/srcimages/wait.gif"), QByteArray(), this);
    m_movie->setBackgroundColor(QColor(255, 255, 255, 0));
    m_label->setMovie(m_movie);
    m_movie->start();
    layout->addWidget(m_label);

    m_timerId = startTimer(kLifetimeMs);
}

qwWaittingDlg::~qwWaittingDlg()
{
    if (m_timerId != -1)
        killTimer(m_timerId);
}

void qwWaittingDlg::OnClose()
{
    close();
}

void qwWaittingDlg::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId)
        return;
    killTimer(m_timerId);
    m_timerId = -1;
    close();
}
