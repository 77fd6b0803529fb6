#pragma once

#include "app/widgets/basewindow.h"

#include <QHash>

#include <functional>

class CGIUtil;
class QStackedLayout;
class StatusButton;

// The remote settings window of one device: a guide of grouped page buttons
// and, over it, the page area that slides in with the selected page. Pages
// are created on their first selection and live as long as the window; each
// selection hands the window's current login to the page and then tells
// every page which one was selected.
class qwDeviceSettings : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwDeviceSettings(QWidget *parent);
    ~qwDeviceSettings() override;

    void setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &password);
    QString address() const { return m_ip; }
    QString port() const { return m_port; }
    QString userName() const { return m_user; }
    QString password() const { return m_password; }

    // The device's "imgstyle" ability, -1 until read (or when it has none).
    int imageStyle() const { return m_imageStyle; }
    // Whether the window can show the page of that id.
    static bool canCreate(int id);

    // How long the page area takes to slide in; 0 puts it in place at once.
    static int slideDuration();
    static void setSlideDuration(int ms);

    QWidget *pageArea() const { return m_pageArea; }
    QWidget *page(int id) const { return m_pages.value(id).widget; }

signals:
    void sigBaseInfoChange(QString devip, QString httpport, QString username, QString password);
    void sigInitParameters(int pageid);

public slots:
    // The device accepted a new login: address and port stay.
    void OnBaseinfoChange(QString username, QString password);
    void onGuideSelect(int mask);

private slots:
    void onAbilityData(int id);
    void onReturn();

private:
    using LoginSetter = std::function<void(const QString &, const QString &, const QString &, const QString &)>;
    struct Page
    {
        QWidget *widget = nullptr;
        LoginSetter setLogin;
    };

    void buildGuide(QWidget *guide);
    Page createPage(int id);
    template <class P>
    Page makePage();

    QString m_ip;
    QString m_port;
    QString m_user;
    QString m_password;
    int m_imageStyle = -1;
    CGIUtil *m_abilityRequest = nullptr;
    bool m_abilityAsked = false;
    QWidget *m_pageArea = nullptr;
    QStackedLayout *m_stack = nullptr;
    StatusButton *m_return = nullptr;
    QHash<int, Page> m_pages;
};
