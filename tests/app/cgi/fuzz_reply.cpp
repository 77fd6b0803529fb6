// libFuzzer target: the request thread's reply accessors on a body as a
// device might send it.
#include <cstddef>
#include <cstdint>

#include "app/core/cgiutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    // One request object for all inputs: each body starts from a clean reply.
    static CGIUtil util(1);
    util.setReplyBody(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    int value = 0;
    QString text;
    util.parseReply();
    util.getXmlInt(QStringLiteral("a"), &value);
    util.getXmlString(QStringLiteral("b"), &text);
    for (bool fromRoot : {true, false}) {
        if (!util.enterSection(QStringLiteral("s"), fromRoot))
            continue;
        do {
            for (int nth = 0; nth < 3; ++nth) {
                util.getSectionInt(QStringLiteral("k"), &value, nth);
                util.getSectionString(QStringLiteral("k"), &text, nth);
            }
            util.getSectionChildInt(QStringLiteral("k"), &value);
            util.getSectionText(&text);
        } while (util.nextSection());
    }
    return 0;
}
