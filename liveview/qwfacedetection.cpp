#include "liveview/qwfacedetection.h"

#include <QVBoxLayout>

qwFaceDetection::qwFaceDetection(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("qwFaceDetection"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Face detection"));
    resize(800, 560);
    auto *layout = new QVBoxLayout(this);
    m_gallery = new QWidget(this);
    m_gallery->setObjectName(QStringLiteral("widget_Gallery"));
    m_gallery->setStyleSheet(QStringLiteral("QWidget#widget_Gallery{background:#2c2c2c;}"));
    layout->addWidget(m_gallery);
}
