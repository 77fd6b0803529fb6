#pragma once

#include <QObject>
#include <QString>

class CYuvRender;
class QWidget;
class qcStreamPlayer;

// The live picture of a page's preview area while the page is shown: a
// stream player of the device's main stream and, for each stream
// description it announces, a new picture widget of that size stretched
// over the area. The old widget is deleted only after the player let go of
// it.
class DevsetPreview : public QObject
{
    Q_OBJECT
public:
    explicit DevsetPreview(QWidget *area);
    ~DevsetPreview() override;

    void start(const QString &devip, const QString &httpport, const QString &username, const QString &password);
    void stop();

    qcStreamPlayer *player() const { return m_player; }
    CYuvRender *render() const { return m_render; }

public slots:
    void onVideoratio(int width, int height);

private:
    QWidget *m_area;
    qcStreamPlayer *m_player = nullptr;
    CYuvRender *m_render = nullptr;
};
