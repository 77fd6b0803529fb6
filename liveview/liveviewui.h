#pragma once

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QToolBox>
#include <QVBoxLayout>
#include <QWidget>

// The fixed widget tree of the live page: the video area with the button bar
// under it on the left, the tool box on the right.
class Ui_qwLiveView
{
public:
    QGridLayout *gridLayout = nullptr;
    QWidget *widget_Parent = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QWidget *widget_Multivideo = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QWidget *widget_Videoview = nullptr;
    QWidget *widget_Videocontrol = nullptr;
    QWidget *widget_Optlist = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QToolBox *toolBox_Optlist = nullptr;
    QWidget *page = nullptr;
    QWidget *page_2 = nullptr;

    void setupUi(QWidget *form)
    {
        if (form->objectName().isEmpty())
            form->setObjectName(QStringLiteral("qwLiveView"));
        form->resize(1080, 666);
        gridLayout = new QGridLayout(form);
        gridLayout->setObjectName(QStringLiteral("gridLayout"));
        gridLayout->setSpacing(0);
        gridLayout->setContentsMargins(0, 0, 0, 0);
        widget_Parent = new QWidget(form);
        widget_Parent->setObjectName(QStringLiteral("widget_Parent"));
        horizontalLayout = new QHBoxLayout(widget_Parent);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
        horizontalLayout->setSpacing(2);
        horizontalLayout->setContentsMargins(0, 0, 0, 0);
        widget_Multivideo = new QWidget(widget_Parent);
        widget_Multivideo->setObjectName(QStringLiteral("widget_Multivideo"));
        verticalLayout = new QVBoxLayout(widget_Multivideo);
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
        verticalLayout->setSpacing(2);
        verticalLayout->setContentsMargins(0, 2, 0, 1);
        widget_Videoview = new QWidget(widget_Multivideo);
        widget_Videoview->setObjectName(QStringLiteral("widget_Videoview"));
        verticalLayout->addWidget(widget_Videoview);
        widget_Videocontrol = new QWidget(widget_Multivideo);
        widget_Videocontrol->setObjectName(QStringLiteral("widget_Videocontrol"));
        widget_Videocontrol->setMinimumSize(QSize(0, 58));
        widget_Videocontrol->setMaximumSize(QSize(16777215, 58));
        verticalLayout->addWidget(widget_Videocontrol);
        horizontalLayout->addWidget(widget_Multivideo);
        widget_Optlist = new QWidget(widget_Parent);
        widget_Optlist->setObjectName(QStringLiteral("widget_Optlist"));
        widget_Optlist->setMaximumSize(QSize(260, 16777215));
        widget_Optlist->setStyleSheet(QString());
        gridLayout_2 = new QGridLayout(widget_Optlist);
        gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));
        gridLayout_2->setSpacing(0);
        gridLayout_2->setContentsMargins(0, 4, 0, 4);
        toolBox_Optlist = new QToolBox(widget_Optlist);
        toolBox_Optlist->setObjectName(QStringLiteral("toolBox_Optlist"));
        toolBox_Optlist->setFrameShape(QFrame::Box);
        page = new QWidget();
        page->setObjectName(QStringLiteral("page"));
        toolBox_Optlist->addItem(page, QString());
        page_2 = new QWidget();
        page_2->setObjectName(QStringLiteral("page_2"));
        toolBox_Optlist->addItem(page_2, QString());
        gridLayout_2->addWidget(toolBox_Optlist, 0, 0, 1, 1);
        horizontalLayout->addWidget(widget_Optlist);
        gridLayout->addWidget(widget_Parent, 0, 0, 1, 1);

        retranslateUi(form);
        toolBox_Optlist->setCurrentIndex(0);
        toolBox_Optlist->layout()->setSpacing(1);
        QMetaObject::connectSlotsByName(form);
    }

    void retranslateUi(QWidget *form)
    {
        form->setWindowTitle(QStringLiteral("Form"));
        toolBox_Optlist->setItemText(toolBox_Optlist->indexOf(page), QStringLiteral("Page 1"));
        toolBox_Optlist->setItemText(toolBox_Optlist->indexOf(page_2), QStringLiteral("Page 2"));
    }
};
