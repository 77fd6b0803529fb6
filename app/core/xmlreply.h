#pragma once

#include <QByteArray>

class CGIUtil;

// Whether a device's XML reply can be read as the device sent it. Every
// reader that shows a device's values or sends them back judges its reply
// here, so that a page and a panel never disagree on what a failed read is.
namespace xmlreply {

// One closed document with at least one element, an element of that name
// among them (any, when null), and every byte valid UTF-8 whatever the
// document declares: text decoded from other bytes would be shown made up
// and sent back re-encoded.
bool usableBody(const QByteArray &body, const char *element);

// The body the finished request kept is the whole one received (a longer
// one is kept only in part) and usable.
bool usableWholeBody(const CGIUtil &request, const char *element);

} // namespace xmlreply
