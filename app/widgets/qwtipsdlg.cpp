#include "app/widgets/qwtipsdlg.h"

#include "app/widgets/stylesheets.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {
QRect corners(int x0, int y0, int x1, int y1)
{
    return QRect(QPoint(x0, y0), QPoint(x1, y1));
}

// A window that is not a dialog stands for itself even when it is made as a
// child of a page of another window, as the device settings are: whatever is
// open over it, or it itself, belongs to it and goes when it closes.
bool isWindowOfItsOwn(const QWidget *w)
{
    return w->isWindow() && w->windowType() == Qt::Window;
}

// How many windows lie above `dialog` up to and with `root`; -1 when `root`
// is not among them, or a window of its own comes first on the way.
int stepsBelow(const QWidget *dialog, const QWidget *root)
{
    int steps = 0;
    for (const QWidget *w = dialog->parentWidget(); w; w = w->parentWidget()) {
        if (!w->isWindow())
            continue;
        ++steps;
        if (w == root)
            return steps;
        if (isWindowOfItsOwn(w))
            return -1;
    }
    return -1;
}

// The open modal dialog furthest down the line of windows that starts at
// `root`: a dialog opened over a dialog sits below it. A modal dialog of
// another window is not on the line; a message parented to it would close
// with it, unseen by whoever works in `root`.
QWidget *modalOnLine(const QWidget *root)
{
    QWidget *deepest = nullptr;
    int deepestSteps = 0;
    QWidget *active = QApplication::activeModalWidget();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isModal() || !w->isVisible())
            continue;
        const int steps = stepsBelow(w, root);
        // Of two dialogs side by side, the one in front wins.
        if (steps > deepestSteps || (steps > 0 && steps == deepestSteps && w == active)) {
            deepest = w;
            deepestSteps = steps;
        }
    }
    return deepest;
}

} // namespace

QWidget *qwTipsDlg::modalOwnerFor(QWidget *requested)
{
    if (!requested)
        return QApplication::activeModalWidget();
    QWidget *modal = modalOnLine(requested->window());
    return modal ? modal : requested;
}

QWidget *qwTipsDlg::ownerFor(QWidget *requested)
{
    QWidget *modal = modalOwnerFor(requested);
    if (!requested || modal != requested)
        return modal;
    QWidget *active = QApplication::activeWindow();
    if (!active || active == requested->window() || isWindowOfItsOwn(active))
        return requested;
    return stepsBelow(active, requested->window()) > 0 ? active : requested;
}

qwTipsDlg::qwTipsDlg(QWidget *parent, const QString &title, int mode) : BaseWindow(ownerFor(parent), 0, 0, 0)
{
    setObjectName(QStringLiteral("qwTipsDlg"));
    resize(474, 238);
    setMinimumSize(474, 238);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("label"));
    m_icon->setGeometry(corners(40, 80, 80, 110));
    m_icon->setPixmap(QPixmap(QStringLiteral(":/images/srcimages/warning.png")));

    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("label_Tips"));
    m_text->setGeometry(corners(110, 80, 410, 160));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                    Qt::LinksAccessibleByKeyboard);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("pushButton_OK"));
    m_ok->setGeometry(corners(90, 190, 210, 220));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("pushButton_Close"));
    m_close->setGeometry(corners(170, 190, 290, 220));
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("pushButton_Cancel"));
    m_cancel->setGeometry(corners(250, 190, 370, 220));
    QMetaObject::connectSlotsByName(this);

    setTitleIcon(QStringLiteral(":/images/srcimages/tips.png"));
    setTitleText(title, TitleLeft);
    setWindowTitle(title);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setStyleSheet(QString::fromLatin1(styles::kMessageDialog));
    m_text->setStyleSheet(QString::fromLatin1(styles::kMessageText));

    if (mode == 1) {
        m_close->show();
        m_ok->hide();
        m_cancel->hide();
    } else {
        m_close->hide();
        m_ok->show();
        m_cancel->show();
    }
}

void qwTipsDlg::setTipText(const QString &text)
{
    m_text->setText(text);
}

void qwTipsDlg::on_pushButton_OK_clicked()
{
    emit sigTipsresult(1);
    close();
}

void qwTipsDlg::on_pushButton_Cancel_clicked()
{
    emit sigTipsresult(2);
    close();
}

void qwTipsDlg::on_pushButton_Close_clicked()
{
    close();
}
