#include "devsettings/devsetunreadview.h"

#include "devsettings/devsetframe.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

namespace {

// What a list or check box showed before it was blanked, for a read that
// leaves it blank: the page then shows what it would have shown had no
// read failed before, and a save finds a selection it can send.
const char *const kBeforeBlank = "devsetBeforeBlank";

// A box still "neither" shows what it showed before the blank, as a
// two-state box. A box that leaves "neither" for the checked state it already
// counts as is not drawn again by itself, so it would go on showing "neither"
// whatever is set next: it is drawn anew here.
void releaseBox(QCheckBox *box, const QVariant &before)
{
    const QSignalBlocker block(box);
    if (box->checkState() == Qt::PartiallyChecked)
        box->setCheckState(before.isValid() ? Qt::CheckState(before.toInt()) : Qt::Unchecked);
    box->setTristate(false);
    box->update();
}

} // namespace

DevsetUnreadView::DevsetUnreadView(QWidget *page) : QObject(page), m_page(page) {}

void DevsetUnreadView::addField(QWidget *field, QLabel *number)
{
    m_fields.append({field, number});
    if (auto *box = qobject_cast<QCheckBox *>(field)) {
        // Once set either way the box is a two-state box again, or the
        // operator's clicks would pass through "neither".
        connect(box, &QCheckBox::stateChanged, this, [box](int state) {
            if (state != Qt::PartiallyChecked)
                box->setTristate(false);
        });
    }
}

void DevsetUnreadView::blank()
{
    const bool again = m_blank;
    m_blank = true;
    for (const Field &f : qAsConst(m_fields)) {
        QWidget *w = f.widget;
        if (!w)
            continue;
        const QSignalBlocker block(w);
        if (auto *list = qobject_cast<QComboBox *>(w)) {
            if (list->currentIndex() >= 0 && !again)
                list->setProperty(kBeforeBlank, list->currentIndex());
            list->setCurrentIndex(-1);
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            edit->clear();
        } else if (auto *spin = qobject_cast<QAbstractSpinBox *>(w)) {
            // Its own clear() empties one section of a time, and the
            // field's validator refuses an empty text but by setText. The
            // value stays; the next one set writes the text again.
            if (auto *text = spin->findChild<QLineEdit *>()) {
                const QSignalBlocker quiet(text);
                text->setText(QString());
            }
        } else if (auto *box = qobject_cast<QCheckBox *>(w)) {
            if (box->checkState() != Qt::PartiallyChecked && !again)
                box->setProperty(kBeforeBlank, int(box->checkState()));
            box->setTristate(true);
            box->setCheckState(Qt::PartiallyChecked);
        } else if (auto *slider = qobject_cast<QAbstractSlider *>(w)) {
            slider->setValue(slider->minimum());
        } else if (auto *view = qobject_cast<QAbstractItemView *>(w)) {
            if (QAbstractItemModel *model = view->model())
                model->removeRows(0, model->rowCount());
        } else if (auto *label = qobject_cast<QLabel *>(w)) {
            label->clear();
        } else {
            w->update();
        }
        if (f.number)
            f.number->clear();
    }
}

void DevsetUnreadView::settle()
{
    if (!m_blank)
        return;
    m_blank = false;
    for (const Field &f : qAsConst(m_fields)) {
        QWidget *w = f.widget;
        if (!w)
            continue;
        const QVariant before = w->property(kBeforeBlank);
        w->setProperty(kBeforeBlank, QVariant());
        if (auto *list = qobject_cast<QComboBox *>(w)) {
            if (list->currentIndex() < 0 && before.isValid()) {
                const QSignalBlocker block(list);
                list->setCurrentIndex(before.toInt());
            }
        } else if (auto *box = qobject_cast<QCheckBox *>(w)) {
            releaseBox(box, before);
        } else if (auto *slider = qobject_cast<QAbstractSlider *>(w)) {
            if (f.number && f.number->text().isEmpty())
                f.number->setNum(slider->value());
        } else if (auto *time = qobject_cast<QDateTimeEdit *>(w)) {
            // Setting the time a field holds writes its text again.
            const QSignalBlocker block(time);
            time->setDateTime(time->dateTime());
        } else {
            w->update();
        }
    }
}

void DevsetUnreadView::release()
{
    if (!m_blank)
        return;
    for (const Field &f : qAsConst(m_fields)) {
        if (auto *box = qobject_cast<QCheckBox *>(f.widget.data()))
            releaseBox(box, box->property(kBeforeBlank));
    }
}

void DevsetUnreadView::setNoteLayout(QBoxLayout *layout)
{
    m_noteLayout = layout;
}

void DevsetUnreadView::showNote(bool shown)
{
    if (!m_note && shown) {
        m_note = new QLabel(devset::text(devset::kTipsPage, devset::kAnySection, "readfailed"), m_page);
        m_note->setObjectName(QStringLiteral("label_readFailed"));
        m_note->setWordWrap(true);
        m_note->setStyleSheet(QStringLiteral("QLabel{color:#ff6060;}"));
        // Above the page's button row, its layout's last item; never loose
        // on the page, where a dialog draws its title.
        QBoxLayout *column = m_noteLayout ? m_noteLayout.data() : qobject_cast<QBoxLayout *>(m_page->layout());
        if (column)
            column->insertWidget(qMax(0, column->count() - 1), m_note);
    }
    if (m_note)
        m_note->setVisible(shown);
}
