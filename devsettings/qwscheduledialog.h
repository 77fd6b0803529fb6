#pragma once

#include "app/widgets/basewindow.h"
#include "devsettings/devicedocument.h"

class DeviceDocumentRequest;
class DevsetReadState;
class QComboBox;
class QLabel;
class QPushButton;
class qwWeekEditor;

enum ScheduleDialogKind {
    SCHEDULE_ALARM = 10577,
    SCHEDULE_RECORD = 10578,
    SCHEDULE_SNAPSHOT = 10579,
    SCHEDULE_FTPUPLOAD = 10580,
};

// One of the device's schedules: its mode (off, all the time, by schedule)
// and its week of time sections, which the operator adds, changes and
// removes per day. Saving reads the schedule again and sends the device's
// own document back with only `active` and the week replaced, so that
// whatever else it holds (the motion alarm's actions) stays. A week the
// dialog cannot read whole is shown as not editable and left as it is.
class qwScheduleDialog : public BaseWindow
{
    Q_OBJECT
public:
    qwScheduleDialog(QWidget *parent, int kind);
    ~qwScheduleDialog() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    int kind() const { return m_kind; }
    bool isReady() const { return m_ready; }
    QStringList login() const { return {m_devip, m_httpport, m_username, m_password}; }
    QString subject() const;

    // The week as the editor holds it now, in each day's order on screen.
    WeekSections editedWeek() const;

signals:
    // The device took the mode (0 off, 1 all the time, 2 by schedule).
    void sigModeStored(int active);

private slots:
    void onRead(const QByteArray &body, qint64 length);
    void onSaveDone(bool ok);
    void onSave();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildWeek(const ScheduleDocument &doc);

    int m_kind;
    bool m_ready = false;
    bool m_asked = false;
    bool m_weekEditable = false;
    int m_sentMode = -1;
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
    DeviceDocumentRequest *m_request = nullptr;
    DevsetReadState *m_readState = nullptr;
    QComboBox *m_mode = nullptr;
    QLabel *m_notEditable = nullptr;
    qwWeekEditor *m_week = nullptr;
    QPushButton *m_save = nullptr;
};
