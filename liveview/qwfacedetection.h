#pragma once

#include <QWidget>

// The face-capture window: a titled window with the gallery area, which
// stays empty until a picture client fills it.
class qwFaceDetection : public QWidget
{
    Q_OBJECT
public:
    explicit qwFaceDetection(QWidget *parent);
    QWidget *gallery() const { return m_gallery; }

private:
    QWidget *m_gallery = nullptr;
};
