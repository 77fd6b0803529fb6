#include "app/core/pagelog.h"

Q_LOGGING_CATEGORY(lcPages, "ardo.pages")
