#pragma once

#include "app/widgets/basewindow.h"

class CGIUtil;
class QComboBox;
class QPushButton;

enum ScheduleDialogKind {
    SCHEDULE_ALARM = 10577,
    SCHEDULE_RECORD = 10578,
    SCHEDULE_SNAPSHOT = 10579,
    SCHEDULE_FTPUPLOAD = 10580,
};

// Switches one of the device's schedules between off, all the time and by
// schedule. It sends the device's own document back with only the mode
// changed, so the week of time sections stays as the device holds it.
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

private slots:
    void onReply(int id);
    void onResult(int id, int code);
    void onSave();

protected:
    void showEvent(QShowEvent *event) override;

private:
    int m_kind;
    bool m_ready = false;
    bool m_asked = false;
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
    QByteArray m_document;
    CGIUtil *m_request = nullptr;
    QComboBox *m_mode = nullptr;
    QPushButton *m_save = nullptr;
};
