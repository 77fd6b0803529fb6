#pragma once

// The image pages' preview on the offscreen platform, where the Direct3D
// layer's Qt fallback draws: the stream comes while the page is shown, each
// stream description gives one new drawing child that is presented to, and
// the stream goes for good once the page is hidden. Header only: the suite
// links the test device. Include it last (Xlib's macros clash with Qt's
// names).

#include "devsetfixture.h"
#include "tests/devicesim/protocols.h"
#include "tests/support/xpixels.h"

#include <QPointer>
#include <QWidget>

namespace devsetfixture {

inline int streamGets(const devicesim::Device &device)
{
    int n = 0;
    for (const LoggedRequest &r : device.requests())
        n += r.path == "/action/stream";
    return n;
}

inline int openStreams(const devicesim::Device &device)
{
    return device.openConnections([](const LoggedRequest &r) { return r.path == "/action/stream"; });
}

// The single drawing child of the preview area once it has been presented
// to, else null.
inline QWidget *presentedSurface(QWidget *area)
{
    const QList<QWidget *> children = area->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    if (children.size() != 1 || !children[0]->internalWinId())
        return nullptr;
    return testsupport::PresentCounter::on(HWND(children[0]->internalWinId())) > 0 ? children[0] : nullptr;
}

template <class Page>
void checkDirect3DPreview(Fixture &fx, Page *page)
{
    page->hide();
    devicesim::Protocols protocols = devicesim::installProtocols(fx.device(), qEnvironmentVariable("ARDO_CLIPS_DIR"));
    testsupport::PresentCounter::install();
    QWidget *area = child<QWidget>(page, "widget_Videoview");
    QVERIFY(area);
    const int gets = streamGets(fx.device());
    page->show();
    QTRY_VERIFY_WITH_TIMEOUT(presentedSurface(area), 10000);
    QCOMPARE(streamGets(fx.device()), gets + 1);

    // A new description on the open connection replaces the drawing child.
    QPointer<QWidget> first = presentedSurface(area);
    protocols.live->switchClip(0, QStringLiteral("colour-red-sub.h264"), 640, 360);
    QTRY_VERIFY_WITH_TIMEOUT(!first && presentedSurface(area), 10000);
    QCOMPARE(streamGets(fx.device()), gets + 1);

    page->hide();
    QTRY_COMPARE_WITH_TIMEOUT(openStreams(fx.device()), 0, 3000);
    QVERIFY(!page->streamPlayer());
    const int after = streamGets(fx.device());
    QTest::qWait(2000);
    QCOMPARE(streamGets(fx.device()), after);
    testsupport::PresentCounter::uninstall();
}

} // namespace devsetfixture
