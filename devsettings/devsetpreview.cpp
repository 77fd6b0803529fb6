#include "devsettings/devsetpreview.h"

#include "media/cyuvrender.h"
#include "media/qcstreamplayer.h"

#include <QGridLayout>
#include <QWidget>

namespace {

// A native child makes its ancestors and their siblings native too, and Qt
// puts the windows it creates then on top of the older ones, whatever the
// widgets' order: the settings window's guide would cover the page showing
// the preview. Raising every native sibling in the widgets' order puts the
// windows back in it.
void restackAsWidgets(QWidget *widget)
{
    for (QWidget *w = widget; w && !w->isWindow() && w->parentWidget(); w = w->parentWidget()) {
        const QObjectList siblings = w->parentWidget()->children();
        for (QObject *o : siblings) {
            auto *sibling = qobject_cast<QWidget *>(o);
            if (sibling && !sibling->isWindow() && sibling->internalWinId())
                sibling->raise();
        }
    }
}

} // namespace

DevsetPreview::DevsetPreview(QWidget *area, Drawing drawing) : QObject(area), m_area(area), m_drawing(drawing)
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
    if (m_player) {
        m_player->stopPlay();
        delete m_player;
        m_player = nullptr;
    }
    // Kept, the widget would show its last picture again with the page, as
    // if live, until a stream description replaced it, which an unreachable
    // device never sends: a Direct3D child keeps what was presented into
    // its window, and an OpenGL one is shown from its old framebuffer,
    // blanked or not. The player has let go of it.
    delete m_surface;
}

void DevsetPreview::onVideoratio(int width, int height)
{
    if (!m_player || sender() != m_player)
        return;
    // The player stops drawing into the old widget before it goes.
    m_player->releaseRender();
    delete m_surface;
    CYuvRender *render = nullptr;
    if (m_drawing == Drawing::OpenGL) {
        render = new CYuvRender(m_area, width, height);
        render->setDisplayMode(CYuvRender::Stretch);
        m_surface = render;
    } else {
        m_surface = new QWidget(m_area);
    }
    m_area->layout()->addWidget(m_surface);
    m_surface->show();
    if (render) {
        m_player->startYuvPlay(render);
    } else {
        m_player->startPlay(m_surface);
        restackAsWidgets(m_surface);
    }
    if (QWidget *page = m_area->parentWidget())
        page->update();
}
