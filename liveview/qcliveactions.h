#pragma once

#include <QObject>
#include <QString>

class qwLiveView;
struct _st_view_item;

// What the buttons of the views' tool bars and of the live page's bar do,
// and how the page announces finished recordings and snapshots. The page
// owns it and forwards its slots here; it works on the page's views,
// records and stream service.
class qcLiveActions : public QObject
{
    Q_OBJECT
public:
    explicit qcLiveActions(qwLiveView *page);

    void toolbarButton(int index, int btnid, int status);
    void zoomResult(QObject *camera);
    void playAll();
    void stopAll();
    void snapshotAll();
    void recordAll();
    void speaker(QObject *button);
    void volume(int value);
    void microphone(QObject *button);
    // The stream service's word that a talk cannot go on (a talklog::End).
    void talkEnded(const QString &ipaddr, int end);
    void openAlarmWindow();
    void recordSnapshot(QObject *sender, const QString &ipaddr, const QString &filepath, int type);
    // A view's snapshot refused or not stored (a capturefile cause).
    void snapshotFailed(int error);
    void scheduleRecord(const QString &ipaddr);
    // Stops the view's tool-bar recording before the view goes.
    void stopViewRecording(_st_view_item *record);

    QString captureRoot() const;

protected:
    // Watches the volume slider for the end of a run of steps.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    _st_view_item *recordOfView(int index) const;
    _st_view_item *recordOfAddress(const QString &ipaddr) const;
    void setRecordButtonIdle();
    void showSound(bool on);
    void showTalk(bool on);

    qwLiveView *m_page;
};
