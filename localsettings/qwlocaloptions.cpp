#include "localsettings/qwlocaloptions.h"

qwLocalOptions::qwLocalOptions(QWidget *parent) : QWidget(parent) {}

void qwLocalOptions::reload() {}
