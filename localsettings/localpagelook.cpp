#include "localsettings/localpagelook.h"

#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QAbstractItemView>
#include <QVariant>

namespace localpage {

namespace {

const char kPageSheet[] = "QWidget#%1{background:#2c2c2c;}QLabel{color:#c2c2c2;}";
const char kTableSheet[] =
    "QTableView{background-color:#262626;alternate-background-color:#2f2f2f;color:#dcdcdc;gridline-color:#3d3d3d;"
    "border:1px solid #3d3d3d;selection-background-color:#1baafb;selection-color:white;}"
    "QTableView::item:!alternate:!selected{background-color:#262626;}"
    "QTableView::item:alternate:!selected{background-color:#2f2f2f;}"
    "QTableView::item:selected{background-color:#1baafb;color:white;}"
    "QHeaderView{background-color:#3d3d3d;color:#dcdcdc;}"
    "QHeaderView::section{height:24px;border:0px;border-right:1px solid #555555;padding-left:3px;"
    "background-color:#3d3d3d;color:#dcdcdc;}"
    "QTableCornerButton::section{background-color:#3d3d3d;border:0px;}"
    "QScrollBar:vertical,QScrollBar:horizontal{background-color:#2c2c2c;}"
    "QScrollBar::add-page,QScrollBar::sub-page{background-color:#2c2c2c;}"
    "QScrollBar::add-line,QScrollBar::sub-line{background:#3d3d3d;}";

} // namespace

QString text(const char *key)
{
    const QString found = uiText(key, 36);
    return found.isEmpty() ? QString::fromLatin1(key) : found;
}

void applyDarkLook(QWidget *page, const QString &objectName)
{
    page->setObjectName(objectName);
    // A plain QWidget subclass paints a sheet's background only when asked.
    page->setAttribute(Qt::WA_StyledBackground, true);
    page->setStyleSheet(QString::fromLatin1(kPageSheet).arg(objectName));
}

void applyDarkTable(QAbstractItemView *view)
{
    view->setAlternatingRowColors(true);
    view->setStyleSheet(QLatin1String(kTableSheet));
}

void showTip(QWidget *parent, TipKind kind, const char *key)
{
    auto *tip = new qwTipsdlgEx(parent, kind == SuccessTip ? qwTipsdlgEx::Success : qwTipsdlgEx::Failure);
    tip->setProperty(kTipKeyProperty, QString::fromLatin1(key));
    tip->setTipText(text(key));
    tip->show();
}

} // namespace localpage
