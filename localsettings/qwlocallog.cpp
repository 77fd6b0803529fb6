#include "localsettings/qwlocallog.h"

qwLocalLog::qwLocalLog(QWidget *parent) : QWidget(parent) {}

void qwLocalLog::reload() {}
