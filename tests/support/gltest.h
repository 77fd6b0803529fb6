#pragma once

// What every suite drawing through OpenGL under Xvfb does before its
// QApplication. Header only: the suite links ${CMAKE_DL_LIBS} itself.

#include <QSurfaceFormat>
#include <QtGlobal>

#include <cstdio>
#include <dlfcn.h>

namespace testsupport {

// Mesa unloads its driver at exit, after which LeakSanitizer cannot name
// what the driver allocated and no suppression matches: keep it loaded.
inline void keepGlDriverLoaded()
{
    QByteArray dir = qgetenv("LIBGL_DRIVERS_PATH");
    if (dir.isEmpty())
        dir = "/usr/lib/" ARDO_LIBRARY_ARCHITECTURE "/dri";
    dlopen((dir + "/swrast_dri.so").constData(), RTLD_NOW | RTLD_NODELETE);
}

// The program's default surface format (a 24-bit depth buffer), the driver
// pinned; false, with the reason printed, without an X server.
inline bool prepareGlSuite()
{
    QSurfaceFormat format;
    format.setDepthBufferSize(24);
    format.setRenderableType(QSurfaceFormat::OpenGL);
    QSurfaceFormat::setDefaultFormat(format);
    keepGlDriverLoaded();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "needs an X server with GLX (run under xvfb-run)\n");
        return false;
    }
    return true;
}

} // namespace testsupport
