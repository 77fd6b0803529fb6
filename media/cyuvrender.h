#pragma once

#include <QMutex>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QRect>

#include <atomic>
#include <cstdint>
#include <vector>

class QOpenGLShaderProgram;

// The picture widget of a settings page's preview: one packed I420 picture
// of a fixed size, filled by a live player on its own thread and drawn on
// the GUI thread through three single-channel textures and a colour-
// converting shader.
class CYuvRender : public QOpenGLWidget, protected QOpenGLFunctions
{
    Q_OBJECT
public:
    // 6 keeps the picture's aspect, 7 fits 16:9, 8 fits 4:3, 9 stretches.
    enum DisplayMode { KeepAspect = 6, Fit16x9 = 7, Fit4x3 = 8, Stretch = 9 };

    CYuvRender(QWidget *parent, int width, int height);
    ~CYuvRender() override;

    // Exactly width x height x 3 / 2 bytes of this widget's size, or false
    // with the picture unchanged. Any thread.
    bool setFrameData(const uint8_t *data, qint64 size);
    // false blanks the picture; nothing is drawn until the next set-up.
    void setActive(bool active);
    // Returns the mode in force afterwards (another value is ignored).
    int setDisplayMode(int mode);

    int pictureWidth() const { return m_width; }
    int pictureHeight() const { return m_height; }
    // Where the picture lies in the widget (left, top, right, bottom).
    QRect viewportRect() const { return m_viewport; }
    qint64 picturesPainted() const { return m_painted.load(); }

public slots:
    void onUpdatevideo();
    void onInitRender();

protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeGL(int width, int height) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void computeViewport();
    void writeVertices();

    bool m_initialised = false;
    GLuint m_textures[3] = {0, 0, 0};
    QOpenGLShaderProgram *m_program = nullptr;
    const int m_width;
    const int m_height;
    // The picture, shared with the player thread under m_bufferMutex.
    QMutex m_bufferMutex;
    std::vector<uint8_t> m_buffer;
    bool m_hasPicture = false;
    bool m_active = false;
    QOpenGLBuffer m_vertices{QOpenGLBuffer::VertexBuffer};
    int m_mode = KeepAspect;
    QRect m_viewport;
    bool m_relayout = false;
    std::atomic<qint64> m_painted{0};
    QWidget *m_cover = nullptr;
};
