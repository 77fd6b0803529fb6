#include "app/core/currentuser.h"

QString g_curUserName;
quint32 g_curUserRights = 0;
