#include "localsettings/localpagelook.h"

#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QAbstractItemView>

namespace localpage {

namespace {

// The main window's sheet styles buttons, line edits, combo boxes and check
// marks; what it leaves to the platform (labels, spin boxes, lists) would be
// dark on dark or white on white. Fields stay light with dark text, as on
// the other pages of the client. A spin box with a border of its own loses
// the platform's arrows, so its buttons are drawn here; the narrow time
// fields of the week editor are typed into and keep no buttons.
const char kPageSheet[] =
    "QWidget#%1{background:#2c2c2c;}"
    "QLabel,QCheckBox,QRadioButton,QGroupBox{color:#dcdcdc;}"
    "QLabel#label_Title,QLabel#label_ScheduleTitle{color:#aaaaaa;font-size:14px;font-weight:500;}"
    "QLabel#label_ScheduleIdle{color:#f0b040;}"
    "QLineEdit,QSpinBox,QTimeEdit,QDateEdit,QComboBox{color:#1e1e1e;}"
    "QSpinBox{border:1px solid gray;border-radius:2px;background-color:#d3d3d3;padding-right:16px;}"
    "QSpinBox::up-button,QSpinBox::down-button{subcontrol-origin:border;width:16px;background-color:#e6e6e6;"
    "border-left:1px solid gray;}"
    "QSpinBox::up-button{subcontrol-position:top right;}QSpinBox::down-button{subcontrol-position:bottom right;}"
    "QSpinBox::up-button:hover,QSpinBox::down-button:hover{background-color:#1abbfb;}"
    "QSpinBox::up-arrow{image:url(:/images/srcimages/handle-up.png);width:10px;height:10px;}"
    "QSpinBox::down-arrow{image:url(:/images/srcimages/handle-down.png);width:10px;height:10px;}"
    "QSpinBox#timeEdit_Start,QSpinBox#timeEdit_End{padding-right:0px;}"
    "QSpinBox#timeEdit_Start::up-button,QSpinBox#timeEdit_Start::down-button,"
    "QSpinBox#timeEdit_End::up-button,QSpinBox#timeEdit_End::down-button{width:0px;border:none;}"
    "QSpinBox#timeEdit_Start::up-arrow,QSpinBox#timeEdit_Start::down-arrow,"
    "QSpinBox#timeEdit_End::up-arrow,QSpinBox#timeEdit_End::down-arrow{image:none;}"
    "QLineEdit:read-only{background-color:#a9a9a9;}"
    "QListWidget{background-color:#262626;border:1px solid #3d3d3d;color:#dcdcdc;}"
    "QListWidget::item{min-height:26px;}"
    "QListWidget::item:selected{background-color:#1abbfb;color:white;}";
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

QString text(const char *key, int page, int section)
{
    return uiTextOrKey(key, page, section);
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

void showTip(QWidget *parent, TipKind kind, const char *key, const QString &detail)
{
    const QString message = text(key, TipTexts);
    showTipText(parent, kind, key, detail.isEmpty() ? message : message + QStringLiteral(": ") + detail);
}

bool showRead(QWidget *page, ReadStatus status, const QList<QWidget *> &content)
{
    for (QWidget *w : content)
        w->setEnabled(status.ok());
    if (!status.ok() && page->isVisible())
        showTip(page, FailureTip, status.textKey());
    return status.ok();
}

void showTipText(QWidget *parent, TipKind kind, const char *key, const QString &message)
{
    showKeyedTip(parent, kind == SuccessTip ? qwTipsdlgEx::Success : qwTipsdlgEx::Failure, QString::fromLatin1(key),
                 message);
}

} // namespace localpage
