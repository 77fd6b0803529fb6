#pragma once

#include <QString>

// Texts of the live page and its windows come from the language table; the
// key itself stands in when no table is loaded.
QString liveText(int page, int section, const char *key);

namespace livetext {
constexpr int kCommonPage = 33;
constexpr int kPreviewPage = 34;
constexpr int kTipsPage = 38;
constexpr int kNoSection = 48;
constexpr int kAlarmActions = 51;
constexpr int kAlarmList = 65;
constexpr int kDeviceAdd = 66;
constexpr int kAlarmTypes = 67;
} // namespace livetext
