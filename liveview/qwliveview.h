#pragma once

#include "app/core/records.h"
#include "liveview/livegrid.h"
#include "liveview/qclivelocalconfig.h"
#include "liveview/viewvolumes.h"

#include <QDateTime>
#include <QList>
#include <QModelIndex>
#include <QString>
#include <QWidget>

class QLabel;
class QListWidget;
class QSlider;
class QThread;
class StatusButton;
class Ui_qwLiveView;
class qcDeviceWindows;
class qcFullScreenArea;
class qcLiveActions;
class qcLiveAlarms;
class qcLiveDeviceRequests;
class qcReadRetry;
class qcCameraUtil;
class qcDatabase;
class qcStreamServer;
class qwCameraItem;
class qwCstmVideoview;
class qwImagePanel;
class qwModifyDevice;
class qwPtzPanel;
class qwSelectMultMode;
class qwVideoshowToolbar;

// One view that shows a device: its camera glue, the device record (an entry
// of the page's device list, not owned), the view index and the list row.
struct _st_view_item
{
    qcCameraUtil *camera = nullptr;
    _st_device_item *device = nullptr;
    int view = -1;
    int row = -1;
    bool recording = false;
};

// The live page: device list on the right, a grid of up to 64 video views
// with the button bar under it. It owns the stream service, which runs on a
// thread of its own and keeps every listed device's streams open, and one
// camera glue per view that shows a device.
class qwLiveView : public QWidget
{
    Q_OBJECT
public:
    static const int kMaxViews = livegrid::kMaxViews;
    static const int kStartTimerMs = 400;
    // How long the destructor waits for the stream service before it says so.
    static const int kShutdownWarnMs = 10000;

    explicit qwLiveView(QWidget *parent = nullptr);
    ~qwLiveView() override;

    // Device rows.
    int addCameraItem(const QString &name, const QString &info, int status);
    void setCameraItemState(int row, int status, int enableMask);

    // Grid.
    void ensureViews(int n);
    bool layoutViews(int count, bool force, int first);
    QWidget *prepareViewSurface(int view);
    void closeViewWidgets(int view);
    void openStream(int row);
    bool startCameraStream(int row, qcCameraUtil *camera, QWidget *video);
    void closeView(int view);

    // Stream control, used by the main window and the grid.
    void pauseAllViews();
    void resumeAllViews();
    void chooseViewStreams();
    void swapViews(int a, int b);
    int viewIndexAtCursor();

    // Device management.
    ReadStatus loadDeviceList();
    // The stored grid count, laid out when it could not be read at the start.
    ReadStatus showStoredGrid();
    // The options, the schedules and (until they were once read) the
    // devices; what could not be read keeps its last good values.
    ReadStatus readStored();
    // One "T:S-E" segment of a schedule day; true when the service took it.
    bool addScheduleItem(const QString &segment, int scheduleType, int applyTo, int enabled, const QString &address,
                         int day);
    void modifyDevice(int row);
    void openDeviceSettings(int row);
    void removeDevice(int row);
    void closeDeviceViews(int row);

    // State, for the main window and the tests.
    QListWidget *deviceList() const { return m_devList; }
    qwCameraItem *cameraItem(int row) const;
    int deviceCount() const { return m_devCount; }
    const QList<_st_device_item *> &devices() const { return m_devices; }
    const QList<_st_view_item *> &viewRecords() const { return m_viewRecords; }
    _st_view_item *viewRecord(int view) const;
    qwCstmVideoview *view(int index) const;
    qwVideoshowToolbar *viewToolbar(int index) const;
    QWidget *videoArea() const;
    int viewsPerPage() const { return m_viewsPerPage; }
    int selectedView() const { return m_selectedView; }
    int page() const { return m_page; }
    int maximizedView() const { return m_maximizedView; }
    int pressedView() const { return m_pressedView; }
    bool isSingleView() const { return m_singleView; }
    bool isFullScreen() const;
    // Views of the shown grid, in cell order.
    QList<int> shownViews() const;
    const _st_local_config &localConfig() const { return m_localConfig; }
    qcStreamServer *streamServer() const { return m_streamServer; }
    QThread *streamThread() const { return m_streamThread; }
    StatusButton *barButton(const char *name) const;
    QSlider *volumeSlider() const { return m_volumeSlider; }
    qwSelectMultMode *splitPopup() const { return m_splitPopup; }
    int viewVolume(int view) const { return m_viewVolume.volume(view); }
    int startTimerId() const { return m_startTimerId; }
    qwPtzPanel *ptzPanel() const { return m_ptzPanel; }
    qwImagePanel *imagePanel() const { return m_imagePanel; }
    qcLiveDeviceRequests *deviceRequests() const { return m_deviceRequests; }
    qcLiveAlarms *liveAlarms() const { return m_liveAlarms; }
    qcLiveActions *liveActions() const { return m_liveActions; }
    bool isRecordingAll() const { return m_recordAll; }
    // One step of the alarm button's blink.
    void blinkAlarmButton();

    // Makes the remote settings window of one device as a child of the page,
    // filled in and connected to onCameraBaseinfoChange. That window belongs
    // to a layer above the live page, so the program hands the page this
    // function at start; until then the settings action opens nothing.
    using DeviceSettingsOpener = QWidget *(*)(qwLiveView *page, const _st_device_item &device);
    static void setDeviceSettingsOpener(DeviceSettingsOpener opener);

    // Clamps the recording options into the ranges the stream service
    // accepts; names each value it changed in the debug output.
    static _st_local_config clampedConfig(const _st_local_config &config);

signals:
    void sigDeviceTriggerAlarm(QString ipaddr, QString devname, int type, int action, QString file, QDateTime time);

public slots:
    // The local settings were saved: the service takes the new options and
    // schedules now.
    void onLocalConfigChanged();
    void onListItemDrop(int viewid);
    void onDevlistButtonClick(int index, int type);
    void onDevlistDBClick(QModelIndex index);
    void onAddDevManual();
    void onBtnPreviousPageClick();
    void onBtnNextPageClick();
    void onBtnPlayviewClick();
    void onBtnFullscreenClick();
    void onBtnPlayviewChange(int mask);
    void onPlayviewClick(int index);
    void onPlayviewDBClick(int index);
    void onToolboxChanged(int index);
    void onCameraOptionResult(QString devname, QString devip, QString addtype, QString port, QString username,
                              QString password, int mode);
    void onCameraModifyResult(QString devname, QString devip, int addtype, QString port, QString username,
                              QString password, qlonglong devindex);
    void onCameraBaseinfoChange(QString ipaddr, QString port, QString username, QString password);
    void onDeviceStatus(QString ipaddr, int status);
    void onDeviceMataChange(QString ipaddr, int stream);
    void onDeviceAlarmArrival(QString ipaddr, QString devname, int type, int action, QDateTime time);
    void onClearAlarmList();
    void onPlayviewToolbarButtonClick(int index, int btnid, int status);
    void onPlayviewZoomResult(bool bret);
    void onBtnPlayClick();
    void onBtnStopClick();
    void onBtnSnapshotClick();
    void onBtnRecordClick();
    void onBtnSpeakerClick();
    void onSliderVolumeValue(int value);
    void onBtnMicrophoneClick();
    void onBtnAlarmClick();
    void onRecordSnapshot(QString ipaddr, QString filepath, int type);
    void onScheduleRecord(QString ipaddr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    friend class qcLiveActions;
    void initToolboxAndButtonbar();
    // Hands the current device to the panels and reads its PTZ and image settings.
    void readPanelSettings();
    void createStreamServer();
    void placeViews(int count, int first);
    void setGridStretch(int side);
    int rowOfAddress(const QString &address) const;
    // Whether a listed device has the address, however either is spelt.
    bool isListed(const QString &address) const;
    // Registers with the stream service every listed device it has no unit
    // for: rows an older version left at one address share one unit, and the
    // one left after the other was deleted or moved needs its own.
    void registerUnitless();
    // A device moved, gone or given another login: its settings window
    // would go on acting on what the device was, so it closes, told.
    void closeDeviceWindow(qint64 indexid);
    void showFailureTip(const char *key);
    void showDeviceExists();
    // A modification the list refuses: said over the dialog that asked, which
    // stays open with what was typed, and logged with `why`.
    void refuseModify(qwModifyDevice *dialog, const char *key, const QString &name, const QString &address,
                      const QString &why);
    bool hasRight(quint32 bit);
    // Camera glue operations; the glue is optional at build time.
    void stopCamera(_st_view_item *record);
    void setCameraAudio(_st_view_item *record, int volume);
    int cameraStream(_st_view_item *record) const;
    void switchCameraStream(_st_view_item *record, int stream);
    void setCameraPlayState(_st_view_item *record, int state);
    void refreshCamera(_st_view_item *record);
    void pauseCamera(_st_view_item *record, bool paused);
    void stopIntercom(const QString &address);

    // Deleted first on destruction: its request threads call back into the panels.
    qcLiveDeviceRequests *m_deviceRequests = nullptr;
    qwPtzPanel *m_ptzPanel = nullptr;
    qwImagePanel *m_imagePanel = nullptr;
    QListWidget *m_devList = nullptr;
    int m_devCount = 0;
    Ui_qwLiveView *ui = nullptr;
    StatusButton *m_btnPlay = nullptr;
    StatusButton *m_btnStop = nullptr;
    StatusButton *m_btnPrevPage = nullptr;
    StatusButton *m_btnNextPage = nullptr;
    StatusButton *m_btnSnapshot = nullptr;
    StatusButton *m_btnRecord = nullptr;
    StatusButton *m_btnSplit = nullptr;
    StatusButton *m_btnFullscreen = nullptr;
    StatusButton *m_btnAlarm = nullptr;
    StatusButton *m_btnSpeakerOff = nullptr;
    StatusButton *m_btnSpeakerOn = nullptr;
    StatusButton *m_btnMicOff = nullptr;
    StatusButton *m_btnMicOn = nullptr;
    qwSelectMultMode *m_splitPopup = nullptr;
    qwCstmVideoview *m_views[kMaxViews] = {};
    int m_viewsPerPage = 0;
    int m_selectedView = 0;
    bool m_singleView = false;
    int m_page = 0;
    int m_maximizedView = -1;
    QSlider *m_volumeSlider = nullptr;
    int m_addMode = 0;
    int m_modifyRow = 0;
    qcDatabase *m_database = nullptr;
    _st_local_config m_localConfig;
    qcReadRetry *m_storedRead = nullptr;
    bool m_devicesListed = false;
    bool m_gridRead = false;
    QString m_viewNormalStyle;
    QString m_viewSelectedStyle;
    QList<_st_device_item *> m_devices;
    QString m_curUser;
    QString m_curPassword;
    QString m_curAddress;
    QString m_curPort;
    QList<_st_view_item *> m_viewRecords;
    qcViewVolumes m_viewVolume;
    bool m_recordAll = false;
    int m_optionRow = 0;
    bool m_viewHasDevice = false;
    bool m_viewDragging = false;
    int m_pressedView = -1;
    int m_recordStarted = 0;
    qcStreamServer *m_streamServer = nullptr;
    int m_startTimerId = -1;
    QThread *m_streamThread = nullptr;
    // The alarm list and the blink of the alarm button.
    qcLiveAlarms *m_liveAlarms = nullptr;
    qcLiveActions *m_liveActions = nullptr;
    // The video area's trips to full screen and back.
    qcFullScreenArea *m_fullScreenArea = nullptr;
    // One settings window per device.
    qcDeviceWindows *m_deviceWindows = nullptr;
};
