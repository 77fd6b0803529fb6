#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

#include <array>
#include <functional>

class CGIUtil;
class DevsetReadState;
class DevsetPreview;
class qcStreamPlayer;
class QCheckBox;
class QLineEdit;
class QPushButton;

// The device's four on-screen items: on and off, placed by dragging their
// frames over the preview, the custom text, and a logo upload. Positions
// are kept on the device's scale of 1000 as read; only an item dragged
// since goes back converted from the preview.
class qwDevsetOsd : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPreviewWidth = 634;
    static constexpr int kPreviewHeight = 340;
    using PictureChooser = std::function<QString(QWidget *parent, const QString &folder)>;

    explicit qwDevsetOsd(QWidget *parent);
    ~qwDevsetOsd() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    // The preview's player while the page is shown, else null.
    qcStreamPlayer *streamPlayer() const;

    // Item i's frame on the preview: 0 system, 1 date and time, 2 custom text,
    // 3 picture.
    QRect itemRect(int i) const { return m_itemRect[size_t(i)]; }

    // How a picture file is chosen; the default (also after an empty
    // function) is the file dialog.
    static void setPictureChooser(PictureChooser chooser);

public slots:
    void OnInitParameters(int pageid);
    void OnInitVideoWidget(int width, int height);
    void OnCGIDataCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnCheckBoxClick();
    void OnButtonClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void parseOsd();
    void sendOsd(bool wait);
    void endDrag();
    void onBrowsePicture();
    void uploadLogo();
    void restoreDefaults();
    void updatePictureButtons();

    QString devip;
    QString httpport;
    QString username;
    QString password;
    std::array<QRect, 4> m_itemRect;
    // Device coordinates (0..1000) last read or sent, and whether the item
    // was moved on screen since.
    std::array<QPoint, 4> m_devicePos;
    std::array<bool, 4> m_moved{};
    QPoint m_lastPoint;
    int m_dragIndex = -1;
    bool m_dragging = false;
    bool m_showTips = false;
    QString m_logoPath;
    CGIUtil *m_getRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    CGIUtil *m_setRequest = nullptr;
    CGIUtil *m_uploadRequest = nullptr;
    std::array<QCheckBox *, 4> m_checks{};
    QLineEdit *m_customText = nullptr;
    QLineEdit *m_picturePath = nullptr;
    QPushButton *m_browse = nullptr;
    QPushButton *m_upload = nullptr;
    QPushButton *m_restore = nullptr;
    QPushButton *m_save = nullptr;
    QWidget *m_preview = nullptr;
    QWidget *m_overlay = nullptr;
    DevsetPreview *m_live = nullptr;
};
