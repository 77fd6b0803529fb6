#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// One row of the preset list: number, name and state, renamed in place by a
// double click.
class qwPresetItem : public QWidget
{
    Q_OBJECT
public:
    qwPresetItem(QWidget *parent, int index, const QString &name, const QString &state);
    ~qwPresetItem() override;

    void setName(const QString &name);
    void setStateText(const QString &text);
    void beginRename();
    void endRename();
    // Closes the editor without a rename: its text goes back to the row's name.
    void cancelRename();
    bool isEditing() const { return m_editing; }
    QString savedName() const { return m_savedName; }
    QLabel *nameLabel() const;
    QLineEdit *nameEdit() const;
    QLabel *stateLabel() const;

signals:
    void sigClicked(int index);
    void sigNameChange(int index, QString name);

public slots:
    void onEditfinished();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QWidget *cell(int i) const;
    int m_index;
    QString m_savedName;
    bool m_editing = false;
};
