#include "localsettings/qwlocalabout.h"

#include "localsettings/localpagelook.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

const char qwLocalAbout::kSoftwareName[] = "ARDO Client";
// Set by the build from the project's version, the one place it is kept.
const char qwLocalAbout::kVersion[] = ARDO_VERSION;

qwLocalAbout::qwLocalAbout(QWidget *parent) : QWidget(parent)
{
    localpage::applyDarkLook(this, QStringLiteral("widget_LocalAbout"));
    auto *form = new QFormLayout;
    form->setHorizontalSpacing(24);
    form->setVerticalSpacing(12);
    const struct
    {
        const char *key;
        const char *name;
        QString value;
    } rows[] = {
        {"softwarename", "label_SoftwareName", QString::fromLatin1(kSoftwareName)},
        {"softversion", "label_SoftwareVersion", QString::fromLatin1(kVersion)},
        {"softcopyright", "label_SoftwareCopyright", localpage::text("copyrightnotice")},
    };
    for (const auto &row : rows) {
        auto *value = new QLabel(row.value, this);
        value->setObjectName(QLatin1String(row.name));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(localpage::text(row.key), value);
    }
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->addLayout(form);
    column->addStretch();
}

void qwLocalAbout::reload() {}
