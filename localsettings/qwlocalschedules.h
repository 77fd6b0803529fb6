#pragma once

#include "localsettings/localschedules.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;
class qwWeekEditor;

// The schedules sub-page: the snapshot schedule and each device's recording
// schedule, one week at a time in the week editor. Edits of every schedule
// are kept while the operator moves between them; Save checks them all and
// writes nothing when one is refused, Restore shows the stored rows again.
// A write the database refuses ends the save there: that schedule and the
// ones after it keep what was typed.
class qwLocalSchedules : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalSchedules(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();

    QListWidget *subjectList() const { return m_list; }
    qwWeekEditor *weekEditor() const { return m_editor; }
    // Says that the shown schedule does nothing while its switch is off.
    QLabel *idleNote() const { return m_idleNote; }

public slots:
    void onSave();
    void onRestore();

signals:
    void sigSaved();

protected:
    // The switches may have changed in System meanwhile.
    void showEvent(QShowEvent *event) override;

private:
    struct Edit
    {
        WeekSections week;
        QVector<bool> changed;
    };

    void showSubject(int index);
    void keepEdit();
    void updateIdleNote();
    // Tells and logs the refused write of schedule index, which is shown
    // with what was typed; announces what was written before it.
    void refuse(int index, const QString &why, bool wroteBefore);

    QListWidget *m_list = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_idleNote = nullptr;
    qwWeekEditor *m_editor = nullptr;
    QPushButton *m_restore = nullptr;
    QPushButton *m_save = nullptr;
    QList<localschedules::Subject> m_subjects;
    QList<Edit> m_edits;
    int m_shown = -1;
};
