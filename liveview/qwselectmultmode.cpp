#include "liveview/qwselectmultmode.h"

#include <QGridLayout>
#include <QIcon>
#include <QToolButton>

namespace {
const char *const kIcons[livegrid::kSplitChoices] = {
    ":/images/srcimages/split/split1.png",  ":/images/srcimages/split/split4.png",
    ":/images/srcimages/split/split6.png",  ":/images/srcimages/split/split9.png",
    ":/images/srcimages/split/split16.png", ":/images/srcimages/split/split36.png",
    ":/images/srcimages/split/split64.png"};
} // namespace

qwSelectMultMode::qwSelectMultMode(QWidget *parent) : QWidget(parent, Qt::Popup)
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("qwSelectMultMode{background:#2c2c2c;border:1px solid #4a4a4a;}"
                                 "QToolButton{border:1px solid transparent;background:transparent;}"
                                 "QToolButton:hover{border:1px solid #1baafb;}"));
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    for (int i = 0; i < livegrid::kSplitChoices; ++i) {
        auto *button = new QToolButton(this);
        const int count = livegrid::kSplitCounts[i];
        button->setObjectName(QStringLiteral("split_%1").arg(count));
        button->setIcon(QIcon(QLatin1String(kIcons[i])));
        button->setIconSize(QSize(28, 28));
        button->setToolTip(QString::number(count));
        connect(button, &QToolButton::clicked, this, [this, count] {
            emit sigViewChange(livegrid::splitCode(count));
            close();
        });
        m_choices[i] = button;
        layout->addWidget(button, i / 4, i % 4);
    }
}
