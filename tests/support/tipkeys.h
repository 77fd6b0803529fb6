#pragma once

#include <QStringList>

class QWidget;

namespace testsupport {

// The object names ("tip_<key>") of the tips shown below widget, in child
// order; every tip below widget is deleted, so that the next call sees only
// tips shown after this one.
QStringList tipKeys(QWidget *widget);

} // namespace testsupport
