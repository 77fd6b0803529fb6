#pragma once

#include <QWidget>

// The about panel: the software's name, version and copyright.
class qwLocalAbout : public QWidget
{
    Q_OBJECT
public:
    static const char kSoftwareName[]; // "ARDO Client"
    static const char kVersion[];      // the build's project version

    explicit qwLocalAbout(QWidget *parent = nullptr);

    // Nothing here is stored; kept for the page's reloadAll.
    void reload();
};
