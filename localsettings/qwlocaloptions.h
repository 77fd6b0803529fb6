#pragma once

#include "localsettings/localoptions.h"
#include "localsettings/qwnumberedit.h"

#include <QHash>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;

// The system options sub-page: folders, automatic actions, default device
// credentials, and the recording and snapshot options, with Restore and
// Save. Reading, checking and writing are LocalOptions'; this page shows
// them and says what went wrong.
class qwLocalOptions : public QWidget
{
    Q_OBJECT
public:
    // Asks the operator for a folder, starting at the one given; an empty
    // result means cancelled.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &start)>;

    explicit qwLocalOptions(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();

    // Replaces the folder dialog (null restores it).
    static void setFolderChooser(FolderChooser chooser);

signals:
    void sigSaved();

private slots:
    void onSave();

private:
    void showValues(const LocalOptionValues &values);
    LocalOptionValues shownValues() const;
    void showProblem(const LocalOptions::Check &check);
    void writeLog(const QStringList &columns);
    QWidget *fieldOf(const QString &column) const;

    // Building the form, one row per option; each returns the field.
    QCheckBox *addFlag(QGridLayout *grid, const char *column, const char *key);
    QLineEdit *addText(QGridLayout *grid, const char *column, const char *key, QWidget *after = nullptr);
    QLineEdit *addFolder(QGridLayout *grid, const char *column, const char *key);
    qwNumberEdit *addNumber(QGridLayout *grid, const char *column, const char *key, qwNumberEdit::Unit unit);
    QComboBox *addChoice(QGridLayout *grid, const char *column, const char *key, const QStringList &texts,
                         const QString &unit = QString());
    // Names the field "<class without its Q>_<column>" and puts it beside
    // its label, with what follows it (a unit, a button) after it.
    void addRow(QGridLayout *grid, const char *column, const char *key, QWidget *field, QWidget *after = nullptr);

    LocalOptions m_options;
    QHash<QString, QWidget *> m_fields; // by column
    QHash<QString, QString> m_labels;   // by column
};
