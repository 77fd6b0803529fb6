#include "localsettings/qwlocalschedules.h"

#include "app/core/database.h"
#include "app/widgets/qwweekeditor.h"
#include "app/widgets/refusal.h"
#include "app/widgets/userrights.h"
#include "localsettings/localpagelook.h"
#include "localsettings/schedulenotes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using localpage::text;

qwLocalSchedules::qwLocalSchedules(QWidget *parent) : QWidget(parent)
{
    localpage::applyDarkLook(this, QStringLiteral("widget_LocalSchedules"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("listWidget_Schedules"));
    m_list->setFixedWidth(220);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("label_ScheduleTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_idleNote = new QLabel(this);
    m_idleNote->setObjectName(QStringLiteral("label_ScheduleIdle"));
    m_idleNote->setWordWrap(true);
    m_idleNote->hide();

    qwWeekEditor::Options options;
    options.lastMinute = weeksections::kDayMinutes;
    options.kindNames = QStringList{text("skdtiming"), text("skdalarm")};
    options.removeTip = text("deleteopt", localpage::CommonTexts);
    QStringList days;
    for (int d = 0; d < weeksections::kDays; ++d)
        days << weeksections::dayName(d);
    m_editor = new qwWeekEditor(days, options, this);
    m_editor->setObjectName(QStringLiteral("widget_Week"));

    m_restore = new QPushButton(text("restoreopt", localpage::CommonTexts), this);
    m_restore->setObjectName(QStringLiteral("pushButton_Restore"));
    m_save = new QPushButton(text("saveopt", localpage::CommonTexts), this);
    m_save->setObjectName(QStringLiteral("pushButton_Save"));
    for (QPushButton *button : {m_restore, m_save})
        button->setMinimumWidth(90);
    connect(m_restore, &QPushButton::clicked, this, &qwLocalSchedules::onRestore);
    connect(m_save, &QPushButton::clicked, this, &qwLocalSchedules::onSave);
    connect(m_list, &QListWidget::currentRowChanged, this, &qwLocalSchedules::showSubject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_restore);
    buttons->addWidget(m_save);
    auto *column = new QVBoxLayout;
    column->addWidget(m_title);
    column->addWidget(m_idleNote);
    column->addWidget(m_editor);
    column->addStretch();
    column->addLayout(buttons);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(16);
    row->addWidget(m_list);
    row->addLayout(column, 1);
}

void qwLocalSchedules::reload()
{
    ReadStatus status;
    const QList<localschedules::Subject> subjects = localschedules::load(g_database, &status);
    // What the page holds stays as it is, greyed, until a read works.
    if (!localpage::showRead(this, status, {m_list, m_editor, m_save}))
        return;
    const int selected = qMax(0, m_list->currentRow());
    m_shown = -1;
    m_subjects = subjects;
    m_edits.clear();
    const QSignalBlocker block(m_list);
    m_list->clear();
    for (const localschedules::Subject &s : qAsConst(m_subjects)) {
        m_edits << Edit{s.week.week, QVector<bool>(weeksections::kDays, false)};
        m_list->addItem(s.kind == localschedules::kSnapshot ? text("capschedule")
                                                            : QStringLiteral("%1 (%2)").arg(s.name, s.address));
    }
    m_list->setCurrentRow(qMin(selected, m_list->count() - 1));
    showSubject(m_list->currentRow());
}

void qwLocalSchedules::keepEdit()
{
    if (m_shown < 0 || m_shown >= m_edits.size())
        return;
    m_edits[m_shown] = Edit{m_editor->week(), m_editor->changedDays()};
}

void qwLocalSchedules::showSubject(int index)
{
    keepEdit();
    m_shown = index;
    updateIdleNote();
    if (index < 0 || index >= m_subjects.size()) {
        m_editor->setWeek(WeekSections(weeksections::kDays));
        m_title->clear();
        return;
    }
    const localschedules::Subject &s = m_subjects.at(index);
    const Edit &edit = m_edits.at(index);
    m_title->setText(m_list->item(index)->text());
    m_editor->setWeek(edit.week);
    for (int d = 0; d < weeksections::kDays; ++d) {
        if (!s.week.readable.at(d) && !edit.changed.at(d))
            m_editor->setKept(d, s.week.texts.at(d));
    }
    m_editor->setChangedDays(edit.changed);
}

void qwLocalSchedules::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateIdleNote();
}

void qwLocalSchedules::updateIdleNote()
{
    const QString note = m_shown >= 0 && m_shown < m_subjects.size()
                             ? schedulenotes::idleNotes(g_database, {m_subjects.at(m_shown).kind})
                             : QString();
    m_idleNote->setText(note);
    m_idleNote->setVisible(!note.isEmpty());
}

void qwLocalSchedules::onRestore()
{
    reload();
}

void qwLocalSchedules::onSave()
{
    if (!userrights::check(this, userrights::ScheduleManagement))
        return;
    keepEdit();
    // Every schedule is checked before anything is written.
    for (int i = 0; i < m_edits.size(); ++i) {
        WeekSections week = m_edits.at(i).week;
        const weeksections::Refusal refusal = weeksections::check(&week);
        if (refusal.day < 0)
            continue;
        m_list->setCurrentRow(i);
        localpage::showTipText(this, localpage::FailureTip, weeksections::refusalKey(refusal),
                               m_list->item(i)->text() + QStringLiteral(", ") + weeksections::refusalText(refusal));
        return;
    }
    QList<int> kindsWritten;
    for (int i = 0; i < m_subjects.size(); ++i) {
        const localschedules::Subject &s = m_subjects.at(i);
        const QStringList texts = weeksections::mergedTexts(s.week, m_edits.at(i).week, m_edits.at(i).changed);
        if (texts == s.week.texts)
            continue;
        QString why;
        if (!localschedules::save(g_database, s, texts, &why)) {
            refuse(i, why, !kindsWritten.isEmpty());
            return;
        }
        kindsWritten << s.kind;
        schedulenotes::logSaved(s);
        m_subjects[i] = localschedules::saved(s, texts);
        m_edits[i] = Edit{m_subjects.at(i).week.week, QVector<bool>(weeksections::kDays, false)};
    }
    const bool wrote = !kindsWritten.isEmpty();
    // Saved is not the same as recording: say so while a switch is off.
    if (!wrote && m_shown >= 0 && m_shown < m_subjects.size())
        kindsWritten << m_subjects.at(m_shown).kind;
    const QString notes = schedulenotes::idleNotes(g_database, kindsWritten);
    const QString saved = localpage::text("setsuccess", localpage::TipTexts);
    localpage::showTipText(this, localpage::SuccessTip, "setsuccess",
                           notes.isEmpty() ? saved : saved + QStringLiteral(". ") + notes);
    reload();
    if (wrote)
        emit sigSaved();
}

void qwLocalSchedules::refuse(int index, const QString &why, bool wroteBefore)
{
    // No reload: the database may not even be readable now, and what was
    // typed into the refused schedule and the ones after it must stay to be
    // saved again. The ones written before it show as stored.
    m_shown = -1;
    {
        const QSignalBlocker block(m_list);
        m_list->setCurrentRow(index);
    }
    showSubject(index);
    const localschedules::Subject &s = m_subjects.at(index);
    refusal::tell(this, "modify schedule", s.name, s.address, refusal::note(schedulenotes::kindName(s.kind), why));
    // What was written holds and has to reach the recorder.
    if (wroteBefore)
        emit sigSaved();
}
