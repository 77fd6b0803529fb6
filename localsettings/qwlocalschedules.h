#pragma once

#include <QWidget>

class qwLocalSchedules : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalSchedules(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();

signals:
    void sigSaved();
};
