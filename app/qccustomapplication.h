#pragma once

#include <QApplication>

class qcCustomApplication : public QApplication
{
    Q_OBJECT
public:
    qcCustomApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

signals:
    void sigShowLockDialog();
};
