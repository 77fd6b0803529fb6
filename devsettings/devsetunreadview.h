#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QBoxLayout;
class QLabel;
class QWidget;

// What a settings page shows of its device while it holds no good read:
// its fields blank rather than the constructor's defaults or the values of
// an error page, and a note that the read failed, worded as the live page's
// panels word it. The page's read state drives it; the page only names its
// fields.
class DevsetUnreadView : public QObject
{
    Q_OBJECT
public:
    explicit DevsetUnreadView(QWidget *page);

    // A field that shows what a read gave: a list (no entry selected), a
    // text or number field or a label (emptied), a check box (neither
    // checked nor unchecked until the page or the operator sets it), a
    // slider (at its minimum, its number label emptied), a list view (no
    // rows), or a widget the page draws itself (repainted; it asks
    // isBlank() while painting).
    void addField(QWidget *field, QLabel *number = nullptr);

    // Empties every field without the page's own slots running: nothing
    // the page holds or sends follows the blanks. Blanking again keeps what
    // the fields showed before the first blank.
    void blank();
    bool isBlank() const { return m_blank; }
    // A good read came. A list or check box it left blank shows what it
    // showed before the blank, as after a read that never failed (a save
    // then finds something to send), a time field its time and a slider's
    // number where the read left the slider; texts it did not fill stay
    // empty.
    void settle();
    // A usable reply is about to be shown: each check box still "neither"
    // takes back what it showed before the blank, so that the page's own
    // setting of it, either way, is what shows. A box left "neither" would
    // count as checked and ignore being checked again.
    void release();

    // Where the note goes, above the layout's last item (the button row);
    // the page's own layout unless said.
    void setNoteLayout(QBoxLayout *layout);
    void showNote(bool shown);

private:
    struct Field
    {
        QPointer<QWidget> widget;
        QPointer<QLabel> number;
    };

    QWidget *m_page;
    QList<Field> m_fields;
    QLabel *m_note = nullptr;
    QPointer<QBoxLayout> m_noteLayout;
    bool m_blank = false;
};
