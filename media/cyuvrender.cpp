#include "media/cyuvrender.h"

#include "platform/yuvcolour.h"

#include <QEvent>
#include <QOpenGLShaderProgram>
#include <QResizeEvent>

#include <cstring>

namespace {

const char *const kVertexShader = "attribute vec2 vertexIn;\n"
                                  "attribute vec2 textureIn;\n"
                                  "varying vec2 textureOut;\n"
                                  "void main(void)\n"
                                  "{\n"
                                  "    gl_Position = vec4(vertexIn, 0.0, 1.0);\n"
                                  "    textureOut = textureIn;\n"
                                  "}\n";

// The program's one colour definition, with the same numbers as the Direct3D
// layer's software conversion.
QString fragmentShader()
{
    namespace yuv = platform::yuv;
    const auto n = [](double v) { return QString::number(v, 'f', 7); };
    return QStringLiteral("varying vec2 textureOut;\n"
                          "uniform sampler2D tex_y;\n"
                          "uniform sampler2D tex_u;\n"
                          "uniform sampler2D tex_v;\n"
                          "void main(void)\n"
                          "{\n"
                          "    float y = (texture2D(tex_y, textureOut).r - %1) * %2;\n"
                          "    float u = texture2D(tex_u, textureOut).r - %3;\n"
                          "    float v = texture2D(tex_v, textureOut).r - %3;\n"
                          "    gl_FragColor = vec4(y + %4 * v, y - %5 * u - %6 * v, y + %7 * u, 1.0);\n"
                          "}\n")
        .arg(n(yuv::kLumaOffset), n(yuv::kLumaGain), n(yuv::kChromaOffset), n(yuv::kCrToR), n(yuv::kCbToG),
             n(yuv::kCrToG), n(yuv::kCbToB));
}

} // namespace

CYuvRender::CYuvRender(QWidget *parent, int width, int height)
    : QOpenGLWidget(parent), m_width(width > 0 ? width : 0), m_height(height > 0 ? height : 0)
{
    setAttribute(Qt::WA_DeleteOnClose);
    if (m_width > 0 && m_height > 0)
        m_buffer.assign(size_t(m_width) * size_t(m_height) * 3 / 2, 0);
    // Pages draw and take the mouse over the picture through this child.
    m_cover = new QWidget(this);
    m_cover->installEventFilter(this);
    m_cover->resize(size());
}

CYuvRender::~CYuvRender()
{
    makeCurrent();
    if (m_initialised) {
        glDeleteTextures(3, m_textures);
        m_vertices.destroy();
    }
    delete m_program;
    doneCurrent();
}

bool CYuvRender::setFrameData(const uint8_t *data, qint64 size)
{
    QMutexLocker lock(&m_bufferMutex);
    if (m_buffer.empty() || !data || size != qint64(m_buffer.size()))
        return false;
    std::memcpy(m_buffer.data(), data, m_buffer.size());
    m_hasPicture = true;
    return true;
}

void CYuvRender::setActive(bool active)
{
    QMutexLocker lock(&m_bufferMutex);
    if (!active) {
        std::fill(m_buffer.begin(), m_buffer.end(), 0);
        // Zeros are no picture (they would paint green): nothing is drawn
        // when drawing is switched on again until the next picture came.
        m_hasPicture = false;
    }
    m_active = active;
}

int CYuvRender::setDisplayMode(int mode)
{
    if (mode < KeepAspect || mode > Stretch)
        return m_mode;
    const bool changed = mode != m_mode;
    m_mode = mode;
    computeViewport();
    if (changed)
        m_relayout = true;
    return m_mode;
}

void CYuvRender::onUpdatevideo()
{
    update();
}

void CYuvRender::onInitRender() {}

void CYuvRender::computeViewport()
{
    const int w = qMax(1, width());
    const int h = qMax(1, height());
    double ratio = double(w) / h;
    if (m_mode == KeepAspect && m_width > 0 && m_height > 0)
        ratio = double(m_width) / m_height;
    else if (m_mode == Fit16x9)
        ratio = 16.0 / 9.0;
    else if (m_mode == Fit4x3)
        ratio = 4.0 / 3.0;
    int pw = w;
    int ph = h;
    if (double(w) / h > ratio)
        pw = int(h * ratio);
    else
        ph = int(w / ratio);
    const int left = (w - pw) / 2;
    const int top = (h - ph) / 2;
    m_viewport = QRect(QPoint(left, top), QPoint(left + pw - 1, top + ph - 1));
}

void CYuvRender::writeVertices()
{
    if (m_viewport.isEmpty())
        computeViewport();
    const float sx = float(m_viewport.width()) / float(qMax(1, width()));
    const float sy = float(m_viewport.height()) / float(qMax(1, height()));
    // Counter-clockwise, as face culling wants it; the first picture row at
    // the top.
    const float data[] = {-sx, -sy, 0.f, 1.f, sx, -sy, 1.f, 1.f, -sx, sy, 0.f, 0.f, sx, sy, 1.f, 0.f};
    m_vertices.bind();
    m_vertices.write(0, data, sizeof(data));
    m_vertices.release();
}

void CYuvRender::initializeGL()
{
    m_active = true;
    if (m_initialised) {
        m_vertices.destroy();
        delete m_program;
        m_program = nullptr;
    }
    initializeOpenGLFunctions();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    m_vertices.create();
    m_vertices.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    m_vertices.bind();
    m_vertices.allocate(16 * sizeof(float));
    m_vertices.release();
    m_program = new QOpenGLShaderProgram;
    m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShader());
    m_program->bindAttributeLocation("vertexIn", 0);
    m_program->bindAttributeLocation("textureIn", 1);
    m_program->link();
    m_program->bind();
    m_program->setUniformValue("tex_y", 0);
    m_program->setUniformValue("tex_u", 1);
    m_program->setUniformValue("tex_v", 2);
    glClearColor(0.001f, 0.001f, 0.001f, 1.f);
    glGenTextures(3, m_textures);
    for (int i = 0; i < 3; ++i) {
        const int w = i == 0 ? m_width : m_width / 2;
        const int h = i == 0 ? m_height : m_height / 2;
        glBindTexture(GL_TEXTURE_2D, m_textures[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, qMax(1, w), qMax(1, h), 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    computeViewport();
    writeVertices();
    m_initialised = true;
}

void CYuvRender::paintGL()
{
    if (!m_initialised)
        return;
    // The depth buffer too: a quad at the depth the last one left would be
    // discarded.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    QMutexLocker lock(&m_bufferMutex);
    if (!m_active || !m_hasPicture || m_buffer.empty())
        return;
    const int ySize = m_width * m_height;
    const uint8_t *planes[3] = {m_buffer.data(), m_buffer.data() + ySize, m_buffer.data() + ySize * 5 / 4};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, m_textures[i]);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, i == 0 ? m_width : m_width / 2, i == 0 ? m_height : m_height / 2,
                        GL_RED, GL_UNSIGNED_BYTE, planes[i]);
    }
    lock.unlock();
    if (m_relayout) {
        writeVertices();
        m_relayout = false;
    }
    m_program->bind();
    m_vertices.bind();
    m_program->enableAttributeArray(0);
    m_program->enableAttributeArray(1);
    m_program->setAttributeBuffer(0, GL_FLOAT, 0, 2, 4 * sizeof(float));
    m_program->setAttributeBuffer(1, GL_FLOAT, 2 * sizeof(float), 2, 4 * sizeof(float));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_program->disableAttributeArray(0);
    m_program->disableAttributeArray(1);
    m_vertices.release();
    ++m_painted;
}

void CYuvRender::resizeGL(int width, int height)
{
    glViewport(0, 0, width, qMax(1, height));
    computeViewport();
    writeVertices();
}

void CYuvRender::resizeEvent(QResizeEvent *event)
{
    QOpenGLWidget::resizeEvent(event);
    m_cover->resize(event->size());
}

bool CYuvRender::eventFilter(QObject *, QEvent *)
{
    return false;
}
