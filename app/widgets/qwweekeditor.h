#pragma once

#include "app/core/weeksections.h"

#include <QStringList>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

// The week of a schedule, one row of time sections per day (Sunday first),
// each section with its start, its end and a remove button; a day's add
// button puts a new section into its first free hour. The device schedule
// dialog edits a device's week in it (times of a day up to 23:59), the local
// schedules page the client's own (up to 24:00, each section timing or
// alarm).
//
// A day marked as kept shows a stored text the editor cannot read; it is
// not part of week() until the operator changes that day.
class qwWeekEditor : public QWidget
{
    Q_OBJECT
public:
    struct Options
    {
        int lastMinute = 23 * 60 + 59;
        // Names of the section kinds in the order of their numbers; none:
        // sections have no kind to choose (it stays 0).
        QStringList kindNames;
        QString removeTip;
    };

    qwWeekEditor(const QStringList &dayNames, const Options &options, QWidget *parent = nullptr);

    // Replaces every day; no day counts as changed afterwards. A day takes
    // as many sections as the fullest day of that week holds, at least 4.
    void setWeek(const WeekSections &week);
    // Shows the stored text of a day that cannot be read, until it changes.
    void setKept(int day, const QString &text);
    void setChangedDays(const QVector<bool> &changed);

    // The week as the editor holds it now, in each day's order on screen.
    WeekSections week() const;
    // The days the operator added, removed or edited a section of.
    QVector<bool> changedDays() const { return m_changed; }

private:
    struct Day
    {
        QWidget *row = nullptr;
        QHBoxLayout *layout = nullptr;
        QPushButton *add = nullptr;
        QWidget *kept = nullptr;
        QList<QWidget *> sections;
    };

    void addSection(int day, const TimeSection &section);
    void removeSection(int day, QWidget *section);
    // Removes the kept text of the day, and its sections unless keptOnly.
    void clearDay(int day, bool keptOnly);
    void updateAddButtons();
    QWidget *timeField(QWidget *parent, const char *name, int minutes) const;

    static constexpr int kLeastSections = 4;

    Options m_options;
    int m_maxSections = kLeastSections;
    Day m_days[weeksections::kDays];
    QVector<bool> m_changed = QVector<bool>(weeksections::kDays, false);
};
