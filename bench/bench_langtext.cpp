// What one text of the user interface costs the thread that asks for it:
// the former road, which parsed the whole language file for every lookup,
// against the table the file is parsed into once. Then the GUI thread's
// share while many unreachable devices change state: every poll of the
// stream service reports each address device twice (connecting, then
// offline), and each report sets the device list's status label from two
// texts of the preview page.
//
//   build-opt/bench/bench_langtext [devices]
//
// Figures are thread processor time, the median of five runs.

#include "app/core/qclanguagexml.h"
#include "app/core/qcxmlhelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kPreviewPage = 34;
constexpr int kNoSection = 48;
// The stream service polls every 21 ticks of 300 ms.
constexpr double kPollSeconds = 21 * 0.3;
const char *const kStateKeys[] = {"isoffline", "isconnecting", "islogined", "isloginerr"};

double threadCpuNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

double medianNs(const std::function<void()> &work)
{
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) {
        const double start = threadCpuNs();
        work();
        runs.push_back(threadCpuNs() - start);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// The former road for a key standing under its page (section 48): the whole
// document parsed, the page found from the root, the key searched in it.
QString formerLangText(const QByteArray &file, const char *page, const QString &key)
{
    qcXmlHelper xml(file);
    QString text;
    if (!xml.enterElement(QString::fromLatin1(page), true) || !xml.getText(key, &text))
        return QString();
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int devices = argc > 1 ? std::max(1, atoi(argv[1])) : 280;
    if (!QDir::setCurrent(QStringLiteral(ARDO_SEED_DIR))) {
        std::fprintf(stderr, "no seed folder %s\n", ARDO_SEED_DIR);
        return 1;
    }
    QFile file(QString::fromLatin1(qcLanguageXml::kFileName));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "no language file in %s\n", ARDO_SEED_DIR);
        return 1;
    }
    const QByteArray bytes = file.readAll();

    qcLanguageXml table;
    const double loadNs = medianNs([&] { table.load(); });
    if (table.getLangText(kPreviewPage, kNoSection, QStringLiteral("devstatus")).isEmpty()) {
        std::fprintf(stderr, "the language file has no device status text\n");
        return 1;
    }
    // Both roads must give the same texts for what is timed.
    QStringList keys{QStringLiteral("devstatus")};
    for (const char *k : kStateKeys)
        keys << QString::fromLatin1(k);
    for (const QString &k : keys) {
        if (formerLangText(bytes, "previewpage", k) != table.getLangText(kPreviewPage, kNoSection, k)) {
            std::fprintf(stderr, "the roads differ for %s\n", qPrintable(k));
            return 1;
        }
    }

    const int formerLookups = 200;
    const int tableLookups = 200000;
    int sink = 0;
    const double formerNs = medianNs([&] {
        for (int i = 0; i < formerLookups; ++i)
            sink += formerLangText(bytes, "previewpage", keys.at(i % keys.size())).size();
    });
    const double tableNs = medianNs([&] {
        for (int i = 0; i < tableLookups; ++i)
            sink += table.getLangText(kPreviewPage, kNoSection, keys.at(i % keys.size())).size();
    });
    const double formerPer = formerNs / formerLookups;
    const double tablePer = tableNs / tableLookups;

    // One poll: every device reported connecting, then offline; each report
    // the label's two texts.
    auto poll = [&](const std::function<QString(const QString &)> &text) {
        for (int d = 0; d < devices; ++d) {
            for (const char *state : {"isconnecting", "isoffline"})
                sink += (text(QStringLiteral("devstatus")) + QStringLiteral(": ") + text(QString::fromLatin1(state)))
                            .size();
        }
    };
    const double formerPollNs =
        medianNs([&] { poll([&](const QString &k) { return formerLangText(bytes, "previewpage", k); }); });
    const double tablePollNs =
        medianNs([&] { poll([&](const QString &k) { return table.getLangText(kPreviewPage, kNoSection, k); }); });

    std::printf("language file: %d bytes; parsed into the table once: %.2f ms\n", int(bytes.size()), loadNs / 1e6);
    std::printf("per lookup:      former road %10.1f us   table %8.3f us   (%.0fx)\n", formerPer / 1e3, tablePer / 1e3,
                formerPer / tablePer);
    std::printf("%d devices changing state (%d status labels every %.1f s):\n", devices, devices * 2, kPollSeconds);
    std::printf("  GUI thread per poll: former road %8.2f ms   table %8.3f ms\n", formerPollNs / 1e6,
                tablePollNs / 1e6);
    std::printf("  share of a core:     former road %7.2f %%    table %8.4f %%\n",
                100.0 * formerPollNs / 1e9 / kPollSeconds, 100.0 * tablePollNs / 1e9 / kPollSeconds);
    return sink == -1 ? 1 : 0;
}
