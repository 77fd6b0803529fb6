#pragma once

#include <QWidget>

class qwLocalLog : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalLog(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();
};
