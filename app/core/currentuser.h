#pragma once

#include <QString>

// The logged-in user; written only by the login dialog, read by every
// writer of log records and by the pages that test rights.
extern QString g_curUserName;
extern quint32 g_curUserRights; // rights bit mask, 0 until a login
