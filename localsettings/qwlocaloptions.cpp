#include "localsettings/qwlocaloptions.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/widgets/refusal.h"
#include "app/widgets/userrights.h"
#include "localsettings/localpagelook.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using localpage::text;

qwLocalOptions::FolderChooser &folderChooser()
{
    static qwLocalOptions::FolderChooser chooser;
    return chooser;
}

// Entries stand for their codes range.min, range.min + 1, ...; a stored code
// without an entry gets an extra one at the end.
void showChoice(QComboBox *list, int value, settingranges::Range range)
{
    const int codes = range.max - range.min + 1;
    while (list->count() > codes)
        list->removeItem(list->count() - 1);
    int index = list->findData(value);
    if (index < 0) {
        list->addItem(QStringLiteral("%1 (%2)").arg(value).arg(text("keptvalue")), value);
        index = list->count() - 1;
    }
    list->setCurrentIndex(index);
}

} // namespace

qwLocalOptions::qwLocalOptions(QWidget *parent) : QWidget(parent), m_options(g_database)
{
    localpage::applyDarkLook(this, QStringLiteral("widget_LocalOptions"));
    using namespace settingranges;

    // Set here: a nested layout would take the wide spacing of the columns.
    auto newGrid = [] {
        auto *grid = new QGridLayout;
        grid->setHorizontalSpacing(12);
        grid->setVerticalSpacing(8);
        return grid;
    };
    auto *system = newGrid();
    addFlag(system, "autologin", "autologin");
    addFlag(system, "autoadd", "autoadddevice");
    addFlag(system, "autostream", "autostream");
    addText(system, "defuser", "defaultuser");
    addText(system, "defpwd", "defaultpwd")->setEchoMode(QLineEdit::Password);
    addText(system, "syslanguage", "systemlanguage")->setReadOnly(true);
    addFolder(system, "downloadpath", "downloadpath");
    addFolder(system, "recordpath", "recordpath");
    addFolder(system, "snapshotpath", "snapshotpath");
    const qwNumberEdit::Unit gigabytes{"unitgb", "unitgb", localpage::LocalTexts};
    const qwNumberEdit::Unit days{"unitday", "unitdays", localpage::LocalTexts};
    const qwNumberEdit::Unit seconds{"second", "seconds", localpage::CommonTexts};
    const qwNumberEdit::Unit pictures{"unitpicture", "unitpictures", localpage::LocalTexts};
    addNumber(system, "reservedsize", "diskreservedspace", gigabytes);
    addNumber(system, "keepdays", "keeprecords", days);

    auto *recording = newGrid();
    addFlag(recording, "recordskdenable", "recschedenable");
    addChoice(recording, "recordstream", "streamtype",
              {text("mainstream", localpage::CommonTexts), text("substream", localpage::CommonTexts)});
    addNumber(recording, "recordduration", "recdurations", seconds);
    addNumber(recording, "prevrecord", "prerecord", seconds);
    addNumber(recording, "postrecord", "postrecord", seconds);

    auto *capture = newGrid();
    addFlag(capture, "captureskdenable", "capschedenable");
    addNumber(capture, "capturecount", "capturecount", pictures);
    addNumber(capture, "captureinterval", "captureinterval", seconds);
    addChoice(capture, "snapshotformat", "pictureformat", {text("formatjpeg"), text("formatbmp")});
    QStringList qualities;
    for (int q : kJpegQualityOfLevel)
        qualities << QString::number(q);
    addChoice(capture, "snapshotquality", "picturequality", qualities, text("unitjpegquality"));

    auto titled = [this](const char *key, QGridLayout *grid) {
        auto *column = new QVBoxLayout;
        column->setSpacing(8);
        auto *title = new QLabel(text(key), this);
        title->setObjectName(QStringLiteral("label_Title"));
        column->addWidget(title);
        column->addLayout(grid);
        return column;
    };
    auto *right = titled("recbasepara", recording);
    right->addSpacing(16);
    right->addLayout(titled("capturepara", capture));
    right->addStretch();
    auto *left = titled("systemconfigure", system);
    left->addStretch();
    auto *columns = new QHBoxLayout;
    columns->setSpacing(40);
    columns->addLayout(left);
    columns->addLayout(right);
    columns->addStretch();

    auto *restore = new QPushButton(text("restoreopt", localpage::CommonTexts), this);
    restore->setObjectName(QStringLiteral("pushButton_Restore"));
    restore->setMinimumWidth(90);
    connect(restore, &QPushButton::clicked, this, &qwLocalOptions::reload);
    auto *save = new QPushButton(text("saveopt", localpage::CommonTexts), this);
    save->setObjectName(QStringLiteral("pushButton_Save"));
    save->setMinimumWidth(90);
    connect(save, &QPushButton::clicked, this, &qwLocalOptions::onSave);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(restore);
    buttons->addWidget(save);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(20, 16, 20, 16);
    page->addLayout(columns, 1);
    page->addLayout(buttons);
    reload();
}

void qwLocalOptions::setFolderChooser(FolderChooser chooser)
{
    folderChooser() = std::move(chooser);
}

void qwLocalOptions::reload()
{
    QList<QWidget *> content = m_fields.values();
    content << findChild<QWidget *>(QStringLiteral("pushButton_Save"));
    if (localpage::showRead(this, m_options.reload(), content))
        showValues(m_options.stored());
}

void qwLocalOptions::addRow(QGridLayout *grid, const char *column, const char *key, QWidget *field, QWidget *after)
{
    const QString name = QLatin1String(column);
    // QComboBox: comboBox; any line edit, the number fields too: lineEdit.
    QString kind = qobject_cast<QLineEdit *>(field) ? QStringLiteral("LineEdit")
                                                    : QString::fromLatin1(field->metaObject()->className() + 1);
    kind[0] = kind[0].toLower();
    field->setObjectName(kind + QLatin1Char('_') + name);
    const bool wide = qobject_cast<QLineEdit *>(field) && !qobject_cast<qwNumberEdit *>(field);
    field->setMinimumWidth(wide ? 240 : 110);
    const int row = grid->rowCount();
    auto *label = new QLabel(text(key), this);
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
    if (after)
        grid->addWidget(after, row, 2);
    m_fields.insert(name, field);
    m_labels.insert(name, label->text());
}

QCheckBox *qwLocalOptions::addFlag(QGridLayout *grid, const char *column, const char *key)
{
    auto *box = new QCheckBox(text(key), this);
    box->setObjectName(QStringLiteral("checkBox_") + QLatin1String(column));
    grid->addWidget(box, grid->rowCount(), 0, 1, 3);
    m_fields.insert(QLatin1String(column), box);
    m_labels.insert(QLatin1String(column), box->text());
    return box;
}

QLineEdit *qwLocalOptions::addText(QGridLayout *grid, const char *column, const char *key, QWidget *after)
{
    auto *edit = new QLineEdit(this);
    addRow(grid, column, key, edit, after);
    return edit;
}

QLineEdit *qwLocalOptions::addFolder(QGridLayout *grid, const char *column, const char *key)
{
    auto *browse = new QPushButton(text("browsepath", localpage::CommonTexts), this);
    browse->setObjectName(QStringLiteral("pushButton_Browse_") + QLatin1String(column));
    browse->setMinimumWidth(70);
    QLineEdit *edit = addText(grid, column, key, browse);
    connect(browse, &QPushButton::clicked, this, [this, edit] {
        const QString start = edit->text();
        const QString chosen =
            folderChooser() ? folderChooser()(this, start) : QFileDialog::getExistingDirectory(this, QString(), start);
        if (!chosen.isEmpty())
            edit->setText(QDir::toNativeSeparators(chosen));
    });
    return edit;
}

qwNumberEdit *qwLocalOptions::addNumber(QGridLayout *grid, const char *column, const char *key, qwNumberEdit::Unit unit)
{
    auto *edit = new qwNumberEdit(LocalOptions::rangeOf(QLatin1String(column)), unit, this);
    edit->unitLabel()->setObjectName(QStringLiteral("label_Unit_") + QLatin1String(column));
    addRow(grid, column, key, edit, edit->unitLabel());
    return edit;
}

QComboBox *qwLocalOptions::addChoice(QGridLayout *grid, const char *column, const char *key, const QStringList &texts,
                                     const QString &unit)
{
    auto *list = new QComboBox(this);
    const settingranges::Range range = LocalOptions::rangeOf(QLatin1String(column));
    for (int i = 0; i < texts.size(); ++i)
        list->addItem(texts[i], range.min + i);
    addRow(grid, column, key, list, unit.isEmpty() ? nullptr : new QLabel(unit, this));
    return list;
}

QWidget *qwLocalOptions::fieldOf(const QString &column) const
{
    return m_fields.value(column);
}

void qwLocalOptions::showValues(const LocalOptionValues &values)
{
    for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it) {
        const QVariant value = LocalOptions::value(values, it.key());
        if (auto *box = qobject_cast<QCheckBox *>(it.value()))
            box->setChecked(value.toBool());
        else if (auto *number = qobject_cast<qwNumberEdit *>(it.value()))
            number->setNumber(value.toInt());
        else if (auto *edit = qobject_cast<QLineEdit *>(it.value()))
            edit->setText(LocalOptions::isFolder(it.key()) ? QDir::toNativeSeparators(value.toString())
                                                           : value.toString());
        else if (auto *list = qobject_cast<QComboBox *>(it.value()))
            showChoice(list, value.toInt(), LocalOptions::rangeOf(it.key()));
    }
}

LocalOptionValues qwLocalOptions::shownValues() const
{
    const LocalOptionValues &stored = m_options.stored();
    LocalOptionValues values = stored;
    for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it) {
        QVariant value;
        if (auto *number = qobject_cast<qwNumberEdit *>(it.value())) {
            LocalOptions::setTyped(values, it.key(), number->text());
            continue;
        }
        if (auto *box = qobject_cast<QCheckBox *>(it.value())) {
            value = box->isChecked();
        } else if (auto *edit = qobject_cast<QLineEdit *>(it.value())) {
            value = edit->text();
            if (LocalOptions::isFolder(it.key())) {
                // A folder shown as stored stays byte for byte what was stored.
                const QString old = LocalOptions::value(stored, it.key()).toString();
                const QString shown = edit->text().trimmed();
                value = shown == QDir::toNativeSeparators(old) ? old : QDir::fromNativeSeparators(shown);
            }
        } else if (auto *list = qobject_cast<QComboBox *>(it.value())) {
            value = list->currentData();
        }
        LocalOptions::setValue(values, it.key(), value);
    }
    return values;
}

void qwLocalOptions::onSave()
{
    if (!userrights::check(this, userrights::LocalConfiguration))
        return;
    LocalOptionValues edited = shownValues();
    edited.autoName = g_curUserName;
    const LocalOptions::Result result = m_options.save(edited);
    if (!result.check.ok()) {
        showProblem(result.check);
        return;
    }
    if (!result.written.isEmpty()) {
        writeLog(result.written);
        emit sigSaved();
    }
    if (!result.failedColumn.isEmpty()) {
        // The operator's edits stay on the page; what was written is stored.
        if (QWidget *field = fieldOf(result.failedColumn))
            field->setFocus();
        refusal::tell(this, "modify system options", QString(), QString(),
                      refusal::note(m_labels.value(result.failedColumn), result.failure));
        return;
    }
    showValues(m_options.stored());
    localpage::showTip(this, localpage::SuccessTip, "setsuccess");
}

void qwLocalOptions::showProblem(const LocalOptions::Check &check)
{
    const QString label = m_labels.value(check.column);
    if (QWidget *field = fieldOf(check.column))
        field->setFocus();
    switch (check.problem) {
    case LocalOptions::OutOfRange:
        localpage::showTip(this, localpage::FailureTip, "optoutofrange",
                           QStringLiteral("%1 (%2)").arg(label, qwNumberEdit::rangeText(check.range)));
        break;
    case LocalOptions::FolderMissing:
        localpage::showTip(this, localpage::FailureTip, "folderneeded", label);
        break;
    case LocalOptions::FolderUnusable:
        localpage::showTip(this, localpage::FailureTip, "folderunusable", QDir::toNativeSeparators(check.folder));
        break;
    case LocalOptions::Unread:
        reload();
        break;
    case LocalOptions::NoProblem:
        break;
    }
}

void qwLocalOptions::writeLog(const QStringList &columns)
{
    // The options as the operator saw them, not their storage names.
    QStringList labels;
    for (const QString &column : columns)
        labels << m_labels.value(column, column);
    writeSystemLog(g_curUserName, QStringLiteral("modify system options"), QString(), QString(),
                   labels.join(QStringLiteral(", ")), kLogOperation);
}
