#pragma once

#include <QApplication>

// The application object; notify() is the one place every event passes.
class qcCustomApplication : public QApplication
{
    Q_OBJECT
public:
    qcCustomApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

signals:
    void sigShowLockDialog();
};

// Set by start-up; deleted after the event loop, before the database.
extern qcCustomApplication *g_app;
