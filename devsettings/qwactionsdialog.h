#pragma once

#include "app/widgets/basewindow.h"

class DeviceDocumentRequest;
class DevsetReadState;
class QCheckBox;
class QLabel;
class QPushButton;

// The actions the device's motion alarm triggers (recording, snapshots,
// FTP upload, e-mail, alarm output, server notice, audio alert), one check
// box each, enabled only for the actions the device's alarm document
// holds. Saving reads the document again and sends it back with only those
// actions changed, so that the alarm's schedule in the same document stays.
class qwActionsDialog : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwActionsDialog(QWidget *parent);
    ~qwActionsDialog() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);
    QStringList login() const { return {m_devip, m_httpport, m_username, m_password}; }

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void onRead(const QByteArray &body, qint64 length);
    void onSaveDone(bool ok);
    void onSave();

private:
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
    bool m_asked = false;
    DeviceDocumentRequest *m_request = nullptr;
    DevsetReadState *m_readState = nullptr;
    QList<QCheckBox *> m_boxes; // in the order of AlarmActionsDocument::keys()
    QLabel *m_noActions = nullptr;
    QPushButton *m_save = nullptr;
};
