#pragma once

#include <QModelIndex>
#include <QWidget>

class CGIUtil;
class DevsetReadState;
class QPushButton;
class QStandardItemModel;
class QTableView;

// One account as the device lists it; the two permission masks are the
// device's own and go back to it unchanged.
struct _st_devuser_item
{
    QString name;
    int group = 0;
    int config = 0;
    int operation = 0;
};

// The device's accounts: the list, add and modify through the user dialog,
// and delete. The first account cannot be deleted here.
class qwDevsetUsers : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetUsers(QWidget *parent);
    ~qwDevsetUsers() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);
    QList<_st_devuser_item> users() const { return m_users; }

signals:
    // The device accepted a new password for the account the page logs in with.
    void sigUserinfoChange(QString username, QString password);

public slots:
    void OnInitParameters(int pageid);
    void OnCGIDataCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnOperationResult(bool bret, QString username, QString pwd);
    void OnTableViewSignalClick(QModelIndex index);
    void OnTableViewDoubleClick(QModelIndex index);
    void OnBtnAddUserClicked();
    void OnBtnModifyClicked();
    void OnBtnDeleteClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum Operation { None = 0, Add = 5, Modify = 6, Delete = 7 };

    void readUsers();
    void parseUsers();
    void followRow(int row);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    CGIUtil *m_request = nullptr;
    DevsetReadState *m_readState = nullptr;
    QList<_st_devuser_item> m_users;
    int m_lastOperation = None;
    bool m_editingLogin = false;
    QString m_modifyName;
    QTableView *m_table = nullptr;
    QStandardItemModel *m_model = nullptr;
    QPushButton *m_modify = nullptr;
    QPushButton *m_delete = nullptr;
};
