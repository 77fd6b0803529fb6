#pragma once

#include <QWidget>

class QLabel;
class QMimeData;
class QPixmap;
class qcLabelEx;

// One row of a device list: status icon, name, state line, address and the
// option buttons. A left-button move drags the row onto a video view.
class qwCameraItem : public QWidget
{
    Q_OBJECT
public:
    enum Option { Refresh = 0, Play = 1, Face = 2, Settings = 4, Modify = 8, Delete = 0x10 };
    enum State { Offline = 0, Connecting = 1, LoggedIn = 2, Playing = 3, LoginError = 4 };

    qwCameraItem(QWidget *parent, const QString &name, int index, bool showOptions);
    ~qwCameraItem() override;

    void setStatus(int state);
    int getStatus() const { return m_status; }
    void setIndex(int index) { m_index = index; }
    int index() const { return m_index; }
    void setName(const QString &name);
    void setInfoText(const QString &text);
    void setDragEnabled(bool enabled) { m_dragEnabled = enabled; }
    bool isDragEnabled() const { return m_dragEnabled; }
    void setDeviceLabel(const QString &text);
    void disableOptions(int mask);
    void enableOptions(int mask);
    bool isOptionEnabled(int mask) const;
    qcLabelEx *optionButton(int mask) const;

    QLabel *iconLabel() const { return m_icon; }
    QLabel *nameLabel() const { return m_name; }
    QLabel *stateLabel() const { return m_state; }
    QLabel *infoLabel() const { return m_info; }

    // The drag data of a row: the list's drag format with a fixed marker.
    static QMimeData *createDragData();
    // How the drag is run; tests replace it, since a real drag blocks.
    using DragRunner = void (*)(qwCameraItem *source, QMimeData *data, const QPixmap &picture);
    static void setDragRunner(DragRunner runner);

signals:
    void sigOptionBtnClick(int index, int btnmask);

public slots:
    void OnDragResult(QObject *target);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    qcLabelEx *makeButton(QWidget *parent, int mask, int spriteX, const QString &tip);
    void setButtonLook(qcLabelEx *button, int spriteX, bool enabled);
    QPixmap statusCell(int x) const;

    QPixmap *m_statusSprite = nullptr;
    QPixmap *m_optionSprite = nullptr;
    QLabel *m_icon = nullptr;
    QLabel *m_name = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_info = nullptr;
    qcLabelEx *m_refresh = nullptr;
    qcLabelEx *m_play = nullptr;
    qcLabelEx *m_settings = nullptr;
    qcLabelEx *m_modify = nullptr;
    qcLabelEx *m_delete = nullptr;
    qcLabelEx *m_face = nullptr;
    int m_index = 0;
    int m_status = 0;
    bool m_dragEnabled = true;
    int m_enabled = 0x1f;
};
