#pragma once

#include <QWidget>

class QLabel;
class QMovie;

// Translucent, window-modal waiting indicator; closes and deletes itself
// after 300 ms unless closed earlier.
class qwWaittingDlg : public QWidget
{
    Q_OBJECT
public:
    static const int kLifetimeMs = 300;

    explicit qwWaittingDlg(QWidget *parent);
    ~qwWaittingDlg() override;

public slots:
    void OnClose();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    int m_timerId = -1;
    QLabel *m_label = nullptr;
    QMovie *m_movie = nullptr;
};
