// libFuzzer: the record file reader and the index walks on arbitrary bytes.
// The input is split at its first byte: that many bytes (times 8) become the
// folder's kfindex, the rest the record file.

#include "media/qcrecordfile.h"
#include "media/recordindex.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t indexBytes = std::min(size - 1, size_t(data[0]) * 8);
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const QString dir = folder().path();
    put(recordindex::kfindexPath(dir), bytes, indexBytes);
    put(recordindex::reclistPath(dir), bytes, indexBytes);
    const QString file = dir + "/f.zmf";
    put(file, bytes + indexBytes, size - 1 - indexBytes);

    recordindex::readKfindex(dir);
    recordindex::readReclist(dir);
    recordindex::summarise(recordio::scan(file));
    qcRecordFile reader(qcRecordFile::kReader);
    reader.setIndexRange(uint32_t(size % 64), uint32_t(size % 5));
    if (!reader.open(file))
        return 0;
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
    return 0;
}
