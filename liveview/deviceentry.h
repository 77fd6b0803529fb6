#pragma once

#include <QList>
#include <QString>

#include <functional>

// How a device entered by hand is judged, and what a LAN search may add on
// the same terms: an answer of the search is anyone's on the LAN, so it is
// taken only as the Add form would take the same device typed.
namespace deviceentry {

enum Connect { ByAddress = 0, ByIdentifier = 1 };

// The key of the tip (page 38) for the first value the form refuses, empty
// when it takes them all. An empty address by address is a box of the
// address editor left empty.
QString check(int connectType, const QString &address, const QString &port);

// The name as the form's name field yields it: what cannot be typed
// (control and format characters) left out, blanks at the ends trimmed.
QString typedName(const QString &raw);

} // namespace deviceentry

// The devices one LAN search found, one per address however it is spelt.
class qcFoundDevices
{
public:
    struct Device
    {
        QString name;
        QString address;
        QString port;
        QString model;
        QString mac;
    };
    // What "Add all" takes, and what it leaves out and why.
    struct AddAll
    {
        QList<Device> taken;
        int listed = 0;  // the address is listed already, in any spelling
        int refused = 0; // the Add form would refuse the address or the port
    };

    // Keeps an answer with its name as the form would take it and an IPv4
    // address in the editor's spelling; false, keeping nothing, for an answer
    // without an address or with one kept already.
    bool add(Device device);
    void clear() { m_devices.clear(); }
    const QList<Device> &devices() const { return m_devices; }

    // Found devices are always reached by address. isListed may be empty.
    AddAll addAll(const std::function<bool(const QString &address)> &isListed) const;

private:
    QList<Device> m_devices;
};
