#include "liveview/qwliveview.h"

#include "app/pagelog.h"

qwLiveView::qwLiveView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("qwLiveView{background:#2c2c2c;}"));
}

void qwLiveView::pauseAllViews()
{
    qCDebug(lcPages) << "pauseAllViews";
}

void qwLiveView::resumeAllViews()
{
    qCDebug(lcPages) << "resumeAllViews";
}
