#pragma once

#include <QLoggingCategory>

// One debug line per page operation the main window calls, so that the
// order of pause, resume and reload calls can be followed.
Q_DECLARE_LOGGING_CATEGORY(lcPages)
