#include "motionstatus.h"

#include <QElapsedTimer>
#include <QStringList>

#include <array>
#include <memory>

namespace devicesim {

namespace {

constexpr int kRows = 24;
constexpr int kCols = 40;
constexpr int kWords = (kRows * kCols + 31) / 32;
constexpr int kBlockCols = 4;
constexpr int kBlockRows = 3;
constexpr qint64 kStepMs = 200;
constexpr qint64 kWaveMs = 6000;

QByteArray statusAt(qint64 ms)
{
    const qint64 phase = ms % kWaveMs;
    const qint64 move = phase < kWaveMs / 2 ? phase * 200 / (kWaveMs / 2) : (kWaveMs - phase) * 200 / (kWaveMs / 2);
    std::array<quint32, kWords> bits{};
    const int left = int(ms / kStepMs % kCols);
    const int top = (kRows - kBlockRows) / 2;
    for (int i = top; i < top + kBlockRows; ++i) {
        for (int j = left; j < left + kBlockCols && j < kCols; ++j) {
            const int k = i * kCols + j;
            bits[size_t(k / 32)] |= quint32(1) << (k % 32);
        }
    }
    QStringList words;
    for (quint32 w : bits)
        words << QStringLiteral("%1").arg(w, 8, 16, QLatin1Char('0'));
    return "<response><mdstatus><row>" + QByteArray::number(kRows) + "</row><col>" + QByteArray::number(kCols) +
           "</col><move>" + QByteArray::number(move) + "</move><cell>" + words.join(QLatin1Char(',')).toLatin1() +
           "</cell></mdstatus></response>";
}

} // namespace

std::function<QByteArray()> motionStatusSource()
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [clock] { return statusAt(clock->elapsed()); };
}

} // namespace devicesim
