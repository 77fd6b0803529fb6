#include "localsettings/qwlocalabout.h"

qwLocalAbout::qwLocalAbout(QWidget *parent) : QWidget(parent) {}

void qwLocalAbout::reload() {}
