#pragma once

#include <QWidget>

class qwLocalAbout : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalAbout(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();
};
