#include <QtTest>

#include <random>
#include <vector>

#include "hevc/cabac.h"
#include "hevc/tools/h265gen_cabac.h"

using namespace h265d;

using namespace h265gen;

namespace {

uint8_t decoderState(const Ctx &c)
{
    return (uint8_t)(c.pStateIdx * 2 + c.valMps);
}

QByteArray runTool(const QStringList &args, int *exitCode)
{
    QProcess p;
    p.start(qEnvironmentVariable("H265GEN"), args);
    p.waitForFinished(60000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardError();
}

} // namespace

class TestGen : public QObject
{
    Q_OBJECT

private slots:
    void binsRoundTripThroughTheDecoderEngine();
    void streamsFollowTheSeed();
    void refusesWhatItCannotWrite();
};

/* Random bins of every kind, with codewords ended and started again around
 * raw bytes as a PCM unit or a new substream does: the decoder's engine
 * reads back every bin and restarts at the byte the writer did. */
void TestGen::binsRoundTripThroughTheDecoderEngine()
{
    std::mt19937 rng(11);
    for (int round = 0; round < 30; round++) {
        const int initType = round % 3, qp = (round * 13) % 52;
        Contexts gen;
        gen.init(initType, qp);
        BitWriter bw;
        CabacEncoder enc(bw);
        struct Op
        {
            int kind, ctx, value, n;
            size_t rawAt;
        };
        std::vector<Op> ops;
        std::vector<std::vector<uint8_t>> raws;
        for (int i = 0; i < 4000; i++) {
            Op op{(int)(rng() % 20), (int)(rng() % C_COUNT), 0, 0, 0};
            if (op.kind < 12) {
                const int bias = op.ctx % 2 ? 92 : 25;
                op.value = (int)(rng() % 100) < bias ? 1 : 0;
                enc.decision(gen[op.ctx], op.value);
            } else if (op.kind < 15) {
                op.value = (int)(rng() & 1);
                enc.bypass(op.value);
            } else if (op.kind < 17) {
                op.n = (int)(rng() % 17);
                op.value = (int)(rng() & ((1u << op.n) - 1));
                enc.bypassBits((uint32_t)op.value, op.n);
            } else if (op.kind < 19 || rng() % 8) {
                op.kind = 17;
                enc.terminateBin(0);
            } else {
                /* a codeword ends; raw bytes (zeros among them) follow */
                enc.terminateBin(1);
                op.value = 1;
                op.rawAt = bw.bytes().size();
                std::vector<uint8_t> raw(rng() % 40);
                for (auto &b : raw)
                    b = rng() % 3 ? 0 : (uint8_t)rng();
                for (uint8_t b : raw)
                    bw.bits(b, 8);
                raws.push_back(raw);
                op.n = (int)raws.size() - 1;
                enc.start();
            }
            ops.push_back(op);
        }
        enc.terminateBin(1);
        const std::vector<uint8_t> data = bw.bytes();
        H265D_CABAC c{};
        cabacStartAt(&c, data.data(), data.data() + data.size());
        Contexts mirror;
        mirror.init(initType, qp);
        uint8_t st[C_COUNT];
        for (int i = 0; i < C_COUNT; i++)
            st[i] = decoderState(mirror[i]);
        for (size_t i = 0; i < ops.size(); i++) {
            const Op &op = ops[i];
            int got;
            if (op.kind < 12)
                got = cabacDecodeDecision(&c, &st[op.ctx]);
            else if (op.kind < 15)
                got = cabacDecodeBypass(&c);
            else if (op.kind < 17)
                got = (int)cabacDecodeBypassBits(&c, op.n);
            else
                got = cabacDecodeTerminate(&c);
            if (got != op.value)
                QFAIL(qPrintable(
                    QString("round %1 op %2 kind %3: %4 != %5").arg(round).arg(i).arg(op.kind).arg(got).arg(op.value)));
            if (op.kind == 19) {
                const size_t at = (size_t)(c.start - data.data()) + cabacNextBytePos(&c);
                QCOMPARE(at, op.rawAt);
                const std::vector<uint8_t> &raw = raws[op.n];
                QVERIFY(std::equal(raw.begin(), raw.end(), data.begin() + (ptrdiff_t)at));
                cabacStartAt(&c, data.data() + at + raw.size(), data.data() + data.size());
            }
        }
        QCOMPARE(cabacDecodeTerminate(&c), 1);
        QCOMPARE((size_t)(c.start - data.data()) + cabacNextBytePos(&c), data.size());
        for (int i = 0; i < C_COUNT; i++)
            QCOMPARE(st[i], decoderState(gen[i]));
    }
}

void TestGen::streamsFollowTheSeed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int rc = 0;
    const QString a = dir.filePath("a.hevc"), b = dir.filePath("b.hevc"), c = dir.filePath("c.hevc");
    runTool({"--preset", "tiles_slices", "--seed", "5", a}, &rc);
    QCOMPARE(rc, 0);
    runTool({"--preset", "tiles_slices", "--seed", "5", b}, &rc);
    QCOMPARE(rc, 0);
    runTool({"--preset", "tiles_slices", "--seed", "6", c}, &rc);
    QCOMPARE(rc, 0);
    QFile fa(a), fb(b), fc(c);
    QVERIFY(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly) && fc.open(QIODevice::ReadOnly));
    const QByteArray da = fa.readAll(), db = fb.readAll(), dc = fc.readAll();
    QVERIFY(da.size() > 1000);
    QCOMPARE(da, db);
    QVERIFY(da != dc);
    /* every preset writes a stream the decoder parses to the end of each
     * slice segment */
    QProcess lister;
    lister.start(qEnvironmentVariable("H265GEN"), {"--list"});
    QVERIFY(lister.waitForFinished(10000));
    const QStringList lines = QString::fromUtf8(lister.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 15);
    for (const QString &line : lines) {
        const QString preset = line.section(' ', 0, 0);
        const QString out = dir.filePath(preset + ".hevc");
        runTool({"--preset", preset, "--frames", "2", out}, &rc);
        QVERIFY2(rc == 0, qPrintable(preset));
        QProcess dec;
        dec.start(qEnvironmentVariable("H265DEC"), {"--parse-only", "--quiet", out});
        QVERIFY(dec.waitForFinished(60000));
        QVERIFY2(dec.exitCode() == 0, qPrintable(preset + ": " + dec.readAllStandardError()));
        QProcess full;
        full.start(qEnvironmentVariable("H265DEC"), {"--quiet", out});
        QVERIFY(full.waitForFinished(60000));
        QCOMPARE(full.exitCode(), 0);
        QVERIFY2(full.readAllStandardOutput().count('\n') == 2, qPrintable(preset));
    }
}

void TestGen::refusesWhatItCannotWrite()
{
    QTemporaryDir dir;
    int rc = 0;
    const QString out = dir.filePath("x.hevc");
    QVERIFY(runTool({"--preset", "nosuch", out}, &rc).contains("no preset nosuch"));
    QCOMPARE(rc, 2);
    runTool({"--preset", "plain", "--size", "250x192", out}, &rc);
    QCOMPARE(rc, 2);
    /* 4x3 tiles need 4x3 CTBs */
    QVERIFY(runTool({"--preset", "tiles_explicit", "--size", "96x96", out}, &rc).contains("needs at least 4x3"));
    QCOMPARE(rc, 2);
    QVERIFY(runTool({"--preset", "plain", "--set", "bogus=1", out}, &rc).contains("cannot set bogus=1"));
    QCOMPARE(rc, 2);
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(TestGen)
#include "tst_gen.moc"
