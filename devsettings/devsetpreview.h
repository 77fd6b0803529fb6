#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;
class qcStreamPlayer;

// The live picture of a page's preview area while the page is shown: a
// stream player of the device's main stream and, for each stream
// description it announces, a new drawing widget filling the area: a plain
// native child the player draws into through Direct3D, or an OpenGL picture
// widget stretched over the area. The old widget is deleted only after the
// player let go of it, and with the player when the page is hidden: a page
// shown again shows the area's own black until the first new picture.
class DevsetPreview : public QObject
{
    Q_OBJECT
public:
    enum class Drawing { Direct3D, OpenGL };

    DevsetPreview(QWidget *area, Drawing drawing);
    ~DevsetPreview() override;

    void start(const QString &devip, const QString &httpport, const QString &username, const QString &password);
    void stop();

    qcStreamPlayer *player() const { return m_player; }
    // The drawing widget of the newest stream description while started,
    // or null.
    QWidget *surface() const { return m_surface; }

public slots:
    void onVideoratio(int width, int height);

private:
    QWidget *m_area;
    Drawing m_drawing;
    qcStreamPlayer *m_player = nullptr;
    QPointer<QWidget> m_surface;
};
