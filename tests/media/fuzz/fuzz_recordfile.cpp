// libFuzzer: the record file reader, the index walks, the start-up repair and
// the recovery after a time jump on arbitrary bytes. The input is split at
// its first byte: that many bytes (times 8) become the folder's kfindex and
// reclist, the rest a recording a crash left unfinished. After the repair
// neither index may end in a torn record.

#include "media/qcrecordfile.h"
#include "media/recordindex.h"
#include "media/recordnames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace {

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

void put(const QString &path, const char *data, size_t size)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(data, qint64(size));
}

// The repair, then the recovery after the time went back to the end of the
// last listed recording (its file made when the input names one).
void repairAndRecover(const QString &dir)
{
    recordindex::repairFolder(dir, dir);
    bool kfTorn = false, listTorn = false;
    recordindex::readKfindex(dir, &kfTorn);
    const QList<recordindex::ListRecord> list = recordindex::readReclist(dir, &listTorn);
    if (kfTorn || listTorn)
        __builtin_trap();
    if (list.isEmpty())
        return;
    const _st_reclist_item last = list.last().item;
    if (recordnames::parseName(last.name).finished)
        put(dir + '/' + last.name, "", 0);
    recordindex::recoverAfterJump(dir, dir, qint64(last.end), last.name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t indexBytes = std::min(size - 1, size_t(data[0]) * 8);
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const QString dir = folder().path();
    for (const QString &name : QDir(dir).entryList(QDir::Files))
        QFile::remove(dir + '/' + name);
    put(recordindex::kfindexPath(dir), bytes, indexBytes);
    put(recordindex::reclistPath(dir), bytes, indexBytes);
    const QString file = dir + "/RECV1_TIMING_10-0-0-5_08-00-00-000_.zmf";
    put(file, bytes + indexBytes, size - 1 - indexBytes);

    recordindex::readKfindex(dir);
    recordindex::readReclist(dir);
    recordindex::summarise(recordio::scan(file));
    qcRecordFile reader(qcRecordFile::kReader);
    reader.setIndexRange(uint32_t(size % 64), uint32_t(size % 5));
    if (!reader.open(file)) {
        repairAndRecover(dir);
        return 0;
    }
    RecordMediaInfo info;
    quint8 decoder = 0;
    reader.getMediaInfo(&info, &decoder);
    static std::unique_ptr<char[]> buffer(new char[_st_recframe_header::kMaxLength]);
    int code = 0, length = 0;
    uint64_t ts = 0;
    for (int i = 0; i < 64 && reader.readFrame(buffer.get(), 4096, &code, &ts, &length); ++i) {
    }
    reader.seekTime(ts / 2);
    reader.readFrame(buffer.get(), int(_st_recframe_header::kMaxLength), &code, &ts, &length);
    reader.close();
    repairAndRecover(dir);
    return 0;
}
