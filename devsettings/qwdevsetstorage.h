#pragma once

#include <QWidget>

class CGIUtil;
class DevsetReadState;
class QLabel;
class QPushButton;

// The device's disk: its state, its use as a pie with two legends, and
// Format.
class qwDevsetStorage : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetStorage(QWidget *parent);
    ~qwDevsetStorage() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    // The used share of the pie in whole degrees.
    int pieAngle() const;

signals:
    void sigCloseWaittingDlg();

public slots:
    void OnInitParameters(int pageid);
    void OnCGIDataCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnBtnRefreshClicked();
    void OnBtnFormatClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void readDisk();
    void showUsage(qint64 total, qint64 free);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    CGIUtil *m_diskRequest = nullptr;
    CGIUtil *m_formatRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    qint64 m_total = 0;
    qint64 m_used = 0;
    bool m_diskReady = false;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_format = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_formatted = nullptr;
    QLabel *m_usedLegend = nullptr;
    QLabel *m_freeLegend = nullptr;
    QWidget *m_pie = nullptr;
};
