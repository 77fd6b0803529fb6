#include "app/widgets/qccustomapplication.h"

qcCustomApplication *g_app = nullptr;

qcCustomApplication::qcCustomApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool qcCustomApplication::notify(QObject *receiver, QEvent *event)
{
    return QApplication::notify(receiver, event);
}
