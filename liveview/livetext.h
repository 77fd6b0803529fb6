#pragma once

#include "app/core/readstatus.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QString>

class QLabel;
class QWidget;

// Texts of the live page and its windows come from the language table; the
// key itself stands in when no table is loaded.
QString liveText(int page, int section, const char *key);

// A popup keeps the object name its style sheet selects it by; the key of
// its text rides along as the property kTipKey, so that it can be told apart.
namespace livetext {
constexpr const char *kTipKey = kTipKeyProperty;

constexpr int kCommonPage = 33;
constexpr int kPreviewPage = 34;
constexpr int kTipsPage = 38;
constexpr int kNoSection = 48;
constexpr int kAlarmActions = 51;
constexpr int kAlarmList = 65;
constexpr int kDeviceAdd = 66;
constexpr int kAlarmTypes = 67;

// The red tip the live page speaks through, with the text of its key on the
// tips page, which slides away by itself; its reminders with a Close button
// are refusal::showReminder (app/widgets/refusal.h).
void showFailureTip(QWidget *parent, const char *key);

// The line a panel shows in place of values while the last read of its
// device failed; hidden at first.
QLabel *makeReadNote(QWidget *parent);

// A device the live page added, changed, deleted or left out, in the system
// log under the current user. A refused change is logged as abnormal so that
// the attempt stays visible.
void logDeviceChange(const char *decl, const QString &name, const QString &address, bool succeeded,
                     const QString &note = QString());
// A read of the local database that failed: the tip "databasebusy" (another
// program holds the file) or "databaseerr" over `parent`, and a record of
// what could not be read and what happens meanwhile (`note`).
void tellUnread(QWidget *parent, ReadStatus status, const QString &note);
} // namespace livetext
