#include "liveview/qwliveview.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/pagelog.h"
#include "app/core/settingranges.h"
#include "app/widgets/refusal.h"
#include "app/widgets/statusbutton.h"
#include "app/widgets/userrights.h"
#include "device/deviceaddress.h"
#include "liveview/devicechange.h"
#include "liveview/livetext.h"
#include "liveview/qcdevicewindows.h"
#include "liveview/qcfullscreenarea.h"
#include "liveview/qcliveactions.h"
#include "liveview/qclivealarms.h"
#include "liveview/qclivedevicerequests.h"
#include "liveview/qcreadretry.h"
#include "liveview/qwimagepanel.h"
#include "liveview/qwptzpanel.h"
#include "liveview/liveviewui.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwfacedetection.h"
#include "liveview/qwmodifydevice.h"
#include "liveview/qwselectmultmode.h"
#include "liveview/qwvideoshowtoolbar.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QTimerEvent>
#include <QToolBox>

#include <algorithm>

using namespace livetext;

namespace {

// The reason logged when the page has no database to write to.
const char kNoDatabase[] = "no database";

const char kToolboxStyle[] =
    "QToolBox:tab{padding-left:24px;background:#444444;border-radius:1px;color:white;font-size:14px;"
    "font-weight:500;}QToolBox:tab:selected,QToolBox:tab:hover{background:#4e6a79;}"
    "QToolBox QToolBoxButton{min-height:28px;}QToolBox:handle{background:red;}";
const char kDevListStyle[] = "QListView::item{background:black;color:white;margin-bottom:2px;}"
                             "QListView::item:selected{background:#2f4f4f;}QListView::item:hover{}"
                             "QListView{background:#2c2c2c;}";
const char kPlayButtonStyle[] = "QPushButton{background:#464646;border-radius:17px;border:1px solid #4a4a4a;}"
                                "QPushButton:hover{background:#4a4a4a;border-radius:17px;border:1px solid #6a6a6a;}";
const char kAlarmButtonStyle[] = "QPushButton{background:#181818;border-width:0px;border-radius:5px;}";
const char kVolumeStyle[] =
    "QSlider::groove:horizontal{height:3px;border:1px solid #4A708B;border-radius:1px;background:#C0C0C0;}"
    "QSlider::sub-page:horizontal{background:qlineargradient(spread:pad,x1:0,y1:0,x2:1,y2:0,"
    "stop:0 #5DCCFF,stop:1 #1874CD);border:1px solid #4A708B;border-radius:4px;}"
    "QSlider::add-page:horizontal{background:#575757;border-radius:1px;}"
    "QSlider::handle:horizontal{width:6px;height:12px;border-radius:3px;background:#aaaaaa;"
    "margin:-4px -2px;border:1px solid #2a2a2a;}"
    "QSlider::handle:horizontal:hover{background:#1baafb;}";

} // namespace

qwLiveView::qwLiveView(QWidget *parent) : QWidget(parent), ui(new Ui_qwLiveView), m_database(g_database)
{
    ui->setupUi(this);
    ui->toolBox_Optlist->setStyleSheet(QLatin1String(kToolboxStyle));
    ui->widget_Videoview->setStyleSheet(QStringLiteral("QWidget#widget_Videoview{background:#2c2c2c}"));
    auto *grid = new QGridLayout(ui->widget_Videoview);
    grid->setContentsMargins(2, 2, 4, 1);
    grid->setSpacing(0);

    // A grid count that could not be read is shown once it can be.
    const SettingsRow settings = m_database ? m_database->readSettings() : SettingsRow();
    m_gridRead = settings.ok();
    const int stored = settings.ok() ? settings.getViewCount() : 0;

    m_viewNormalStyle =
        QStringLiteral("QWidget{background:#dddddd;border-width:1px;border-color: #2c2c2c;border-style: solid;}");
    m_viewSelectedStyle =
        QStringLiteral("QWidget{background:#dddddd;border-width:1px;border-color: #63b8ff;border-style: solid;}");

    m_liveActions = new qcLiveActions(this);
    m_fullScreenArea = new qcFullScreenArea(ui->widget_Videoview);
    m_deviceWindows = new qcDeviceWindows(this);
    initToolboxAndButtonbar();
    m_liveAlarms = new qcLiveAlarms(m_btnAlarm, this);
    layoutViews(livegrid::isSupportedCount(stored) ? stored : livegrid::kDefaultCount, false, 0);
    createStreamServer();
    // Until the stored options are read nothing is recorded or snapped:
    // no folder or length is guessed while another program holds the file.
    m_storedRead = new qcReadRetry(
        m_database, [this] { return readStored(); },
        [this](ReadStatus status) {
            livetext::tellUnread(this, status,
                                 QStringLiteral("local settings, schedules and devices not "
                                                "read: the last values read are kept"));
        },
        this);
    m_storedRead->run();
    m_startTimerId = startTimer(kStartTimerMs, Qt::CoarseTimer);
    CLivePlayer::initFfmpeg();
}

qwLiveView::~qwLiveView()
{
    // The slider's last events (hidden, focus gone) come after the page's
    // members are gone.
    m_volumeSlider->removeEventFilter(m_liveActions);
    // The panels use the requests until they are gone themselves.
    delete m_deviceRequests;
    delete m_ptzPanel;
    delete m_imagePanel;
    m_deviceRequests = nullptr;
    qDebug() << "-------------list camera count:" << m_viewRecords.size() << "-------------------";
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        stopCamera(record);
        delete record;
    }
    m_viewRecords.clear();
    qDeleteAll(m_devices);
    m_devices.clear();
    m_database = nullptr;

    // The service ends its units (streams, recorders, talk) on its own
    // thread, and only then may that thread stop.
    if (m_streamServer && m_streamThread && m_streamThread->isRunning()) {
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(m_streamServer, "shutdown", Qt::BlockingQueuedConnection);
        m_streamThread->quit();
        m_streamThread->wait();
        if (timer.elapsed() > kShutdownWarnMs)
            qDebug() << "----Stream service took" << timer.elapsed() << "ms to stop----";
    }
    delete m_streamServer;
    m_streamServer = nullptr;
    delete m_streamThread;
    m_streamThread = nullptr;
    delete ui;
    ui = nullptr;
}

// ---------------------------------------------------------------- layout

void qwLiveView::initToolboxAndButtonbar()
{
    QToolBox *box = ui->toolBox_Optlist;
    for (int i : {1, 0}) {
        QWidget *placeholder = box->widget(i);
        box->removeItem(i);
        placeholder->close();
        delete placeholder;
    }
    ui->page = ui->page_2 = nullptr;

    auto text = [](const char *key) { return liveText(kPreviewPage, kNoSection, key); };

    auto *listParent = new QWidget;
    listParent->setObjectName(QStringLiteral("widget_ListParent"));
    listParent->setStyleSheet(QStringLiteral("QWidget#widget_ListParent{background:transparent;}"));
    auto *listLayout = new QGridLayout(listParent);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    m_devList = new QListWidget(listParent);
    m_devList->setObjectName(QStringLiteral("listWidget_Devices"));
    m_devList->setStyleSheet(QLatin1String(kDevListStyle));
    connect(m_devList, &QListWidget::doubleClicked, this, &qwLiveView::onDevlistDBClick);
    listLayout->addWidget(m_devList, 0, 0);
    auto *add = new QPushButton(QIcon(QStringLiteral(":/images/srcimages/add.png")), text("adddevice"), listParent);
    add->setObjectName(QStringLiteral("pushButton_AddDevice"));
    add->setMinimumHeight(22);
    connect(add, &QPushButton::clicked, this, &qwLiveView::onAddDevManual);
    listLayout->addWidget(add, 1, 0);
    box->insertItem(0, listParent, QIcon(), text("devicelist"));

    m_deviceRequests = new qcLiveDeviceRequests;
    m_ptzPanel = new qwPtzPanel(m_deviceRequests);
    box->insertItem(1, m_ptzPanel, text("ptzcontrol"));
    m_imagePanel = new qwImagePanel(m_deviceRequests);
    box->insertItem(2, m_imagePanel, text("basesettings"));
    connect(box, &QToolBox::currentChanged, this, &qwLiveView::onToolboxChanged);

    auto *left = new QWidget(ui->widget_Videocontrol);
    left->setMaximumWidth(380);
    auto *right = new QWidget(ui->widget_Videocontrol);
    right->setMaximumWidth(386);
    auto *bar = new QHBoxLayout(ui->widget_Videocontrol);
    bar->setContentsMargins(2, 6, 1, 6);
    bar->addWidget(left);
    bar->addStretch();
    bar->addWidget(right);

    auto make = [this](QWidget *parent, const char *name, const char *image, int cells, int size, const QString &tip) {
        auto *button = new StatusButton(parent, cells, QLatin1String(image), tip);
        button->setObjectName(QLatin1String(name));
        button->setFixedSize(size, size);
        button->setMask(1);
        return button;
    };
    m_btnPlay = make(left, "m_btnPlay", ":/images/srcimages/playctrl/play.png", 4, 34, text("playctrl"));
    m_btnPlay->setStatus(false, 0);
    // Not selected, so that its round style-sheet background is drawn.
    m_btnPlay->setSelected(false);
    m_btnPlay->setStyleSheet(QLatin1String(kPlayButtonStyle));
    m_btnStop = make(left, "m_btnStop", ":/images/srcimages/playctrl/stop.png", 4, 20, text("stopall"));
    m_btnPrevPage = make(left, "m_btnPrevPage", ":/images/srcimages/playctrl/previous.png", 4, 20, text("prevpage"));
    m_btnNextPage = make(left, "m_btnNextPage", ":/images/srcimages/playctrl/next.png", 4, 20, text("nextpage"));
    m_btnSnapshot = make(left, "m_btnSnapshot", ":/images/srcimages/playctrl/snapshot.png", 4, 20,
                         liveText(kCommonPage, kAlarmActions, "snapshot"));
    m_btnRecord = make(left, "m_btnRecord", ":/images/srcimages/playctrl/record.png", 4, 20, text("record"));
    m_btnAlarm = make(left, "m_btnAlarm", ":/images/srcimages/playctrl/alarm.png", 3, 24, text("alarmevent"));
    m_btnAlarm->setStyleSheet(QLatin1String(kAlarmButtonStyle));
    m_btnSpeakerOn =
        make(right, "m_btnSpeakerOn", ":/images/srcimages/playctrl/speakeron.png", 4, 20, text("speakeron"));
    m_btnSpeakerOff =
        make(right, "m_btnSpeakerOff", ":/images/srcimages/playctrl/speakeroff.png", 4, 20, text("speakeroff"));
    m_btnMicOn = make(right, "m_btnMicOn", ":/images/srcimages/playctrl/micon.png", 4, 20, text("intercomon"));
    m_btnMicOff = make(right, "m_btnMicOff", ":/images/srcimages/playctrl/micoff.png", 4, 20, text("intercomoff"));
    m_btnSplit = make(right, "m_btnSplit", ":/images/srcimages/playctrl/split.png", 4, 20, text("splitview"));
    m_btnFullscreen =
        make(right, "m_btnFullscreen", ":/images/srcimages/playctrl/fullscreen.png", 4, 20, text("fullscreen"));
    for (StatusButton *b : {m_btnSnapshot, m_btnSpeakerOn, m_btnMicOn})
        b->hide();
    connect(m_btnPrevPage, &QPushButton::clicked, this, &qwLiveView::onBtnPreviousPageClick);
    connect(m_btnNextPage, &QPushButton::clicked, this, &qwLiveView::onBtnNextPageClick);
    connect(m_btnSplit, &QPushButton::clicked, this, &qwLiveView::onBtnPlayviewClick);
    connect(m_btnFullscreen, &QPushButton::clicked, this, &qwLiveView::onBtnFullscreenClick);
    connect(m_btnPlay, &QPushButton::clicked, this, &qwLiveView::onBtnPlayClick);
    connect(m_btnStop, &QPushButton::clicked, this, &qwLiveView::onBtnStopClick);
    connect(m_btnSnapshot, &QPushButton::clicked, this, &qwLiveView::onBtnSnapshotClick);
    connect(m_btnRecord, &QPushButton::clicked, this, &qwLiveView::onBtnRecordClick);
    connect(m_btnAlarm, &QPushButton::clicked, this, &qwLiveView::onBtnAlarmClick);
    for (StatusButton *b : {m_btnSpeakerOn, m_btnSpeakerOff})
        connect(b, &QPushButton::clicked, this, &qwLiveView::onBtnSpeakerClick);
    for (StatusButton *b : {m_btnMicOn, m_btnMicOff})
        connect(b, &QPushButton::clicked, this, &qwLiveView::onBtnMicrophoneClick);

    m_volumeSlider = new QSlider(Qt::Horizontal, right);
    m_volumeSlider->setObjectName(QStringLiteral("m_volumeSlider"));
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setFixedSize(120, 22);
    m_volumeSlider->setStyleSheet(QLatin1String(kVolumeStyle));
    connect(m_volumeSlider, &QSlider::valueChanged, this, &qwLiveView::onSliderVolumeValue);
    connect(m_volumeSlider, &QSlider::sliderPressed, this, [this] { m_viewVolume.beginDrag(m_selectedView); });
    connect(m_volumeSlider, &QSlider::sliderReleased, this, [this] { m_viewVolume.endDrag(); });
    m_volumeSlider->installEventFilter(m_liveActions);

    auto *leftLayout = new QHBoxLayout(left);
    leftLayout->setContentsMargins(14, 0, 0, 0);
    leftLayout->setSpacing(16);
    for (StatusButton *b : {m_btnPlay, m_btnStop, m_btnPrevPage, m_btnNextPage, m_btnSnapshot, m_btnRecord, m_btnAlarm})
        leftLayout->addWidget(b);
    leftLayout->addStretch();

    auto *rightLayout = new QHBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 14, 0);
    rightLayout->setSpacing(14);
    rightLayout->addStretch();
    rightLayout->addWidget(m_btnMicOn);
    rightLayout->addWidget(m_btnMicOff);
    auto *sound = new QHBoxLayout;
    sound->setContentsMargins(0, 0, 0, 0);
    sound->setSpacing(2);
    sound->addWidget(m_btnSpeakerOn);
    sound->addWidget(m_btnSpeakerOff);
    sound->addWidget(m_volumeSlider);
    rightLayout->addLayout(sound);
    rightLayout->addWidget(m_btnSplit);
    rightLayout->addWidget(m_btnFullscreen);

    ui->widget_Videoview->installEventFilter(this);
    installEventFilter(this);
}

StatusButton *qwLiveView::barButton(const char *name) const
{
    return findChild<StatusButton *>(QLatin1String(name));
}

int qwLiveView::addCameraItem(const QString &name, const QString &info, int status)
{
    if (!m_devList)
        return -1;
    auto *item = new qwCameraItem(m_devList, name, m_devCount, true);
    item->setObjectName(name);
    item->setInfoText(info);
    item->setStatus(status);
    if (status == 0 || status == 1)
        item->disableOptions(7);
    connect(item, &qwCameraItem::sigOptionBtnClick, this, &qwLiveView::onDevlistButtonClick);
    auto *row = new QListWidgetItem;
    row->setSizeHint(QSize(0, 86));
    m_devList->insertItem(m_devList->count(), row);
    m_devList->setItemWidget(row, item);
    m_devList->setCurrentItem(row);
    ++m_devCount;
    return m_devList->currentRow();
}

void qwLiveView::setCameraItemState(int row, int status, int enableMask)
{
    qwCameraItem *item = cameraItem(row);
    if (!item)
        return;
    item->setStatus(status);
    item->disableOptions(15);
    item->enableOptions(enableMask);
}

qwCameraItem *qwLiveView::cameraItem(int row) const
{
    if (!m_devList || row < 0 || row >= m_devList->count())
        return nullptr;
    return qobject_cast<qwCameraItem *>(m_devList->itemWidget(m_devList->item(row)));
}

// ---------------------------------------------------------------- grid

QWidget *qwLiveView::videoArea() const
{
    return ui->widget_Videoview;
}

qwCstmVideoview *qwLiveView::view(int index) const
{
    return index >= 0 && index < kMaxViews ? m_views[index] : nullptr;
}

qwVideoshowToolbar *qwLiveView::viewToolbar(int index) const
{
    qwCstmVideoview *v = view(index);
    if (!v || !v->layout() || v->layout()->count() < 1)
        return nullptr;
    return qobject_cast<qwVideoshowToolbar *>(v->layout()->itemAt(0)->widget());
}

_st_view_item *qwLiveView::viewRecord(int view) const
{
    for (_st_view_item *record : m_viewRecords) {
        if (record->view == view)
            return record;
    }
    return nullptr;
}

QList<int> qwLiveView::shownViews() const
{
    QList<int> shown;
    auto *grid = static_cast<QGridLayout *>(ui->widget_Videoview->layout());
    for (int i = 0; grid && i < grid->count(); ++i) {
        if (auto *v = qobject_cast<qwCstmVideoview *>(grid->itemAt(i)->widget()))
            shown << v->index();
    }
    return shown;
}

void qwLiveView::ensureViews(int n)
{
    for (int i = 0; i < std::min(n, int(kMaxViews)); ++i) {
        if (m_views[i])
            continue;
        auto *v = new qwCstmVideoview(ui->widget_Videoview, i, 1);
        // A view that shows a device has a bar and a picture inside; its size
        // must still come from the grid alone, or it pushes its empty
        // neighbours out of their cells.
        v->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        v->setStyleSheet(m_viewNormalStyle);
        connect(v, &qwCstmVideoview::sigClick, this, &qwLiveView::onPlayviewClick);
        connect(v, &qwCstmVideoview::sigDBClick, this, &qwLiveView::onPlayviewDBClick);
        connect(v, &qwCstmVideoview::sigDropPlay, this, &qwLiveView::onListItemDrop);
        m_views[i] = v;
    }
}

void qwLiveView::setGridStretch(int side)
{
    auto *grid = static_cast<QGridLayout *>(ui->widget_Videoview->layout());
    // Every cell of the grid gets the same share of the area; stretch
    // factors of a former bigger grid would keep empty rows alive.
    for (int i = 0; i < 8; ++i) {
        grid->setRowStretch(i, i < side ? 1 : 0);
        grid->setColumnStretch(i, i < side ? 1 : 0);
    }
}

void qwLiveView::placeViews(int count, int first)
{
    auto *grid = static_cast<QGridLayout *>(ui->widget_Videoview->layout());
    for (int k = 0; k < count; ++k) {
        const QRect c = livegrid::cell(count, k);
        QWidget *v = m_views[first + k];
        grid->addWidget(v, c.y(), c.x(), c.height(), c.width());
        v->show();
    }
}

bool qwLiveView::layoutViews(int count, bool force, int first)
{
    auto *grid = static_cast<QGridLayout *>(ui->widget_Videoview->layout());
    if (grid->count() == count && !force)
        return true;
    if (first == 0)
        m_page = 0;
    if (!livegrid::isSupportedCount(count) || first < 0 || first + count > kMaxViews) {
        m_singleView = false;
        return false;
    }
    ensureViews(first + count);
    while (grid->count() > 0) {
        QLayoutItem *item = grid->takeAt(grid->count() - 1);
        if (item->widget())
            item->widget()->hide();
        delete item;
    }
    placeViews(count, first);
    setGridStretch(livegrid::gridSide(count));
    m_viewsPerPage = count;
    m_singleView = count == 1;
    // The page shown is the one the grid starts at, whatever moved the selection.
    m_page = first / count;
    return true;
}

void qwLiveView::onBtnPlayviewChange(int mask)
{
    if (const int count = livegrid::countOfSplitCode(mask)) {
        layoutViews(count, false, 0);
        m_gridRead = true; // the operator's choice stands over one read later
        // The next start shows the grid the database holds: one it refused
        // to keep is told and logged, not shown as kept.
        QString failure;
        if (m_database && !m_database->setViewCount(count, &failure))
            refusal::tell(this, "modify system options", QString(), QString(),
                          refusal::note(liveText(kPreviewPage, kNoSection, "splitview"), failure));
    }
    onPlayviewClick(0);
    chooseViewStreams();
}

void qwLiveView::onBtnPlayviewClick()
{
    if (!m_splitPopup) {
        m_splitPopup = new qwSelectMultMode(this);
        connect(m_splitPopup, &qwSelectMultMode::sigViewChange, this, &qwLiveView::onBtnPlayviewChange);
    }
    m_splitPopup->resize(160, 84);
    m_splitPopup->move(m_btnSplit->parentWidget()->mapToGlobal(m_btnSplit->pos() - QPoint(26, 86)));
    m_splitPopup->show();
}

void qwLiveView::onBtnNextPageClick()
{
    const int c = m_viewsPerPage;
    if (c <= 0)
        return;
    const int first = livegrid::nextPageFirst(c, m_selectedView);
    if (first >= 0) {
        ensureViews(first + c);
        layoutViews(c, true, first);
        onPlayviewClick(first);
    }
    chooseViewStreams();
}

void qwLiveView::onBtnPreviousPageClick()
{
    const int c = m_viewsPerPage;
    if (c <= 0)
        return;
    const int first = livegrid::previousPageFirst(c, m_selectedView);
    if (first >= 0) {
        layoutViews(c, true, first);
        onPlayviewClick(first);
    }
    chooseViewStreams();
}

void qwLiveView::onPlayviewClick(int index)
{
    m_selectedView = index;
    m_pressedView = index;
    if (!view(index))
        return;
    for (int i = 0; i < kMaxViews && m_views[i]; ++i) {
        m_views[i]->setStyleSheet(i == index ? m_viewSelectedStyle : m_viewNormalStyle);
        if (i != index)
            continue;
        const int volume = m_viewVolume.volume(index);
        const bool blocked = m_volumeSlider->blockSignals(true);
        m_volumeSlider->setValue(volume);
        m_volumeSlider->blockSignals(blocked);
        m_btnSpeakerOn->setVisible(volume > 0);
        m_btnSpeakerOff->setVisible(volume <= 0);
        for (_st_view_item *record : qAsConst(m_viewRecords)) {
            if (record->view == index && record->camera)
                setCameraAudio(record, volume);
        }
    }
    m_curAddress = m_curPort = m_curPassword = m_curUser = QLatin1String("");
    m_ptzPanel->resetPresetRows();
    m_viewHasDevice = false;
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->view == index && record->camera) {
            m_viewHasDevice = true;
            m_curAddress = record->device->address;
            m_curPort = record->device->port;
            m_curPassword = record->device->password;
            m_curUser = record->device->username;
            m_devList->setCurrentRow(record->row);
        } else if (record->camera) {
            setCameraAudio(record, 0);
        }
        stopIntercom(record->device ? record->device->address : QString());
    }
    readPanelSettings();
    m_btnMicOn->hide();
    m_btnMicOff->show();
}

void qwLiveView::onPlayviewDBClick(int index)
{
    if (!view(index))
        return;
    if (!m_singleView) {
        auto *grid = static_cast<QGridLayout *>(ui->widget_Videoview->layout());
        while (grid->count() > 0) {
            QLayoutItem *item = grid->takeAt(grid->count() - 1);
            if (item->widget())
                item->widget()->hide();
            delete item;
        }
        grid->addWidget(m_views[index], 0, 0);
        setGridStretch(1);
        m_views[index]->show();
        m_maximizedView = index;
        m_singleView = true;
    } else {
        const int c = m_viewsPerPage;
        layoutViews(c, false, (index / c) * c);
        m_maximizedView = -1;
        m_singleView = false;
    }
    chooseViewStreams();
}

bool qwLiveView::isFullScreen() const
{
    return m_fullScreenArea && m_fullScreenArea->isFullScreen();
}

void qwLiveView::onBtnFullscreenClick()
{
    m_fullScreenArea->toggle();
}

void qwLiveView::onToolboxChanged(int index)
{
    Q_UNUSED(index)
}

QWidget *qwLiveView::prepareViewSurface(int index)
{
    qwCstmVideoview *v = view(index);
    if (!v)
        return nullptr;
    if (!v->layout()) {
        auto *video = new QWidget;
        auto *bar = new qwVideoshowToolbar(v, index);
        connect(bar, &qwVideoshowToolbar::sigToolbarButtonClick, this, &qwLiveView::onPlayviewToolbarButtonClick);
        bar->setMaximumHeight(21);
        bar->setStyleSheet(QStringLiteral("QWidget{background:#4e4e4e;border:0px;}"));
        auto *layout = new QVBoxLayout(v);
        // The bar and the picture sit inside the view's 1-pixel frame, which
        // thus shows the selection around a playing view too.
        layout->setContentsMargins(1, 1, 1, 1);
        layout->setSpacing(0);
        layout->addWidget(bar);
        layout->addWidget(video);
        return video;
    }
    QLayout *layout = v->layout();
    if (QLayoutItem *item = layout->takeAt(1)) {
        if (QWidget *old = item->widget()) {
            old->close();
            delete old;
        }
        delete item;
    }
    auto *video = new QWidget(v);
    layout->addWidget(video);
    return video;
}

void qwLiveView::closeViewWidgets(int index)
{
    qwCstmVideoview *v = view(index);
    if (!v || !v->layout())
        return;
    QLayout *layout = v->layout();
    if (qwVideoshowToolbar *bar = viewToolbar(index))
        bar->setButtonState(qwVideoshowToolbar::Play, false);
    while (layout->count() > 0) {
        QLayoutItem *item = layout->takeAt(0);
        if (QWidget *w = item->widget()) {
            w->close();
            delete w;
        }
        delete item;
    }
    delete layout;
}

void qwLiveView::openStream(int row)
{
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->row == row)
            return;
    }
    const int s = m_selectedView;
    if (viewRecord(s)) {
        if (s + 1 < kMaxViews && m_views[s + 1]) {
            m_views[s + 1]->updateCursor();
            if (m_selectedView != s)
                openStream(row);
        }
        return;
    }
    qwCameraItem *item = cameraItem(row);
    if (!item || item->getStatus() != qwCameraItem::LoggedIn || row >= m_devices.size())
        return;
    auto *record = new _st_view_item;
    record->device = m_devices[row];
    record->view = s;
    record->row = row;
    auto *camera = new qcCameraUtil(nullptr);
    record->camera = camera;
    camera->setSnapshotFormat(m_localConfig.snapshotformat == settingranges::kSnapshotJpeg ? CLivePlayer::kSnapshotJpg
                                                                                           : CLivePlayer::kSnapshotBmp);
    camera->setSnapshotQuality(m_localConfig.snapshotquality);
    if (!m_streamServer || !m_streamServer->getMainFrameBuffer(record->device->address)) {
        qDebug() << "----Failed to get streamer----";
        delete camera;
        delete record;
        return;
    }
    connect(camera, &qcCameraUtil::sigSnapshot, this, &qwLiveView::onRecordSnapshot);
    connect(camera, &qcCameraUtil::sigSnapshotFailed, m_liveActions, &qcLiveActions::snapshotFailed);
    connect(camera, &qcCameraUtil::sigZoomResult, this, &qwLiveView::onPlayviewZoomResult);
    if (!startCameraStream(row, camera, prepareViewSurface(s))) {
        disconnect(camera, &qcCameraUtil::sigSnapshot, this, &qwLiveView::onRecordSnapshot);
        // The glue touches the video widget when it goes, so it goes first.
        delete camera;
        delete record;
        closeViewWidgets(s);
        return;
    }
    m_viewRecords.append(record);
    m_curAddress = record->device->address;
    m_curPort = record->device->port;
    m_curPassword = record->device->password;
    m_curUser = record->device->username;
    readPanelSettings();
    m_viewHasDevice = true;
}

namespace {
bool readStreamInfo(qcStreamServer *server, const QString &address, int stream, MediaInfo_t *info)
{
    qcStreamServer::VideoInfo video{};
    qcStreamServer::AudioInfo audio{};
    quint8 decoder = 0;
    if (!server || !server->getStreamInfo(address, stream, &video, &audio, &decoder) || video.codec == 0)
        return false;
    // Each stream keeps the decoder choice its own description reported.
    info->decoder = decoder;
    info->videoCodec = video.codec;
    info->width = video.width;
    info->height = video.height;
    info->frameRate = video.frameRate;
    info->audioCodec = audio.codec;
    info->audioRate = audio.sampleRate;
    info->channels = audio.channels;
    return true;
}

// What a view plays from. A device whose sub stream is refused (a firmware
// that limits sub-stream clients, say) still plays: its main stream stands in
// for the sub one, buffer and description together, so that no player reads
// one stream at the other's size.
struct ViewStreams
{
    qcFrameBuffer *mainBuffer = nullptr;
    qcFrameBuffer *subBuffer = nullptr;
    MediaInfo_t mainInfo{};
    MediaInfo_t subInfo{};
};

bool readViewStreams(qcStreamServer *server, const QString &address, ViewStreams *streams)
{
    if (!server)
        return false;
    streams->mainBuffer = server->getMainFrameBuffer(address);
    streams->subBuffer = server->getSubFrameBuffer(address);
    if (!streams->mainBuffer || !readStreamInfo(server, address, 0, &streams->mainInfo))
        return false;
    if (!streams->subBuffer || !readStreamInfo(server, address, 1, &streams->subInfo)) {
        streams->subBuffer = streams->mainBuffer;
        streams->subInfo = streams->mainInfo;
    }
    return true;
}
} // namespace

bool qwLiveView::startCameraStream(int row, qcCameraUtil *camera, QWidget *video)
{
    if (row < 0 || row >= m_devices.size() || !camera)
        return false;
    ViewStreams streams;
    if (!readViewStreams(m_streamServer, m_devices[row]->address, &streams) ||
        !camera->setMainSubBuffers(streams.mainBuffer, streams.subBuffer))
        return false;
    camera->setVideoWidget(video);
    camera->setStreamInfo(streams.mainInfo, streams.subInfo);
    int stream = 0;
    if (m_localConfig.autostream == 1) {
        const bool large = m_singleView || m_viewsPerPage == 4 || (m_viewsPerPage == 6 && m_selectedView == m_page * 6);
        stream = large ? 0 : 1;
    }
    return camera->startStream(stream);
}

void qwLiveView::closeView(int index)
{
    stopIntercom(QString());
    if (index < 0 || m_viewRecords.isEmpty())
        return;
    if (_st_view_item *record = viewRecord(index)) {
        m_liveActions->stopViewRecording(record);
        stopCamera(record);
        closeViewWidgets(index);
        m_viewRecords.removeOne(record);
        delete record;
    }
    m_viewVolume.switchOff(index);
    m_volumeSlider->setValue(0);
}

// ---------------------------------------------------------------- stream control

void qwLiveView::pauseAllViews()
{
    qCDebug(lcPages) << "pauseAllViews";
    for (_st_view_item *record : qAsConst(m_viewRecords))
        pauseCamera(record, true);
}

void qwLiveView::resumeAllViews()
{
    qCDebug(lcPages) << "resumeAllViews";
    for (_st_view_item *record : qAsConst(m_viewRecords))
        pauseCamera(record, false);
}

void qwLiveView::chooseViewStreams()
{
    if (m_localConfig.autostream != 1)
        return;
    if (m_singleView && m_maximizedView >= kMaxViews)
        return;
    const int maximized = m_singleView ? m_maximizedView : -1;
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (!record->camera)
            continue;
        const int target = livegrid::wantsMainStream(m_viewsPerPage, m_page, maximized, record->view) ? 0 : 1;
        if (cameraStream(record) == target)
            continue;
        switchCameraStream(record, target);
        if (target == 1)
            setCameraAudio(record, 0);
        if (qwVideoshowToolbar *bar = viewToolbar(record->view))
            bar->setButtonState(qwVideoshowToolbar::Zoom, false);
    }
}

void qwLiveView::swapViews(int a, int b)
{
    const int c = m_viewsPerPage;
    const int first = m_page * c;
    // Both views must be cells of the grid that is shown.
    if (a == b || c <= 0 || a < first || a >= first + c || b < first || b >= first + c || !m_views[a] || !m_views[b])
        return;
    m_viewVolume.swap(a, b);
    if (!ui->widget_Videoview->layout())
        return;
    std::swap(m_views[a], m_views[b]);
    m_views[a]->setIndex(a);
    m_views[b]->setIndex(b);
    m_views[a]->setObjectName(QStringLiteral("videoview_%1").arg(a));
    m_views[b]->setObjectName(QStringLiteral("videoview_%1").arg(b));
    if (qwVideoshowToolbar *bar = viewToolbar(a))
        bar->setIndex(a);
    if (qwVideoshowToolbar *bar = viewToolbar(b))
        bar->setIndex(b);
    layoutViews(c, true, (a / c) * c);
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->view == a)
            record->view = b;
        else if (record->view == b)
            record->view = a;
    }
    chooseViewStreams();
}

int qwLiveView::viewIndexAtCursor()
{
    QWidget *area = ui->widget_Videoview;
    const QPoint pos = area->mapFromGlobal(QCursor::pos());
    if (pos.x() < 0 || pos.y() < 0 || pos.x() > area->width() || pos.y() > area->height())
        return -1;
    auto *grid = area->layout();
    for (int k = 0; grid && k < grid->count() && k < m_viewsPerPage; ++k) {
        QWidget *w = grid->itemAt(k)->widget();
        if (w && w->isVisible() && w->geometry().contains(pos))
            return static_cast<qwCstmVideoview *>(w)->index();
    }
    return -1;
}

bool qwLiveView::eventFilter(QObject *watched, QEvent *event)
{
    QWidget *area = ui ? ui->widget_Videoview : nullptr;
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == area && key->key() == Qt::Key_Escape && isFullScreen())
            m_fullScreenArea->leave();
        return false;
    }
    if (area && watched == area) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_viewDragging = true;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            if (m_viewDragging && !m_singleView) {
                const int target = viewIndexAtCursor();
                if (target >= 0 && m_pressedView >= 0 && target != m_pressedView)
                    swapViews(m_pressedView, target);
            }
            m_viewDragging = false;
        }
        return false;
    }
    if (watched == this && event->type() == QEvent::Paint)
        return true;
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- camera glue

void qwLiveView::stopCamera(_st_view_item *record)
{
    if (record->camera) {
        record->camera->stopStream();
        record->camera->closeAudio();
        delete record->camera;
    }
    record->camera = nullptr;
}

void qwLiveView::setCameraAudio(_st_view_item *record, int volume)
{
    if (!record->camera)
        return;
    if (volume > 0) {
        record->camera->openAudio();
        record->camera->setVolume(volume);
    } else {
        record->camera->closeAudio();
    }
}

int qwLiveView::cameraStream(_st_view_item *record) const
{
    return record->camera ? record->camera->getStreamType() : -1;
}

void qwLiveView::switchCameraStream(_st_view_item *record, int stream)
{
    if (record->camera)
        record->camera->switchStream(stream);
}

void qwLiveView::setCameraPlayState(_st_view_item *record, int state)
{
    if (record->camera)
        record->camera->onPlayState(state);
}

void qwLiveView::refreshCamera(_st_view_item *record)
{
    if (!record->camera || !record->device)
        return;
    // The sub stream may have come back, or gone, since the view opened.
    ViewStreams streams;
    if (!readViewStreams(m_streamServer, record->device->address, &streams) ||
        !record->camera->setMainSubBuffers(streams.mainBuffer, streams.subBuffer))
        return;
    record->camera->setStreamInfo(streams.mainInfo, streams.subInfo);
    record->camera->refresh();
}

void qwLiveView::pauseCamera(_st_view_item *record, bool paused)
{
    if (record->camera)
        record->camera->setPaused(paused);
}

void qwLiveView::stopIntercom(const QString &address)
{
    if (m_streamServer)
        m_streamServer->stopIntercom(address);
}

// ---------------------------------------------------------------- stream service

_st_local_config qwLiveView::clampedConfig(const _st_local_config &config)
{
    return livelocalconfig::clamped(config);
}

void qwLiveView::createStreamServer()
{
    m_streamServer = new qcStreamServer;
    m_streamThread = new QThread(this);
    m_streamThread->setObjectName(QStringLiteral("StreamService"));
    m_streamServer->moveToThread(m_streamThread);
    connect(m_streamServer, &qcStreamServer::sigDeviceStatus, this, &qwLiveView::onDeviceStatus);
    connect(m_streamServer, &qcStreamServer::sigDeviceMetainfoChange, this, &qwLiveView::onDeviceMataChange);
    connect(m_streamServer, &qcStreamServer::sigRecordResult, this, &qwLiveView::onRecordSnapshot);
    connect(m_streamServer, &qcStreamServer::sigScheduleRecord, this, &qwLiveView::onScheduleRecord);
    connect(m_streamServer, &qcStreamServer::sigAlarmArrival, this, &qwLiveView::onDeviceAlarmArrival);
    connect(m_streamServer, &qcStreamServer::sigTalkEnded, m_liveActions, &qcLiveActions::talkEnded);
    m_streamThread->start(QThread::InheritPriority);
}

void qwLiveView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_startTimerId) {
        if (!m_streamServer) {
            killTimer(m_startTimerId);
            m_startTimerId = -1;
        }
        return;
    }
    QWidget::timerEvent(event);
}

// ---------------------------------------------------------------- devices

bool qwLiveView::addScheduleItem(const QString &segment, int scheduleType, int applyTo, int enabled,
                                 const QString &address, int day)
{
    int type = 0;
    int start = 0;
    int end = 0;
    if (!m_streamServer || !livelocalconfig::parseSegment(segment, &type, &start, &end))
        return false;
    if (scheduleType == 0)
        return m_streamServer->addRecordSchedule(day, applyTo, type, start, end, enabled, address);
    if (scheduleType == 1)
        return m_streamServer->addSecondSchedule(day, applyTo, type, start, end, enabled, address);
    return false;
}

ReadStatus qwLiveView::readStored()
{
    ReadStatus status = livelocalconfig::refresh(m_streamServer, m_database, m_localConfig);
    if (status.ok() && !m_gridRead)
        status = showStoredGrid();
    if (status.ok() && !m_devicesListed)
        status = loadDeviceList();
    return status;
}

void qwLiveView::onLocalConfigChanged()
{
    m_storedRead->run();
}

ReadStatus qwLiveView::showStoredGrid()
{
    const SettingsRow settings = m_database ? m_database->readSettings() : SettingsRow();
    if (!settings.ok())
        return settings.status();
    m_gridRead = true;
    const int stored = settings.getViewCount();
    if (livegrid::isSupportedCount(stored) && stored != m_viewsPerPage)
        layoutViews(stored, false, 0);
    return settings.status();
}

ReadStatus qwLiveView::loadDeviceList()
{
    if (!m_database)
        return {ReadStatus::Closed};
    QList<_st_device_item> stored;
    const ReadStatus status = m_database->readDevices(stored);
    if (!status.ok())
        return status;
    m_devicesListed = true;
    for (const _st_device_item &row : qAsConst(stored)) {
        // Added by the operator while the list could not be read yet. A row
        // at the address of another (an older version left such) is listed
        // too: hidden, it could be neither deleted nor told from a new one.
        if (std::any_of(m_devices.cbegin(), m_devices.cend(),
                        [&row](const _st_device_item *d) { return d->indexid == row.indexid; }))
            continue;
        auto *device = new _st_device_item(row);
        // A row written by hand or by an older version may hold anything.
        if (!deviceaddress::isAcceptable(device->address)) {
            const QString shown = deviceaddress::printable(device->address);
            qWarning().noquote() << "stored device skipped, its address is not one:" << device->devname << shown;
            // An operator must be able to see why a device vanished.
            logDeviceChange("device skipped", device->devname, shown, false,
                            QStringLiteral("stored row %1: the address is neither an IPv4 address nor a P2P identifier")
                                .arg(device->indexid));
            delete device;
            continue;
        }
        addCameraItem(device->devname, device->address, 0);
        m_devices.append(device);
        if (m_streamServer)
            m_streamServer->addDevice(device->address, device->port, device->devname, device->username,
                                      device->password, device->devtype, device->indexid);
    }
    return status;
}

void qwLiveView::readPanelSettings()
{
    m_deviceRequests->setDevice(m_curAddress, m_curPort, m_curUser, m_curPassword);
    m_ptzPanel->requestPtzInfo();
    m_imagePanel->requestImageInfo();
}

void qwLiveView::showEvent(QShowEvent *event)
{
    m_ptzPanel->speedSlider()->setEnabled(g_curUserRights & userrights::PtzControl);
    QWidget::showEvent(event);
}

bool qwLiveView::hasRight(quint32 bit)
{
    return userrights::check(this, bit);
}

void qwLiveView::showFailureTip(const char *key)
{
    livetext::showFailureTip(this, key);
}

void qwLiveView::showDeviceExists()
{
    refusal::showReminder(this, "devexist");
}

void qwLiveView::refuseModify(qwModifyDevice *dialog, const char *key, const QString &name, const QString &address,
                              const QString &why)
{
    if (dialog)
        dialog->keepOpen();
    refusal::showReminder(dialog ? static_cast<QWidget *>(dialog) : this, key);
    logDeviceChange("modify device", name, address, false, why);
}

bool qwLiveView::isListed(const QString &address) const
{
    // A stored row may spell the address with leading zeros.
    return std::any_of(m_devices.cbegin(), m_devices.cend(), [&address](const _st_device_item *d) {
        return deviceaddress::isSameAddress(d->address, address);
    });
}

int qwLiveView::rowOfAddress(const QString &address) const
{
    for (int i = 0; i < m_devices.size(); ++i) {
        if (m_devices[i]->address == address)
            return i;
    }
    return -1;
}

void qwLiveView::onAddDevManual()
{
    if (!hasRight(userrights::DeviceManagement))
        return;
    auto *dialog = new qwAddDevice(this, QString(), 0);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &qwAddDevice::sigOptionResult, this, &qwLiveView::onCameraOptionResult);
    dialog->setListedCheck([this](const QString &address) { return isListed(address); });
    m_addMode = 1;
    dialog->show();
}

void qwLiveView::onCameraOptionResult(QString devname, QString devip, QString addtype, QString port, QString username,
                                      QString password, int mode)
{
    if (m_addMode != 1 || !deviceaddress::isAcceptable(devip))
        return;
    if (isListed(devip)) {
        if (mode == 0)
            showDeviceExists();
        return;
    }
    auto *device = new _st_device_item;
    device->devname = devname;
    device->address = deviceaddress::canonical(devip);
    device->port = port;
    device->username = username;
    device->password = password;
    device->devtype = addtype;
    device->connecttype = 0;
    device->indexid = 0;
    QString failure = QLatin1String(kNoDatabase);
    const qint64 indexid = m_database ? m_database->addDevice(*device, &failure) : -1;
    if (indexid >= 1) {
        device->indexid = indexid;
        m_devices.append(device);
        addCameraItem(devname, device->address, 1);
        if (m_streamServer)
            m_streamServer->addDevice(device->address, device->port, device->devname, device->username,
                                      device->password, device->devtype, device->indexid);
        logDeviceChange("add device", devname, device->address, true);
        return;
    }
    const QString address = device->address;
    delete device;
    // The add dialog stays open with what was typed. A device stored at the
    // address meanwhile (by another program) is one the list does not show
    // yet, but it is there.
    if (indexid == qcDatabase::kAddressStored) {
        if (mode == 0)
            showDeviceExists();
        logDeviceChange("add device", devname, address, false, failure);
        return;
    }
    refusal::tell(this, "add device", devname, address, failure);
}

void qwLiveView::modifyDevice(int row)
{
    if (row < 0 || row >= m_devices.size() || !m_devices[row])
        return;
    m_modifyRow = row;
    const _st_device_item *d = m_devices[row];
    auto *dialog = new qwModifyDevice(this, liveText(kPreviewPage, kNoSection, "modifydevice"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setSelectedDevice(d->devname, d->address, d->connecttype, d->port, d->username, d->password, d->indexid);
    connect(dialog, &qwModifyDevice::sigModifyResult, this, &qwLiveView::onCameraModifyResult);
    dialog->show();
}

void qwLiveView::onCameraModifyResult(QString devname, QString devip, int addtype, QString port, QString username,
                                      QString password, qlonglong devindex)
{
    if (!deviceaddress::isAcceptable(devip))
        return;
    auto *dialog = qobject_cast<qwModifyDevice *>(sender());
    const devicechange::Fields typed{devname, devip, addtype, port, username, password};
    // The device may have changed since its dialog opened.
    _st_device_item changed;
    const devicechange::Check checked =
        devicechange::checkEdits(m_devices, devindex, dialog ? &dialog->shown() : nullptr, typed, changed);
    if (!checked.allowed()) {
        refuseModify(dialog, checked.key, devname, devip, checked.why);
        return;
    }
    const int row = checked.row;
    _st_device_item *device = m_devices[row];
    QString failure = QLatin1String(kNoDatabase);
    if (!m_database || !m_database->updateDevice(changed, &failure)) {
        // Another program may have stored the address meanwhile.
        if (failure == QLatin1String(qcDatabase::kAddressHeld)) {
            refuseModify(dialog, "devexist", changed.devname, changed.address, failure);
            return;
        }
        if (dialog)
            dialog->keepOpen();
        refusal::tell(this, "modify device", changed.devname, changed.address, failure);
        return;
    }
    // The window's pages ask with what it was given.
    if (devicechange::leavesWindowBehind(*device, changed))
        closeDeviceWindow(device->indexid);
    m_deviceRequests->listedDeviceChanged(*device, changed);
    *device = changed;
    if (qwCameraItem *item = cameraItem(row)) {
        item->setName(device->devname);
        item->setStatus(qwCameraItem::Connecting);
        item->setInfoText(device->address);
    }
    if (m_streamServer) {
        m_streamServer->modifyDevice(device->indexid, device->address, device->port, device->devname, device->username,
                                     device->password);
        registerUnitless();
    }
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->row != row || !view(record->view))
            continue;
        if (qwVideoshowToolbar *bar = viewToolbar(record->view)) {
            bar->showRecording(false);
            bar->setButtonState(0x1f, false);
        }
    }
    logDeviceChange("modify device", device->devname, device->address, true);
}

namespace {
qwLiveView::DeviceSettingsOpener s_deviceSettingsOpener = nullptr;
} // namespace

void qwLiveView::setDeviceSettingsOpener(DeviceSettingsOpener opener)
{
    s_deviceSettingsOpener = opener;
}

void qwLiveView::openDeviceSettings(int row)
{
    if (row < 0 || row >= m_devices.size() || !s_deviceSettingsOpener)
        return;
    const _st_device_item *d = m_devices[row];
    m_deviceWindows->open(d->indexid, [this, d]() -> QWidget * {
        QWidget *window = s_deviceSettingsOpener(this, *d);
        // The window stays bound to its device, wherever the row moves.
        if (window)
            window->setProperty("deviceIndex", d->indexid);
        return window;
    });
}

void qwLiveView::onCameraBaseinfoChange(QString ipaddr, QString port, QString username, QString password)
{
    auto *window = qobject_cast<QWidget *>(sender());
    if (!window || !window->property("deviceIndex").isValid() || !deviceaddress::isAcceptable(ipaddr))
        return;
    const qint64 indexid = window->property("deviceIndex").toLongLong();
    // A window closed when its device moved or went holds where the device
    // was, not where it is.
    if (m_deviceWindows->window(indexid) != window) {
        logDeviceChange("modify device", QString(), ipaddr, false,
                        QStringLiteral("the settings window was closed: its device was changed or removed"));
        return;
    }
    const devicechange::Check checked = devicechange::check(m_devices, indexid, ipaddr);
    qDebug() << "--------Current list row is:" << checked.row << "--------";
    if (!checked.allowed()) {
        refusal::showReminder(window, checked.key);
        logDeviceChange("modify device", checked.row < 0 ? QString() : m_devices[checked.row]->devname, ipaddr, false,
                        checked.why);
        return;
    }
    const int row = checked.row;
    _st_device_item *device = m_devices[row];
    const QString previous = device->address;
    _st_device_item changed = *device;
    // A stored spelling stays; an address given anew is stored in the one.
    changed.address =
        deviceaddress::isSameAddress(device->address, ipaddr) ? device->address : deviceaddress::canonical(ipaddr);
    changed.port = port;
    changed.username = username;
    changed.password = password;
    QString failure = QLatin1String(kNoDatabase);
    if (!m_database || !m_database->updateDevice(changed, &failure)) {
        if (failure == QLatin1String(qcDatabase::kAddressHeld))
            refusal::showReminder(window, "devexist");
        else
            showFailureTip("databaseerr");
        logDeviceChange("modify device", device->devname, ipaddr, false, failure);
        return;
    }
    if (devicechange::movesAway(*device, changed))
        closeDeviceWindow(indexid);
    const QList<_st_view_item *> records = m_viewRecords;
    for (_st_view_item *record : records) {
        if (record->row == row && record->camera) {
            onPlayviewClick(record->view);
            closeView(record->view);
        }
    }
    m_deviceRequests->listedDeviceChanged(*device, changed);
    *device = changed;
    if (qwCameraItem *item = cameraItem(row)) {
        item->setStatus(qwCameraItem::Connecting);
        item->setInfoText(device->address);
    }
    if (m_streamServer) {
        m_streamServer->removeDevice(previous);
        m_streamServer->addDevice(device->address, device->port, device->devname, device->username, device->password,
                                  device->devtype, device->indexid);
        // The removal took the device's schedules along; the database has
        // carried them to its new address (read again until that works).
        m_storedRead->run();
    }
    logDeviceChange("modify device", device->devname, device->address, true);
}

void qwLiveView::registerUnitless()
{
    bool added = false;
    for (const _st_device_item *d : qAsConst(m_devices)) {
        if (!m_streamServer->unitFor(d->address))
            added = m_streamServer->addDevice(d->address, d->port, d->devname, d->username, d->password, d->devtype,
                                              d->indexid) >= 0 ||
                    added;
    }
    // A new unit starts without the schedules of its address.
    if (added)
        m_storedRead->run();
}

void qwLiveView::closeDeviceWindow(qint64 indexid)
{
    // Told over the page: a Modify dialog in front closes right after.
    if (m_deviceWindows->close(indexid))
        refusal::showNotice(this, "devsetclosed");
}

void qwLiveView::removeDevice(int row)
{
    if (row < 0 || row >= m_devices.size() || !m_devices[row])
        return;
    const _st_device_item device = *m_devices[row];
    const QString &address = device.address;
    const QString &name = device.devname;
    QString failure = QLatin1String(kNoDatabase);
    const qcDatabase::Removal removal =
        m_database ? m_database->removeDevice(device, &failure) : qcDatabase::Removal::Refused;
    if (removal == qcDatabase::Removal::Refused) {
        // The row, its record and its views stay.
        refusal::tell(this, "delete device", name, address, failure);
        return;
    }
    QListWidgetItem *item = m_devList->item(row);
    QWidget *widget = m_devList->itemWidget(item);
    m_devList->removeItemWidget(item);
    delete widget;
    delete m_devList->takeItem(row);
    closeDeviceViews(row);
    qDebug() << "---------------Remove Device IP:" + address + "----------------";
    if (m_streamServer && m_streamServer->removeDevice(address))
        registerUnitless();
    m_deviceRequests->listedDeviceDeleted(device);
    --m_devCount;
    closeDeviceWindow(device.indexid);
    // A row that was gone already leaves the list too, but not as a deletion made.
    if (removal == qcDatabase::Removal::Gone)
        refusal::showReminder(this, "devgone");
    logDeviceChange("delete device", name, address, removal == qcDatabase::Removal::Deleted, failure);
}

void qwLiveView::closeDeviceViews(int row)
{
    for (int i = 0; i < m_devList->count(); ++i) {
        if (qwCameraItem *item = cameraItem(i))
            item->setIndex(i);
    }
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->row != row || !record->camera)
            continue;
        record->device = nullptr;
        stopCamera(record);
        closeViewWidgets(record->view);
        m_viewRecords.removeOne(record);
        delete record;
        break;
    }
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->row > row)
            --record->row;
    }
    if (row >= 0 && row < m_devices.size())
        delete m_devices.takeAt(row);
    qDebug() << "------------Delete device------------";
}

void qwLiveView::onDevlistButtonClick(int index, int type)
{
    m_devList->setCurrentRow(index);
    switch (type) {
    case qwCameraItem::Refresh:
        if (qwCameraItem *item = cameraItem(index)) {
            item->setStatus(qwCameraItem::Connecting);
            item->disableOptions(1 | 2 | 4 | 8);
        }
        break;
    case qwCameraItem::Play:
        openStream(index);
        break;
    case qwCameraItem::Face: {
        auto *face = new qwFaceDetection(this);
        face->show();
        break;
    }
    case qwCameraItem::Settings:
        if (!hasRight(userrights::DeviceConfiguration))
            return;
        m_optionRow = index;
        openDeviceSettings(index);
        break;
    case qwCameraItem::Modify:
        if (!hasRight(userrights::DeviceManagement))
            return;
        m_optionRow = index;
        modifyDevice(index);
        break;
    case qwCameraItem::Delete:
        if (!hasRight(userrights::DeviceManagement))
            return;
        removeDevice(index);
        break;
    default:
        break;
    }
}

void qwLiveView::onDevlistDBClick(QModelIndex index)
{
    openStream(index.row());
}

void qwLiveView::onListItemDrop(int viewid)
{
    onPlayviewClick(viewid);
    openStream(m_devList->currentRow());
}

// ---------------------------------------------------------------- status

void qwLiveView::onDeviceStatus(QString ipaddr, int status)
{
    const int p = rowOfAddress(ipaddr);
    if (p < 0 || status < 0 || status > 3)
        return;
    if (qwCameraItem *item = cameraItem(p)) {
        const int disable = 1 | 2 | 4 | 8;
        switch (status) {
        case 0:
            if (item->getStatus() != qwCameraItem::LoggedIn) {
                item->setStatus(qwCameraItem::Connecting);
                item->disableOptions(disable);
                item->enableOptions(8 | 0x10);
            }
            break;
        case 1:
            item->setStatus(qwCameraItem::LoggedIn);
            item->disableOptions(disable);
            item->enableOptions(qcLiveDeviceRequests::isAddressDevice(ipaddr) ? 0x1f : 0x19);
            break;
        case 2:
            item->setStatus(qwCameraItem::LoginError);
            item->disableOptions(disable);
            item->enableOptions(8 | 0x10);
            break;
        case 3:
            item->setStatus(qwCameraItem::Offline);
            item->disableOptions(disable);
            item->enableOptions(8 | 0x10);
            break;
        }
    }
    if (status == 0)
        return;
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->device && record->camera && record->device->address == ipaddr)
            setCameraPlayState(record, status == 1 ? 5 : 6);
    }
}

void qwLiveView::onDeviceMataChange(QString ipaddr, int stream)
{
    Q_UNUSED(stream)
    for (_st_view_item *record : qAsConst(m_viewRecords)) {
        if (record->camera && record->device && record->device->address == ipaddr) {
            refreshCamera(record);
            return;
        }
    }
}

// ---------------------------------------------------------------- view actions and alarms

void qwLiveView::onPlayviewToolbarButtonClick(int index, int btnid, int status)
{
    m_liveActions->toolbarButton(index, btnid, status);
}

void qwLiveView::onPlayviewZoomResult(bool)
{
    m_liveActions->zoomResult(sender());
}

void qwLiveView::onBtnPlayClick()
{
    m_liveActions->playAll();
}

void qwLiveView::onBtnStopClick()
{
    m_liveActions->stopAll();
}

void qwLiveView::onBtnSnapshotClick()
{
    m_liveActions->snapshotAll();
}

void qwLiveView::onBtnRecordClick()
{
    m_liveActions->recordAll();
}

void qwLiveView::onBtnSpeakerClick()
{
    m_liveActions->speaker(sender());
}

void qwLiveView::onSliderVolumeValue(int value)
{
    m_liveActions->volume(value);
}

void qwLiveView::onBtnMicrophoneClick()
{
    m_liveActions->microphone(sender());
}

void qwLiveView::onBtnAlarmClick()
{
    m_liveActions->openAlarmWindow();
}

void qwLiveView::onRecordSnapshot(QString ipaddr, QString filepath, int type)
{
    m_liveActions->recordSnapshot(sender(), ipaddr, filepath, type);
}

void qwLiveView::onScheduleRecord(QString ipaddr)
{
    m_liveActions->scheduleRecord(ipaddr);
}

void qwLiveView::onDeviceAlarmArrival(QString ipaddr, QString devname, int type, int action, QDateTime time)
{
    m_liveAlarms->arrive(_st_alarm_item(ipaddr, devname, QString(), type, action, time));
    emit sigDeviceTriggerAlarm(ipaddr, devname, type, action, QString(), time);
}

void qwLiveView::onClearAlarmList()
{
    m_liveAlarms->clear();
}

void qwLiveView::blinkAlarmButton()
{
    m_liveAlarms->blinkStep();
}
