#include "localsettings/qwlocalschedules.h"

qwLocalSchedules::qwLocalSchedules(QWidget *parent) : QWidget(parent) {}

void qwLocalSchedules::reload() {}
