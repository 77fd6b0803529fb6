// Live sound and talk against a private PulseAudio, everything on loopback:
//
//   build-release/bench/bench_audio [--clips DIR] [--dump FILE] [--talk-only] [--pace-only]
//
// --dump writes the output's recording (8 kHz signed 16-bit mono);
// --talk-only leaves the live sound phase out.
// The server has a null sink "testout" as the output and, as the
// microphone, a second null sink "mic" with a 440 Hz sine playing into it
// whose monitor is the default source. The first phase plays the loopback
// device's 1 kHz µ-law tone through a live player for 30 s and records the
// output's monitor with parec; the second phase talks to the device for 30 s
// from the microphone. Delays are measured on steps, since a steady tone
// shows none: sound on again after an off, sound off, and the microphone's
// tone muted and unmuted with pactl. All times are CLOCK_MONOTONIC.
// Then the program's first talk: a microphone opened at the click, counted
// from the click to the click.
// A third phase talks 30 s from a test microphone that hands over its
// samples at the real rate in lumps of 20 ms, 100 ms, 500 ms and 2 s: the
// share of its samples the device received, counted from the opening frame
// and from the click (the talk's start) to the stop, each sample's delay
// from its recording to its arrival at the device, and the time from the
// device's answer to the first frame.
// First, without PulseAudio (--pace-only: nothing else), five minutes of talk
// on a clock of the bench's own, at each lump size, the pump (the program's
// GUI thread) late now and then by 100 to 500 ms: the delay from recording
// to sending, minute by minute.
#include "benchsupport.h"
#include "device/playstream.h"
#include "device/g711.h"
#include "device/qcaudiocapture.h"
#include "device/qcdeviceintercom.h"
#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "devicesim/talksink.h"
#include "media/cliveplayer.h"
#include "media/codecids.h"
#include "media/qcframebuffer.h"
#include "tests/support/lumpinput.h"
#include "tests/support/pacedtalk.h"
#include "tests/support/pulsedaemon.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <signal.h>
#include <time.h>
#include <vector>

namespace {

using namespace benchsupport;

constexpr int kRate = 8000;
constexpr int kWindow = 8; // 1 ms: one period of the device's 1 kHz tone
constexpr int kSilentPeak = 300;

double nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

QString fmt(double v, int decimals = 0)
{
    return QString::number(v, 'f', decimals);
}

struct Median
{
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    QString text() const
    {
        if (v.empty())
            return QStringLiteral("none");
        return QStringLiteral("median %1, max %2 (%3 steps)")
            .arg(fmt(median(v)), fmt(*std::max_element(v.begin(), v.end())))
            .arg(v.size());
    }
};

struct Pulse
{
    testsupport::PulseDaemon daemon;

    QString run(const char *tool, const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(daemon.environment());
        p.start(QString::fromLatin1(tool), args);
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            std::fprintf(stderr, "%s %s failed: %s\n", tool, qPrintable(args.join(' ')),
                         p.readAllStandardError().constData());
            return QString();
        }
        // Not null on success, even when the tool prints nothing.
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        return out.isNull() ? QStringLiteral("") : out;
    }
    bool pactl(const QStringList &args) { return !run("pactl", args).isNull(); }
};

// The live stream's frames go into a frame buffer as the stream service
// puts them there; the arrival of each audio frame is noted.
struct Feed
{
    qcFrameBuffer buffer;
    std::mutex mutex;
    std::vector<double> audioArrivals;

    static void onFrame(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp, void *user)
    {
        auto *f = static_cast<Feed *>(user);
        uint32_t type = 0;
        if (kind == KindAudio) {
            type = 4;
            std::lock_guard<std::mutex> lock(f->mutex);
            f->audioArrivals.push_back(nowMs());
        } else if (kind == KindVideo) {
            type = subkind == 1 ? 1 : subkind == 0 ? 2 : 3;
        } else {
            return;
        }
        f->buffer.pushFrame(data, length, type, uint64_t(timestamp));
    }
    // The longest time between two audio records that arrived within [a, b).
    double longestArrivalGap(double a, double b)
    {
        std::lock_guard<std::mutex> lock(mutex);
        double longest = 0, last = -1;
        for (double t : audioArrivals) {
            if (t < a || t >= b)
                continue;
            if (last >= 0)
                longest = std::max(longest, t - last);
            last = t;
        }
        return longest;
    }
    double firstArrivalAfter(double t)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (double a : audioArrivals)
            if (a >= t)
                return a;
        return -1;
    }
};

// parec's output, with the time of each sample estimated from the arrival
// of the chunks: the earliest (arrival - samples so far / rate) is when the
// first sample left the server.
struct Recording
{
    QProcess parec;
    QByteArray pcm;
    double origin = 1e300;
    std::vector<std::pair<double, int>> chunks; // arrival, samples up to its end

    void start(Pulse &pulse)
    {
        parec.setProcessEnvironment(pulse.daemon.environment());
        QObject::connect(&parec, &QProcess::readyReadStandardOutput, [this] {
            const double t = nowMs();
            pcm += parec.readAllStandardOutput();
            chunks.emplace_back(t, pcm.size() / 2);
            origin = std::min(origin, t - (pcm.size() / 2) * 1000.0 / kRate);
        });
        parec.start(QStringLiteral("parec"), {"-d", "testout.monitor", "--raw", "--format=s16le", "--rate=8000",
                                              "--channels=1", "--latency-msec=10"});
        parec.waitForStarted(5000);
    }
    void stop()
    {
        // SIGTERM, so that parec hands over what it still holds before it ends.
        ::kill(pid_t(parec.processId()), SIGTERM);
        parec.waitForFinished(3000);
    }
    int windows() const { return pcm.size() / 2 / kWindow; }
    double windowTime(int w) const { return origin + w * kWindow * 1000.0 / kRate; }
    int windowAt(double t) const { return std::max(0, int((t - origin) * kRate / 1000.0 / kWindow)); }
    bool silent(int w) const
    {
        const auto *s = reinterpret_cast<const int16_t *>(pcm.constData()) + w * kWindow;
        for (int i = 0; i < kWindow; ++i)
            if (std::abs(int(s[i])) >= kSilentPeak)
                return false;
        return true;
    }
    // The first window from t on that is silent (sounding) and stays so for
    // at least holdMs; its time, or -1.
    double firstSteady(double t, double limit, bool wantSilence, double holdMs) const
    {
        const int hold = int(holdMs);
        const int end = std::min(windows(), windowAt(limit));
        for (int w = windowAt(t); w + hold <= end; ++w) {
            bool ok = true;
            for (int k = 0; k < hold && ok; ++k)
                ok = silent(w + k) == wantSilence;
            if (ok)
                return windowTime(w);
        }
        return -1;
    }
};

struct LiveFigures
{
    double silenceShare = 0;
    double longestGapMs = 0;
    double longestArrivalGapMs = 0;
    Median arrivalToSound, onToSound, offToSilence;
    int offStepsUnsilenced = 0;
};

LiveFigures liveSound(Pulse &pulse, int port, const QString &dump)
{
    LiveFigures out;
    Feed feed;
    feed.buffer.allocate(8 * 1024 * 1024);
    PlayStream stream(QStringLiteral("127.0.0.1"), QString::number(port), QStringLiteral("admin"),
                      QStringLiteral("1234"), &Feed::onFrame, &feed, PlayStream::kModeLive);
    stream.prepareLiveRequest(PlayStream::kSubStream);
    stream.start();

    Recording rec;
    rec.start(pulse);

    CLivePlayer player;
    player.setVideoInfo(640, 360, media::codecids::kVideoH264, false);
    player.setFrameSource(&feed.buffer);
    player.start();
    waitMs(1000);

    const double t0 = nowMs();
    auto at = [t0](double s) { waitMs(std::max(0, int(t0 + s * 1000 - nowMs()))); };
    std::vector<double> ons, offs;
    auto on = [&] {
        ons.push_back(nowMs());
        player.startAudio(0, 0, 8000);
        player.setVolume(100);
    };
    auto off = [&] {
        offs.push_back(nowMs());
        player.stopAudio();
    };
    on(); // the first: the output's set-up is not counted
    at(2);
    off();
    at(6);
    on();
    at(22);
    off();
    at(26);
    on();
    at(28.5);
    off();
    at(30);
    waitMs(300);
    rec.stop();
    if (!dump.isEmpty()) {
        QFile f(dump);
        if (f.open(QIODevice::WriteOnly))
            f.write(rec.pcm);
        QFile c(dump + ".chunks");
        if (c.open(QIODevice::WriteOnly))
            for (const auto &k : rec.chunks)
                c.write(QByteArray::number(k.first - t0, 'f', 1) + ' ' + QByteArray::number(k.second) + '\n');
    }
    player.stopLiveplay();
    player.wait();
    stream.stop();

    // Steady state: from a second after the second on to the next off.
    const int from = rec.windowAt(ons[1] + 1000);
    const int to = std::min(rec.windows(), rec.windowAt(offs[1]));
    int silentWindows = 0, run = 0, longest = 0;
    for (int w = from; w < to; ++w) {
        if (rec.silent(w)) {
            ++silentWindows;
            longest = std::max(longest, ++run);
        } else {
            run = 0;
        }
    }
    out.silenceShare = to > from ? 100.0 * silentWindows / (to - from) : 100.0;
    out.longestGapMs = longest * kWindow * 1000.0 / kRate;
    // A gap in the sound can be the network's: the device's records stopped
    // coming for longer than the output holds.
    out.longestArrivalGapMs = feed.longestArrivalGap(ons[1] + 1000, offs[1]);

    for (size_t i = 1; i < ons.size(); ++i) {
        const double sound = rec.firstSteady(ons[i], ons[i] + 3000, false, 20);
        // The first record played may have arrived up to one idle wait of
        // the player (20 ms) before the on, unread yet: the earliest such
        // arrival counts, so the figure errs on the long side.
        const double arrival = feed.firstArrivalAfter(ons[i] - 25);
        if (sound < 0 || arrival < 0)
            continue;
        out.onToSound.add(sound - ons[i]);
        out.arrivalToSound.add(sound - arrival);
    }
    for (size_t i = 0; i < offs.size(); ++i) {
        const double next = i + 1 < ons.size() ? ons[i + 1] : offs[i] + 1500;
        const double quiet = rec.firstSteady(offs[i], next, true, 150);
        if (quiet < 0)
            ++out.offStepsUnsilenced;
        else
            out.offToSilence.add(quiet - offs[i]);
    }
    return out;
}

struct TalkFigures
{
    double framesPerSecond = 0;
    double samplesShare = 0;
    double clickToClickShare = 0;
    double firstSamplesMs = 0;
    double talkSeconds = 0;
    double firstFrameAfterOpenMs = -1;
    Median latency;
    int stepsUnseen = 0;
    bool continuous = false;
};

// The index of the first whole frame of mulaw from `from` whose peak is
// below (above) the level.
int firstFrameWhere(const QByteArray &mulaw, int from, bool wantSilence)
{
    for (int f = from; (f + 1) * 320 <= mulaw.size(); ++f) {
        const int p = devicesim::TalkSink::peak(mulaw.mid(f * 320, 320));
        if ((p < kSilentPeak) == wantSilence)
            return f;
    }
    return -1;
}

// Frame counts at the device as they change, polled every few ms.
struct Arrivals
{
    std::vector<std::pair<double, int>> counts;
    double opened = -1;
    void poll(devicesim::TalkSink &sink, double t)
    {
        const auto r = sink.record();
        if (opened < 0 && r.opening.size() >= 44)
            opened = t;
        if (counts.empty() || counts.back().second != r.frames)
            counts.emplace_back(t, r.frames);
    }
};

void startTalk(qcDeviceIntercom &intercom, int port, qcAudioCapture *capture)
{
    intercom.setParams(QStringLiteral("127.0.0.1"), QString::number(port), QStringLiteral("admin"),
                       QStringLiteral("1234"), capture);
    intercom.start();
}

TalkFigures talk(Pulse &pulse, devicesim::TalkSink &sink, int port)
{
    TalkFigures out;
    // The sine's stream into the microphone sink, to mute and unmute it.
    const QString inputs = pulse.run("pactl", {"list", "short", "sink-inputs"});
    const QString sine = inputs.section('\t', 0, 0);

    qcAudioCapture capture;
    if (!capture.startCapture()) {
        std::fprintf(stderr, "capture did not start: error %d\n", capture.lastError());
        return out;
    }
    // The program opens the microphone at its first talk and resumes it for
    // every later one. This one is a later one: the null sink behind the
    // test microphone delivers its first samples only after its idle
    // latency (about 2 s), which no talk after the first waits for.
    const double openedAt = nowMs();
    while (capture.bytesReady() == 0 && nowMs() < openedAt + 5000)
        waitMs(4);
    out.firstSamplesMs = nowMs() - openedAt;
    waitMs(1000);
    capture.setSuspended(true);
    waitMs(1000);
    capture.setSuspended(false);
    qcDeviceIntercom intercom;
    const double click = nowMs();
    startTalk(intercom, port, &capture);
    Arrivals arrivals;
    const auto &counts = arrivals.counts;
    const double &opened = arrivals.opened;
    auto poll = [&] { arrivals.poll(sink, nowMs()); };
    auto waitPolling = [&](double untilMs) {
        while (nowMs() < untilMs) {
            waitMs(4);
            poll();
        }
    };
    const double start = nowMs();
    while (opened < 0 && nowMs() < start + 10000) {
        waitMs(4);
        poll();
    }
    if (opened < 0) {
        std::fprintf(stderr, "the talk connection did not open\n");
        intercom.stopIntercom();
        capture.stopCapture();
        return out;
    }
    auto arrivalOf = [&](int frameIndex) {
        for (const auto &c : counts)
            if (c.second > frameIndex)
                return c.first;
        return -1.0;
    };
    std::vector<std::pair<double, bool>> steps; // time, muted
    waitPolling(opened + 24000);
    for (int i = 0; i < 4; ++i) {
        const bool mute = i % 2 == 0;
        steps.emplace_back(nowMs(), mute);
        pulse.pactl({"set-sink-input-mute", sine, mute ? "1" : "0"});
        waitPolling(opened + 24000 + (i + 1) * 1500);
    }
    const double unclick = nowMs();
    intercom.stopIntercom();
    capture.stopCapture();
    waitMs(200);
    const auto rec = sink.record();
    pulse.pactl({"set-sink-input-mute", sine, "0"});
    out.talkSeconds = (unclick - click) / 1000;
    out.clickToClickShare = 100.0 * rec.audio.size() / ((unclick - click) * 8);

    out.continuous = rec.continuous;
    if (!counts.empty() && counts.front().second == 0 && counts.size() > 1)
        out.firstFrameAfterOpenMs = counts[1].first - opened;
    // Steady state: frames that arrived between 4 s and 24 s after the
    // opening frame.
    auto countAt = [&](double t) {
        int n = 0;
        for (const auto &c : counts)
            if (c.first <= t)
                n = c.second;
        return n;
    };
    const double a = opened + 4000, b = opened + 24000;
    const int frames = countAt(b) - countAt(a);
    out.framesPerSecond = frames / ((b - a) / 1000.0);
    out.samplesShare = 100.0 * frames * 320 / ((b - a) / 1000.0 * kRate);

    for (const auto &step : steps) {
        // The first frame that arrived after the step and carries its change.
        int from = 0;
        while (from < rec.frames && arrivalOf(from) >= 0 && arrivalOf(from) < step.first)
            ++from;
        const int f = firstFrameWhere(rec.audio, from, step.second);
        const double arrival = f < 0 ? -1 : arrivalOf(f);
        if (arrival < 0)
            ++out.stepsUnseen;
        else
            out.latency.add(arrival - step.first);
    }
    return out;
}

// The program's first talk: the microphone is opened at the click, as the
// stream service does when no talk has opened it yet. A null sink's monitor
// runs in two-second blocks while nobody asks it for less, and hands a new
// reader nothing before the current block ends; a sound card's input does
// not. So another reader keeps the test microphone at a short latency
// meanwhile, as a sound card's input always is. Counted from the click to
// the click.
double firstTalk(Pulse &pulse, devicesim::TalkSink &sink, int port, double *firstSamplesMs)
{
    QProcess keeper;
    keeper.setProcessEnvironment(pulse.daemon.environment());
    keeper.start(QStringLiteral("parec"),
                 {"-d", "mic.monitor", "--raw", "--format=s16le", "--rate=8000", "--channels=1", "--latency-msec=10"});
    if (!keeper.waitForStarted(5000) || !keeper.waitForReadyRead(5000))
        return -1;
    waitMs(500);
    sink.reset();
    qcAudioCapture capture;
    qcDeviceIntercom intercom;
    const double click = nowMs();
    if (!capture.startCapture()) {
        std::fprintf(stderr, "capture did not start: error %d\n", capture.lastError());
        return -1;
    }
    startTalk(intercom, port, &capture);
    *firstSamplesMs = -1;
    while (nowMs() < click + 30000) {
        waitMs(4);
        keeper.readAllStandardOutput();
        if (*firstSamplesMs < 0 && capture.bytesReady() > 0)
            *firstSamplesMs = nowMs() - click;
    }
    const double unclick = nowMs();
    intercom.stopIntercom();
    capture.stopCapture();
    waitMs(200);
    keeper.kill();
    keeper.waitForFinished(3000);
    return 100.0 * sink.record().audio.size() / ((unclick - click) * 8);
}

struct LumpFigures
{
    double share = 0;
    double shareFromClick = 0;
    double answerToFirstFrameMs = -1;
    Median delay;
    bool inOrder = false;
    qint64 dropped = 0;
};

// One talk of 30 s from a microphone that hands over lumps of `lumpMs`;
// frames are timed as they reach the device, polled every few ms.
LumpFigures lumpTalk(devicesim::TalkSink &sink, int port, int lumpMs)
{
    LumpFigures out;
    const AudioClock clock = monotonicAudioClock();
    auto *mic = new testsupport::LumpInput(lumpMs, clock);
    qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(mic));
    capture.setClock(clock);
    if (!capture.startCapture())
        return out;
    sink.reset();
    qcDeviceIntercom intercom;
    const double start = clock();
    startTalk(intercom, port, &capture);
    Arrivals arrivals;
    const auto &counts = arrivals.counts;
    const double &opened = arrivals.opened;
    qint64 firstFrameAt = -1; // on the device's clock
    while (opened < 0 ? clock() < start + 10000 : clock() < opened + 30000) {
        waitMs(4);
        arrivals.poll(sink, clock());
        if (firstFrameAt < 0 && !counts.empty() && counts.back().second > 0)
            firstFrameAt = devicesim::TalkSink::steadyMs();
    }
    intercom.stopIntercom();
    const double stopped = clock();
    capture.stopCapture();
    waitMs(200);
    const auto rec = sink.record();
    if (opened < 0 || rec.audio.size() < 320)
        return out;
    out.share = 100.0 * rec.audio.size() / ((stopped - opened) * 8);
    out.shareFromClick = 100.0 * rec.audio.size() / ((stopped - start) * 8);
    if (firstFrameAt >= 0 && rec.answeredAt >= 0)
        out.answerToFirstFrameMs = double(firstFrameAt - rec.answeredAt);
    out.dropped = intercom.droppedMs();
    const qint64 first = testsupport::LumpInput::indexOf(rec.audio, 0, mic->made());
    out.inOrder = first >= 0;
    for (int i = 0; out.inOrder && i < rec.audio.size(); ++i)
        out.inOrder = uint8_t(rec.audio[i]) == linearToMuLaw(testsupport::LumpInput::sample(first + i));
    // The frames that arrived after the stop (the rest of the last lump)
    // count at the stop.
    size_t c = 0;
    for (int f = 0; f < rec.frames; ++f) {
        while (c < counts.size() && counts[c].second <= f)
            ++c;
        const double arrival = c < counts.size() ? counts[c].first : stopped;
        out.delay.add(arrival - mic->recordedMs(first + 320 * f));
    }
    return out;
}

struct PaceFigures
{
    std::vector<double> medianPerMinute; // ms, recording to sending
    double longest = 0;
    qint64 droppedMs = 0;
    bool inOrder = false;
};

// Five minutes of talk from lumps of `lumpMs`, the pump late every 20 s by
// 100, 300 or 500 ms in turn.
PaceFigures pacedTalk(int lumpMs)
{
    PaceFigures out;
    testsupport::PacedTalk t(lumpMs);
    t.begin();
    const int lateness[] = {100, 300, 500};
    for (int i = 1; i * 20000 < 300000; ++i)
        t.run(i * 20000 + lateness[i % 3], i * 20000, i * 20000 + lateness[i % 3]);
    t.run(300000);
    t.stop();
    out.droppedMs = t.capture.trimmedBytes() / 16;
    const QVector<qint64> at = t.blockIndexes();
    out.inOrder = !at.contains(-1);
    std::vector<std::vector<double>> minutes(5);
    for (int f = 0; out.inOrder && f < t.sentAt.size(); ++f) {
        const double d = t.sentAt[f] - t.mic->recordedMs(at[f]);
        minutes[size_t(std::min<qint64>(4, t.sentAt[f] / 60000))].push_back(d);
        out.longest = std::max(out.longest, d);
    }
    for (const auto &m : minutes)
        out.medianPerMinute.push_back(m.empty() ? 0 : median(m));
    return out;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString clips = qEnvironmentVariable("ARDO_CLIPS_DIR");
    QString dump;
    const QStringList args = app.arguments();
    const bool talkOnly = args.contains(QStringLiteral("--talk-only"));
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--clips"))
            clips = args[i + 1];
        else if (args[i] == QLatin1String("--dump"))
            dump = args[i + 1];
    }
    for (int lumpMs : {20, 40, 100, 500, 2000}) {
        const PaceFigures p = pacedTalk(lumpMs);
        QStringList minutes;
        for (double m : p.medianPerMinute)
            minutes << fmt(m);
        std::printf("paced talk from lumps of %d ms, 5 min, the pump late by 100-500 ms every 20 s: delay (recording "
                    "to sending) median per minute %s ms, longest %s ms; %lld ms dropped, %s\n",
                    lumpMs, qPrintable(minutes.join(QStringLiteral(", "))), qPrintable(fmt(p.longest)),
                    qint64(p.droppedMs), p.inOrder ? "in order" : "NOT in order");
    }
    std::fflush(stdout);
    if (args.contains(QStringLiteral("--pace-only")))
        return 0;

    QTemporaryDir made;
    if (clips.isEmpty()) {
        clips = made.path();
        if (QProcess::execute(QStringLiteral(ARDO_MAKE_CLIPS), {clips}) != 0) {
            std::fprintf(stderr, "make-clips.sh failed\n");
            return 1;
        }
    }

    Pulse pulse;
    QString why;
    if (!pulse.daemon.start(&why)) {
        std::fprintf(stderr, "no PulseAudio: %s\n", qPrintable(why));
        return 1;
    }
    // The microphone: a sine into a null sink whose monitor is the default
    // source. Its latency follows what the client asks for, where the sine
    // source hands out two-second blocks whatever is asked.
    if (!pulse.pactl({"load-module", "module-null-sink", "sink_name=mic"}) ||
        !pulse.pactl({"load-module", "module-sine", "sink=mic", "frequency=440"}) ||
        !pulse.pactl({"set-default-source", "mic.monitor"}))
        return 1;

    devicesim::Device device;
    const devicesim::Protocols protocols = devicesim::installProtocols(device, clips);
    device.setCredentials(QStringLiteral("admin"), QStringLiteral("1234"));
    device.start();

    std::printf("load before: %s (%d cores)\n", qPrintable(loadAverage()), int(sysconf(_SC_NPROCESSORS_ONLN)));
    std::fflush(stdout);
    if (!talkOnly) {
        const LiveFigures live = liveSound(pulse, device.port(), dump);
        std::printf("live sound, steady state (15 s): silence %s %% (target < 1), longest gap %s ms (target <= 20)\n",
                    qPrintable(fmt(live.silenceShare, 2)), qPrintable(fmt(live.longestGapMs)));
        std::printf(
            "  longest wait between two of the device's audio records meanwhile: %s ms (they are 40 ms apart)\n",
            qPrintable(fmt(live.longestArrivalGapMs)));
        std::printf("  frame arrival to sound: %s ms (target < 300)\n", qPrintable(live.arrivalToSound.text()));
        std::printf("  sound on to sound:      %s ms\n", qPrintable(live.onToSound.text()));
        std::printf("  sound off to silence:   %s ms (target < 300); %d steps still sounding at the next step\n",
                    qPrintable(live.offToSilence.text()), live.offStepsUnsilenced);
        std::fflush(stdout);
    }
    const TalkFigures t = talk(pulse, *protocols.talk, device.port());
    std::printf("talk, steady state (4-24 s after the opening frame): %s frames/s (target >= 24.5 of 25), "
                "%s %% of the microphone's samples (target >= 97)\n",
                qPrintable(fmt(t.framesPerSecond, 2)), qPrintable(fmt(t.samplesShare, 1)));
    std::printf("  first frame %s ms after the opening frame; sequence %s\n", qPrintable(fmt(t.firstFrameAfterOpenMs)),
                t.continuous ? "continuous" : "with gaps");
    std::printf("  from the click to the click (%s s): %s %% of the microphone's samples reached the device (target >= "
                "95); the microphone, resumed for it, had given its first samples %s ms after it was opened\n",
                qPrintable(fmt(t.talkSeconds, 1)), qPrintable(fmt(t.clickToClickShare, 1)),
                qPrintable(fmt(t.firstSamplesMs)));
    std::printf("  talk latency (tone muted/unmuted to the first changed frame at the device): %s ms (target < "
                "300); %d steps not seen\n",
                qPrintable(t.latency.text()), t.stepsUnseen);
    double firstSamplesMs = -1;
    const double firstShare = firstTalk(pulse, *protocols.talk, device.port(), &firstSamplesMs);
    std::printf("first talk, the microphone opened at the click (30 s, click to click): %s %% of the microphone's "
                "samples reached the device (target >= 95); its first samples %s ms after the click\n",
                qPrintable(fmt(firstShare, 1)), qPrintable(fmt(firstSamplesMs)));
    std::fflush(stdout);
    for (int lumpMs : {20, 100, 500, 2000}) {
        const LumpFigures l = lumpTalk(*protocols.talk, device.port(), lumpMs);
        std::printf("talk from lumps of %d ms (30 s): %s %% of the samples (target >= 95), %s %% from the click, %s, "
                    "%lld ms dropped; first frame %s ms after the device's answer\n",
                    lumpMs, qPrintable(fmt(l.share, 1)), qPrintable(fmt(l.shareFromClick, 1)),
                    l.inOrder ? "in order" : "NOT in order", qint64(l.dropped),
                    qPrintable(fmt(l.answerToFirstFrameMs)));
        std::printf("  recording to device: %s ms\n", qPrintable(l.delay.text()));
        std::fflush(stdout);
    }
    std::printf("load after: %s\n", qPrintable(loadAverage()));
    device.stop();
    return 0;
}
