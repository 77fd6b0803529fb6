#include "app/widgets/qwweekeditor.h"

#include "app/widgets/plaintext.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>

namespace {

// Minutes as HH:MM up to 24:00, which a QTimeEdit cannot show.
class MinuteBox : public QSpinBox
{
public:
    MinuteBox(int last, QWidget *parent) : QSpinBox(parent)
    {
        setRange(0, last);
        setSingleStep(15);
    }

protected:
    QString textFromValue(int value) const override { return weeksections::clockText(value); }
    int valueFromText(const QString &text) const override
    {
        const QStringList parts = text.split(QLatin1Char(':'));
        return parts.size() == 2 ? parts[0].toInt() * 60 + parts[1].toInt() : value();
    }
    QValidator::State validate(QString &text, int &) const override
    {
        const QStringList parts = text.split(QLatin1Char(':'));
        if (parts.size() != 2 || parts[1].size() > 2)
            return QValidator::Intermediate;
        bool hours = false;
        bool minutes = false;
        const int m = parts[0].toInt(&hours) * 60 + parts[1].toInt(&minutes);
        if (!hours || !minutes || parts[1].toInt() > 59)
            return QValidator::Intermediate;
        return m <= maximum() ? QValidator::Acceptable : QValidator::Invalid;
    }
};

int minutesOf(const QWidget *field)
{
    if (const auto *edit = qobject_cast<const QTimeEdit *>(field))
        return edit->time().hour() * 60 + edit->time().minute();
    if (const auto *box = qobject_cast<const QSpinBox *>(field))
        return box->value();
    return 0;
}

int startOf(const QWidget *section)
{
    return minutesOf(section->findChild<QWidget *>(QStringLiteral("timeEdit_Start")));
}

// A new section: up to an hour at the start of the day's first free time,
// so that it does not overlap what is there; an empty one (refused on Save
// until changed) when the day is full.
TimeSection firstFreeHour(QVector<TimeSection> day, int lastMinute)
{
    weeksections::sortDay(&day);
    int free = 0;
    for (const TimeSection &s : day) {
        if (s.start > free)
            break;
        free = qMax(free, s.end);
    }
    int next = lastMinute;
    for (const TimeSection &s : day) {
        if (s.start > free) {
            next = s.start;
            break;
        }
    }
    if (free >= lastMinute)
        return {0, 0};
    return {free, qMin(free + 60, next)};
}

} // namespace

qwWeekEditor::qwWeekEditor(const QStringList &dayNames, const Options &options, QWidget *parent)
    : QWidget(parent), m_options(options)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 6, 0, 0);
    grid->setVerticalSpacing(4);
    for (int d = 0; d < weeksections::kDays; ++d) {
        auto *name = new QLabel(dayNames.value(d), this);
        name->setFixedWidth(90);
        Day &day = m_days[d];
        day.row = new QWidget(this);
        day.row->setObjectName(QStringLiteral("widget_Day%1").arg(d));
        day.layout = new QHBoxLayout(day.row);
        day.layout->setContentsMargins(0, 0, 0, 0);
        day.layout->setSpacing(10);
        day.add = new QPushButton(QStringLiteral("+"), day.row);
        day.add->setObjectName(QStringLiteral("pushButton_Add%1").arg(d));
        day.add->setFixedWidth(26);
        day.layout->addWidget(day.add);
        day.layout->addStretch();
        connect(day.add, &QPushButton::clicked, this, [this, d] {
            clearDay(d, true);
            addSection(d, firstFreeHour(week().at(d), m_options.lastMinute));
            m_changed[d] = true;
        });
        grid->addWidget(name, d, 0);
        grid->addWidget(day.row, d, 1);
    }
}

void qwWeekEditor::setWeek(const WeekSections &week)
{
    m_maxSections = kLeastSections;
    for (const QVector<TimeSection> &day : week)
        m_maxSections = qMax(m_maxSections, day.size());
    for (int d = 0; d < weeksections::kDays; ++d) {
        clearDay(d, false);
        for (const TimeSection &s : week.value(d))
            addSection(d, s);
    }
    m_changed.fill(false);
    updateAddButtons();
}

void qwWeekEditor::setKept(int day, const QString &text)
{
    if (day < 0 || day >= weeksections::kDays)
        return;
    Day &d = m_days[day];
    delete d.kept;
    auto *box = new QWidget(d.row);
    box->setObjectName(QStringLiteral("widget_Kept"));
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(text, box);
    label->setObjectName(QStringLiteral("label_Kept"));
    label->setTextFormat(Qt::PlainText);
    label->setToolTip(plaintext::toolTip(text));
    row->addWidget(label);
    auto *remove = new QPushButton(QStringLiteral("x"), box);
    remove->setObjectName(QStringLiteral("pushButton_RemoveKept"));
    remove->setFixedWidth(22);
    row->addWidget(remove);
    connect(remove, &QPushButton::clicked, this, [this, day] {
        clearDay(day, true);
        m_changed[day] = true;
    });
    d.layout->insertWidget(0, box);
    d.kept = box;
}

void qwWeekEditor::setChangedDays(const QVector<bool> &changed)
{
    for (int d = 0; d < weeksections::kDays; ++d)
        m_changed[d] = changed.value(d);
}

void qwWeekEditor::clearDay(int day, bool keptOnly)
{
    Day &d = m_days[day];
    if (d.kept) {
        // Its own button may still be delivering the click.
        d.kept->hide();
        d.kept->deleteLater();
        d.kept = nullptr;
    }
    if (keptOnly)
        return;
    qDeleteAll(d.sections);
    d.sections.clear();
}

QWidget *qwWeekEditor::timeField(QWidget *parent, const char *name, int minutes) const
{
    QWidget *field = nullptr;
    if (m_options.lastMinute < weeksections::kDayMinutes) {
        auto *edit = new QTimeEdit(QTime(minutes / 60, minutes % 60), parent);
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
        edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
        field = edit;
    } else {
        auto *box = new MinuteBox(m_options.lastMinute, parent);
        box->setValue(minutes);
        field = box;
    }
    field->setObjectName(QLatin1String(name));
    field->setFixedWidth(52);
    return field;
}

void qwWeekEditor::addSection(int day, const TimeSection &section)
{
    Day &d = m_days[day];
    if (d.sections.size() >= m_maxSections)
        return;
    auto *box = new QWidget(d.row);
    box->setObjectName(QStringLiteral("widget_Section"));
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    QWidget *start = timeField(box, "timeEdit_Start", section.start);
    QWidget *end = timeField(box, "timeEdit_End", section.end);
    row->addWidget(start);
    row->addWidget(new QLabel(QStringLiteral("-"), box));
    row->addWidget(end);
    for (QWidget *field : {start, end}) {
        if (auto *edit = qobject_cast<QTimeEdit *>(field))
            connect(edit, &QTimeEdit::timeChanged, this, [this, day] { m_changed[day] = true; });
        else if (auto *spin = qobject_cast<QSpinBox *>(field))
            connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), this, [this, day] { m_changed[day] = true; });
    }
    if (!m_options.kindNames.isEmpty()) {
        auto *kind = new QComboBox(box);
        kind->setObjectName(QStringLiteral("comboBox_Kind"));
        kind->addItems(m_options.kindNames);
        kind->setCurrentIndex(section.kind);
        connect(kind, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, day] { m_changed[day] = true; });
        row->addWidget(kind);
    }
    auto *remove = new QPushButton(QStringLiteral("x"), box);
    remove->setObjectName(QStringLiteral("pushButton_Remove"));
    remove->setToolTip(m_options.removeTip);
    remove->setFixedWidth(22);
    row->addWidget(remove);
    connect(remove, &QPushButton::clicked, this, [this, day, box] { removeSection(day, box); });
    // Shown in the order of their starts, before the add button.
    int at = 0;
    while (at < d.sections.size() && startOf(d.sections[at]) <= section.start)
        ++at;
    d.layout->insertWidget(at + (d.kept ? 1 : 0), box);
    d.sections.insert(at, box);
    updateAddButtons();
}

void qwWeekEditor::removeSection(int day, QWidget *section)
{
    m_days[day].sections.removeOne(section);
    // Its own button is still delivering the click.
    section->hide();
    section->deleteLater();
    updateAddButtons();
    m_changed[day] = true;
}

void qwWeekEditor::updateAddButtons()
{
    for (Day &d : m_days)
        d.add->setEnabled(d.sections.size() < m_maxSections);
}

WeekSections qwWeekEditor::week() const
{
    WeekSections week(weeksections::kDays);
    for (int d = 0; d < weeksections::kDays; ++d) {
        for (const QWidget *box : m_days[d].sections) {
            const auto *kind = box->findChild<QComboBox *>(QStringLiteral("comboBox_Kind"));
            week[d].append({startOf(box), minutesOf(box->findChild<QWidget *>(QStringLiteral("timeEdit_End"))),
                            kind ? qMax(0, kind->currentIndex()) : 0});
        }
    }
    return week;
}
