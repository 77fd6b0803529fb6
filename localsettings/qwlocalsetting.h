#pragma once

#include <QWidget>

class QButtonGroup;
class QStackedWidget;
class QTableWidget;
class qwLocalAbout;
class qwLocalLog;
class qwLocalOptions;
class qwLocalSchedules;
class qwLocalUsers;

// The local settings page: a column of sub-page buttons on the left and the
// chosen sub-page beside it (system options, schedules, users and rights,
// system log, about). Every sub-page reads the database again on reloadAll,
// so edits that were not saved are dropped when the page is shown again; the
// log then starts at today's records of every kind, and lists again under
// the operator's filters each time it comes up within the page.
class qwLocalSetting : public QWidget
{
    Q_OBJECT
public:
    enum SubPage { OptionsPage = 0, SchedulesPage, UsersPage, LogPage, AboutPage, SubPageCount };

    explicit qwLocalSetting(QWidget *parent = nullptr);

    // Reads every sub-page again from the database: the page is entered.
    void reloadAll();

    // Shows a sub-page without asking for its right (reloadAll and the
    // buttons ask first).
    void showSubPage(int index);
    int currentSubPage() const;
    // Whether the logged-in user holds the right the sub-page asks for.
    static bool mayShow(int index);
    static int firstAllowedSubPage();

    qwLocalSchedules *schedulesPage() const { return m_schedules; }

    QTableWidget *userList() const;

signals:
    // Options or schedules were saved: whoever runs recordings and captures
    // takes them up now, not at the next start.
    void sigLocalConfigChanged();

private:
    // A sub-page button: the sub-page when the user holds its right, else
    // the "permdenied" tip and the sub-page shown stays.
    void onSubPageButton(int index);

    QButtonGroup *m_buttons = nullptr;
    QStackedWidget *m_stack = nullptr;
    qwLocalOptions *m_options = nullptr;
    qwLocalSchedules *m_schedules = nullptr;
    qwLocalUsers *m_users = nullptr;
    qwLocalLog *m_log = nullptr;
    qwLocalAbout *m_about = nullptr;
};
