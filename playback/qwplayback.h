#pragma once

#include <QWidget>

class QTableWidget;

// The playback page: the list of stored devices. There is no local
// playback controller, so pausing and resuming have nothing to act on.
class qwPlayback : public QWidget
{
    Q_OBJECT
public:
    explicit qwPlayback(QWidget *parent = nullptr);

    // Fills the device list again from the database unless a playback runs.
    void refreshPage();
    void pausePlayback();
    void resumePlayback();

    QTableWidget *deviceList() const { return m_devices; }

private:
    QTableWidget *m_devices = nullptr;
    // Set while a playback runs; nothing on this page starts one.
    bool m_playing = false;
};
