#pragma once

#include <QWidget>

// The live page. It holds no views yet; pause and resume act on the open
// views, so they have nothing to act on.
class qwLiveView : public QWidget
{
    Q_OBJECT
public:
    explicit qwLiveView(QWidget* parent = nullptr);

    void pauseAllViews();
    void resumeAllViews();
};
