#pragma once

#include "app/widgets/basewindow.h"
#include "liveview/deviceentry.h"

#include <QList>

#include <functional>

class QPushButton;
class QTableWidget;
class qcNoconOption;
class qwDeviceForm;

// Dialog that adds one device from its form, or every device its LAN search
// found. Results leave by sigOptionResult: mode 0 for the form, mode 1 once
// per found device.
class qwAddDevice : public BaseWindow
{
    Q_OBJECT
public:
    using Found = qcFoundDevices::Device;

    qwAddDevice(QWidget *parent, const QString &title, int flag);
    ~qwAddDevice() override;

    qwDeviceForm *form() const { return m_form; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *searchButton() const { return m_search; }
    QPushButton *addAllButton() const { return m_addAll; }
    QTableWidget *foundTable() const { return m_table; }
    const QList<Found> &found() const { return m_found.devices(); }
    // The search ends by itself after this long.
    static const int kSearchMs = 3000;
    bool isSearching() const;
    // Tells which addresses the device list holds already; add-all skips them,
    // as it skips what the form would refuse, and says how many once.
    void setListedCheck(std::function<bool(const QString &address)> isListed) { m_isListed = std::move(isListed); }

signals:
    void sigOptionResult(QString devname, QString devip, QString type, QString port, QString username, QString password,
                         int mode);

public slots:
    void onAdd();
    void onSearch();
    void onAddAll();
    // One device reported by the search: listed once per address, in the
    // spelling and with the name the form would take; an answer without an
    // address lists nothing.
    void addFound(const Found &device);
    // A found device fills the form; the login stays as typed.
    void onFoundClicked(int row);

private:
    void stopSearch();

    qwDeviceForm *m_form = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_search = nullptr;
    QPushButton *m_addAll = nullptr;
    QTableWidget *m_table = nullptr;
    qcFoundDevices m_found;
    qcNoconOption *m_searcher = nullptr;
    std::function<bool(const QString &)> m_isListed;
};
