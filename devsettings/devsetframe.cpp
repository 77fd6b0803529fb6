#include "devsettings/devsetframe.h"

#include "app/widgets/basewindow.h"
#include "app/core/qclanguagexml.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QVariant>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QPushButton>
#include <QWidget>

namespace devset {

QString text(int page, int section, const char *key)
{
    return g_langXml ? g_langXml->getLangText(page, section, QLatin1String(key)) : QString();
}

QString imageText(const char *key)
{
    static const QStringList picture{"saturation", "brightness", "sharpness",    "contrast",
                                     "mirroring",  "isvertical", "ishorizontal", "isverandhor"};
    static const QStringList common{"sinone", "disables", "enables", "restoreopt", "resetopt"};
    const QString k = QLatin1String(key);
    if (picture.contains(k))
        return text(34, kAnySection, key);
    if (common.contains(k))
        return text(kCommonPage, kAnySection, key);
    return text(kRemotePage, DEVSET_IMAGE + 1, key);
}

QStringList imageTexts(std::initializer_list<const char *> keys)
{
    QStringList out;
    for (const char *key : keys)
        out << imageText(key);
    return out;
}

QString caption(int page, int section, const char *key)
{
    return text(page, section, key) + QLatin1Char(':');
}

void stopRequest(CGIUtil *&r, int waitMs)
{
    if (!r)
        return;
    if (r->isRunning() && !r->wait(waitMs)) {
        r->abort();
        r->wait();
    }
    r->disconnect();
    r->deleteLater();
    r = nullptr;
}

void releaseRequest(CGIUtil *&r, int waitMs)
{
    if (!r)
        return;
    if (r->isRunning() && (r->isGetRequest() || !r->wait(waitMs))) {
        r->abort();
        r->wait();
    }
    delete r;
    r = nullptr;
}

QString devsetUrl(const char *literal, const QString &devip, const QString &httpport)
{
    return QString::fromLatin1(literal).arg(devip, httpport);
}

QLabel *sliderNumber(const QWidget *page, const QWidget *slider)
{
    return page->findChild<QLabel *>(QStringLiteral("label_%1Value").arg(slider->objectName().mid(7)));
}

qwTipsdlgEx *showTip(QWidget *parent, int kind, const QString &key)
{
    return showKeyedTip(parent, kind, key, g_langXml ? g_langXml->getLangText(kTipsPage, kAnySection, key) : QString());
}

QString fillXml(const QString &literal, const QStringList &values)
{
    QString out;
    out.reserve(literal.size() + 64);
    for (int i = 0; i < literal.size(); ++i) {
        const QChar c = literal.at(i);
        if (c == QLatin1Char('%') && i + 1 < literal.size()) {
            const int n = literal.at(i + 1).digitValue();
            const int second = i + 2 < literal.size() ? literal.at(i + 2).digitValue() : -1;
            if (n >= 1 && second >= 0 && n * 10 + second <= values.size()) {
                out += values.at(n * 10 + second - 1);
                i += 2;
                continue;
            }
            if (n >= 1 && n <= values.size()) {
                out += values.at(n - 1);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QWidget *prepareDialog(BaseWindow *dialog, const QString &title)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setTitleIcon(QStringLiteral(":/images/srcimages/cms.png"));
    dialog->setTitleText(title, BaseWindow::TitleLeft);
    auto *content = new QWidget(dialog);
    content->setGeometry(dialog->getClientRect());
    return content;
}

QVBoxLayout *preparePage(QWidget *page, const QString &objectName, const QString &title)
{
    page->setObjectName(objectName);
    page->setAttribute(Qt::WA_StyledBackground);
    page->setStyleSheet(QStringLiteral("QWidget#%1{background:#323232;}").arg(objectName));
    auto *column = new QVBoxLayout(page);
    if (!title.isNull()) {
        auto *bar = new QLabel(title, page);
        bar->setStyleSheet(QStringLiteral("QLabel{background:#454545;color:white;}"));
        bar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        bar->setFixedHeight(38);
        column->addWidget(bar);
    }
    return column;
}

QList<QPushButton *> addButtonRow(QBoxLayout *layout, QWidget *parent, std::initializer_list<ButtonSpec> buttons,
                                  bool centred)
{
    QList<QPushButton *> made;
    auto *row = new QHBoxLayout;
    row->setSpacing(centred ? 38 : 10);
    row->addStretch();
    for (const ButtonSpec &spec : buttons) {
        auto *button = new QPushButton(text(kCommonPage, kAnySection, spec.key), parent);
        button->setObjectName(QStringLiteral("pushButton_") + QLatin1String(spec.name));
        if (qstrcmp(spec.key, "cancelopt") == 0)
            QObject::connect(button, &QPushButton::clicked, parent->window(), &QWidget::close);
        row->addWidget(button);
        made << button;
    }
    if (centred)
        row->addStretch();
    layout->addLayout(row);
    return made;
}

PreviewStage makePreviewStage(QWidget *page, QSize preview, QSize overlay)
{
    PreviewStage s;
    s.stage = new QWidget(page);
    s.stage->setFixedSize(preview.expandedTo(overlay));
    s.preview = new QWidget(s.stage);
    s.preview->setObjectName(QStringLiteral("widget_Preview"));
    s.preview->setAttribute(Qt::WA_StyledBackground);
    // By name: a rule for every QWidget would paint over the picture widget.
    s.preview->setStyleSheet(QStringLiteral("QWidget#widget_Preview{background:black;}"));
    s.preview->setGeometry(QRect(QPoint(0, 0), preview));
    s.overlay = new QWidget(s.stage);
    s.overlay->setObjectName(QStringLiteral("widget_Overlay"));
    s.overlay->setGeometry(QRect(QPoint(0, 0), overlay));
    s.overlay->installEventFilter(page);
    return s;
}

} // namespace devset
