// Cost of one drawn picture in the window renderer, through the one-pass
// path and through the full chain of surfaces. Run under an X server:
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build-release/bench/bench_wndrender
#include "media/cd3dwndrender.h"
#include "platform/d3d9/d3d9diag.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double nsPerDraw(QWidget &view, int pw, int ph, bool fused, int frames)
{
    platform::d3d9::setFusedPresent(fused);
    CD3DWndRender r;
    r.setWindow(HWND(view.winId()));
    if (r.init(pw, ph) != 0)
        return -1;
    std::vector<uint8_t> y(size_t(pw) * ph), u(size_t(pw / 2) * (ph / 2)), v(u.size());
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = uint8_t(i * 7);
    std::fill(u.begin(), u.end(), 90);
    std::fill(v.begin(), v.end(), 200);
    const uint8_t *planes[3] = {y.data(), u.data(), v.data()};
    const int lines[3] = {pw, pw / 2, pw / 2};
    for (int i = 0; i < 10; ++i)
        r.drawFrame(planes, lines);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < frames; ++i)
        r.drawFrame(planes, lines);
    // Each draw yields 2 ms by design; leave it out of the cost.
    return double(t.nsecsElapsed()) / frames - 2e6;
}

} // namespace

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    struct Case
    {
        const char *name;
        int pw, ph, ww, wh;
    };
    const Case cases[] = {
        {"sub 640x360 in a 8x8 grid view (240x135)", 640, 360, 240, 135},
        {"sub 640x360 in a 2x2 grid view (960x540)", 640, 360, 960, 540},
        {"main 1920x1080 full screen (1920x1080)", 1920, 1080, 1920, 1080},
    };
    std::printf("window renderer, %s, draw cost per picture without the 2 ms yield (median of 3)\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("%-45s %14s %14s\n", "case", "one pass", "full chain");
    for (const Case &c : cases) {
        QWidget view;
        view.resize(c.ww, c.wh);
        view.setAttribute(Qt::WA_NativeWindow);
        view.show();
        app.processEvents();
        const int frames = c.pw > 1000 ? 60 : 200;
        std::vector<double> fused, full;
        for (int k = 0; k < 3; ++k) {
            fused.push_back(nsPerDraw(view, c.pw, c.ph, true, frames));
            full.push_back(nsPerDraw(view, c.pw, c.ph, false, frames));
        }
        std::sort(fused.begin(), fused.end());
        std::sort(full.begin(), full.end());
        std::printf("%-45s %11.2f ms %11.2f ms\n", c.name, fused[1] / 1e6, full[1] / 1e6);
    }
    return 0;
}
