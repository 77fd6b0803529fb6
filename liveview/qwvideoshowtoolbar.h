#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

// The bar on top of a view that shows a device: zoom, snapshot, record, stop
// and play, and a "Recording" label.
class qwVideoshowToolbar : public QWidget
{
    Q_OBJECT
public:
    enum Button { Zoom = 1, Snapshot = 2, Record = 4, Stop = 8, Play = 16 };
    static const int kRecordingMinWidth = 136;

    qwVideoshowToolbar(QWidget *parent, int index);

    void setIndex(int index) { m_index = index; }
    int index() const { return m_index; }
    void setButtonState(int mask, bool active);
    void showRecording(bool on);
    QToolButton *button(int id) const;
    QLabel *recordingLabel() const { return m_recording; }
    bool isZoomActive() const { return m_zoomOn; }
    bool isRecordActive() const { return m_recordOn; }

signals:
    void sigToolbarButtonClick(int index, int btnid, int status);

private:
    QToolButton *makeButton(int id, const QString &icon, const QString &tip);
    void onButton(int id);
    void applyLook(QToolButton *button, bool active);

    int m_index;
    bool m_zoomOn = false;
    bool m_recordOn = false;
    QToolButton *m_zoom = nullptr;
    QToolButton *m_snapshot = nullptr;
    QToolButton *m_record = nullptr;
    QToolButton *m_stop = nullptr;
    QToolButton *m_play = nullptr;
    QLabel *m_recording = nullptr;
};
