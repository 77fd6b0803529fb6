#include <QtTest>

#include <cstdlib>
#include <vector>

#include "hevc/decoder.h"
#include "hevc/slicedata.h"
#include "hevc/inter.h"

using namespace h265d;

namespace {

/* The scaling of clause 8.5.3.2.8 written out. */
void referenceScale(int mvx, int mvy, int td, int tb, int *ox, int *oy)
{
    td = td < -128 ? -128 : (td > 127 ? 127 : td);
    tb = tb < -128 ? -128 : (tb > 127 ? 127 : tb);
    if (td == 0)
        td = 1;
    const int tx = (16384 + std::abs(td) / 2) / td;
    int f = (tb * tx + 32) >> 6;
    f = f < -4096 ? -4096 : (f > 4095 ? 4095 : f);
    auto one = [&](int v) {
        const long long p = (long long)f * v;
        long long r = (p < 0 ? -1 : 1) * ((std::llabs(p) + 127) >> 8);
        return (int)(r < -32768 ? -32768 : (r > 32767 ? 32767 : r));
    };
    *ox = one(mvx);
    *oy = one(mvy);
}

} // namespace

class TestInter : public QObject
{
    Q_OBJECT

private slots:
    void scaleMvAtTheClipEnds()
    {
        const int mvs[][2] = {{0, 0}, {1, -1}, {32767, -32768}, {-300, 77}, {4095, -4096}};
        for (int td : {-300, -128, -1, 0, 1, 2, 63, 127, 128, 500})
            for (int tb : {-300, -128, -7, 0, 5, 127, 200})
                for (const auto &mv : mvs) {
                    int rx, ry;
                    referenceScale(mv[0], mv[1], td, tb, &rx, &ry);
                    int16_t out[2];
                    scaleMv(mv[0], mv[1], td, tb, out);
                    QCOMPARE((int)out[0], rx);
                    QCOMPARE((int)out[1], ry);
                }
    }

    void mvClippingKeepsReadsInTheBorders()
    {
        /* Any MV ends up with the block's first reference sample no further
         * than 71 samples outside the picture, and MVs already inside stay. */
        const int picW = 352, picH = 288;
        for (int x : {0, 8, 344})
            for (int y : {0, 64, 280})
                for (int mvx : {-40000, -300, 0, 5, 300, 40000})
                    for (int mvy : {-40000, -17, 0, 40000}) {
                        int16_t out[2];
                        clipMvForMc(mvx, mvy, x, y, picW, picH, out);
                        const int rx = x + (out[0] >> 2), ry = y + (out[1] >> 2);
                        QVERIFY(rx >= -71 && rx <= picW + 7);
                        QVERIFY(ry >= -71 && ry <= picH + 7);
                        if (x + (mvx >> 2) >= -71 && x + (mvx >> 2) <= picW)
                            QCOMPARE((int)out[0], mvx);
                    }
    }
};

QTEST_GUILESS_MAIN(TestInter)
#include "tst_inter.moc"
