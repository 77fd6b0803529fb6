#pragma once

#include <QWidget>

class qwLocalOptions : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalOptions(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();

signals:
    void sigSaved();
};
