#include "devsettings/devsetpreview.h"

#include "media/cyuvrender.h"
#include "media/qcstreamplayer.h"

#include <QGridLayout>
#include <QWidget>

DevsetPreview::DevsetPreview(QWidget *area) : QObject(area), m_area(area)
{
    auto *grid = new QGridLayout(area);
    grid->setContentsMargins(1, 1, 1, 1);
}

DevsetPreview::~DevsetPreview()
{
    stop();
}

void DevsetPreview::start(const QString &devip, const QString &httpport, const QString &username,
                          const QString &password)
{
    stop();
    m_player = new qcStreamPlayer(nullptr, devip, httpport, username, password, 6);
    connect(m_player, &qcStreamPlayer::sigVideoratio, this, &DevsetPreview::onVideoratio);
    m_player->openStream();
    m_area->show();
}

void DevsetPreview::stop()
{
    if (!m_player)
        return;
    m_player->stopPlay();
    delete m_player;
    m_player = nullptr;
}

void DevsetPreview::onVideoratio(int width, int height)
{
    if (!m_player || sender() != m_player)
        return;
    // The player stops drawing into the old widget before it goes.
    m_player->releaseRender();
    delete m_render;
    m_render = new CYuvRender(m_area, width, height);
    m_area->layout()->addWidget(m_render);
    m_render->setDisplayMode(CYuvRender::Stretch);
    m_render->show();
    m_player->startYuvPlay(m_render);
}
