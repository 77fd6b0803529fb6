#include <QtTest>

#include <random>
#include <vector>

#include "hevc/cabac.h"
#include "hevc/tools/h265gen_cabac.h"

using namespace h265d;

using namespace h265gen;

namespace {

/* The writer's contexts next to the decoder's: (writer index, decoder index,
 * count, used in I slices). */
struct CtxPair
{
    int gen, dec, count;
    bool intra;
};
const CtxPair kPairs[] = {
    {C_SAO_MERGE, CTX_SAO_MERGE, 1, true},
    {C_SAO_TYPE, CTX_SAO_TYPE, 1, true},
    {C_SPLIT_CU, CTX_SPLIT_CU, 3, true},
    {C_CU_SKIP, CTX_CU_SKIP, 3, false},
    {C_PRED_MODE, CTX_PRED_MODE, 1, false},
    {C_PART_MODE, CTX_PART_MODE, 1, true},
    {C_PART_MODE + 1, CTX_PART_MODE + 1, 3, false},
    {C_PREV_INTRA, CTX_PREV_INTRA_LUMA, 1, true},
    {C_CHROMA_MODE, CTX_INTRA_CHROMA, 1, true},
    {C_MERGE_FLAG, CTX_MERGE_FLAG, 1, false},
    {C_MERGE_IDX, CTX_MERGE_IDX, 1, false},
    {C_INTER_PRED, CTX_INTER_PRED_IDC, 5, false},
    {C_REF_IDX, CTX_REF_IDX, 2, false},
    {C_MVD_G0, CTX_MVD_GREATER0, 1, false},
    {C_MVD_G1, CTX_MVD_GREATER1, 1, false},
    {C_MVP_FLAG, CTX_MVP_FLAG, 1, false},
    {C_RQT_ROOT_CBF, CTX_RQT_ROOT_CBF, 1, false},
    {C_SPLIT_TF, CTX_SPLIT_TRANSFORM, 3, true},
    {C_CBF_LUMA, CTX_CBF_LUMA, 2, true},
    {C_CBF_CHROMA, CTX_CBF_CHROMA, 4, true},
    {C_CU_QP_DELTA, CTX_CU_QP_DELTA, 2, true},
    {C_LAST_X, CTX_LAST_X_PREFIX, 18, true},
    {C_LAST_Y, CTX_LAST_Y_PREFIX, 18, true},
    {C_GT1, CTX_GREATER1, 24, true},
    {C_GT2, CTX_GREATER2, 6, true},
};

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
    void contextTablesAgreeWithTheDecoder();
    void binsRoundTripThroughTheDecoderEngine();
    void streamsFollowTheSeed();
    void refusesWhatItCannotWrite();
};

/* Both tables were written from the Recommendation on their own: every
 * initValue the writer uses, and the state it gives at every QP, must be
 * the decoder's. */
void TestGen::contextTablesAgreeWithTheDecoder()
{
    int compared = 0;
    for (int initType = 0; initType < 3; initType++) {
        for (int qp = 0; qp <= 51; qp++) {
            uint8_t dec[H265D_CTX_COUNT];
            cabacInitContextsFor(initType, qp, dec);
            Contexts gen;
            gen.init(initType, qp);
            for (const CtxPair &p : kPairs) {
                if (initType == 0 && !p.intra)
                    continue;
                for (int i = 0; i < p.count; i++) {
                    if (qp == 0)
                        QVERIFY2(kInitValues[initType][p.gen + i] == h265dCtxInitValues[initType][p.dec + i],
                                 qPrintable(QString("initType %1 context %2").arg(initType).arg(p.gen + i)));
                    QCOMPARE(decoderState(gen[p.gen + i]), dec[p.dec + i]);
                    compared++;
                }
            }
        }
    }
    QVERIFY(compared > 3 * 52 * 80);
}

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
