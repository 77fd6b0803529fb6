#include "settingsets.h"

#include "exchange.h"
#include "xmltree.h"

namespace devicesim {

namespace {

const QString UserKey = QStringLiteral("user");
const QString DiskKey = QStringLiteral("diskinfo&id=0");

const XmlNode *child(const XmlNode &node, const QString &name)
{
    for (const XmlNode &c : node.children) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

// The first element of that name, depth first.
XmlNode *findDeep(XmlNode &node, const QString &name)
{
    for (XmlNode &c : node.children) {
        if (c.name == name)
            return &c;
        if (XmlNode *found = findDeep(c, name))
            return found;
    }
    return nullptr;
}

// The stored document of key, or an empty <response> when there is none.
bool stored(Device &device, const QString &key, XmlNode *doc)
{
    QString error;
    doc->name = QStringLiteral("response");
    return !device.hasSubject(key) || XmlNode::parse(device.subject(key), doc, &error);
}

QString textOf(const XmlNode *node)
{
    return node ? node->text : QString();
}

int accountIndex(const XmlNode &users, const QString &name)
{
    for (int i = 0; i < users.children.size(); ++i) {
        const XmlNode &u = users.children[i];
        if (u.name == QLatin1String("user") && textOf(child(u, QStringLiteral("name"))) == name)
            return i;
    }
    return -1;
}

// Status of an account set; the stored list is updated on 200.
int changeAccounts(Device &device, const QString &action, const XmlNode &request)
{
    const XmlNode *user = child(request, QStringLiteral("user"));
    if (!user)
        return 400;
    const QString name = textOf(child(*user, QStringLiteral("name")));
    XmlNode users;
    if (!stored(device, UserKey, &users))
        return 500;
    const int at = accountIndex(users, name);
    if (action == QLatin1String("del")) {
        if (at < 0 || name == device.user())
            return 500;
        users.children.removeAt(at);
    } else if (action == QLatin1String("add")) {
        if (at >= 0)
            return 409;
        XmlNode entry;
        entry.name = QStringLiteral("user");
        for (const XmlNode &c : user->children) {
            // Passwords are never part of the list the device hands out.
            if (c.name != QLatin1String("password"))
                entry.children.append(c);
        }
        users.children.append(entry);
    } else if (action == QLatin1String("modify")) {
        if (at < 0)
            return 500;
        XmlNode &entry = users.children[at];
        for (const QString &field : {QStringLiteral("group"), QStringLiteral("permit")}) {
            if (const XmlNode *given = child(*user, field)) {
                bool replaced = false;
                for (XmlNode &c : entry.children) {
                    if (c.name == field) {
                        c = *given;
                        replaced = true;
                    }
                }
                if (!replaced)
                    entry.children.append(*given);
            }
        }
        const XmlNode *password = child(*user, QStringLiteral("password"));
        if (name == device.user() && password && !password->text.isEmpty())
            device.setCredentials(name, password->text);
    } else {
        return 400;
    }
    device.setSubject(UserKey, users.print());
    return 200;
}

} // namespace

bool handleSettingsSet(Exchange &ex)
{
    const QString key = ex.request().subjectKey();
    const bool account = key.startsWith(QLatin1String("user&do="));
    if (!account && key != QLatin1String("diskfmt"))
        return false;
    XmlNode request;
    QString error;
    if (!XmlNode::parse(ex.request().body, &request, &error) || request.name != QLatin1String("request")) {
        ex.respond(400);
        return true;
    }
    Device &device = ex.device();
    if (account) {
        const int status = changeAccounts(device, key.mid(8), request);
        ex.respond(status, status == 200 ? device.setReply(key) : QByteArray());
        return true;
    }
    XmlNode disk;
    if (!stored(device, DiskKey, &disk)) {
        ex.respond(500);
        return true;
    }
    const XmlNode *size = findDeep(disk, QStringLiteral("size"));
    if (XmlNode *free = findDeep(disk, QStringLiteral("free"))) {
        free->text = textOf(size);
        device.setSubject(DiskKey, disk.print());
    }
    ex.respond(200, device.setReply(key));
    return true;
}

bool acceptsOwnRoot(const Device &device, const QString &key, const QString &rootName)
{
    if (!key.startsWith(QLatin1String("schetask")) && !key.startsWith(QLatin1String("alarm")))
        return false;
    XmlNode doc;
    QString error;
    return device.hasSubject(key) && XmlNode::parse(device.subject(key), &doc, &error) && doc.name == rootName;
}

bool setImageStyle(Device &device, int style)
{
    const QString key = QStringLiteral("devability");
    XmlNode doc;
    QString error;
    if (!device.hasSubject(key) || !XmlNode::parse(device.subject(key), &doc, &error))
        return false;
    XmlNode *ability = doc.name == key ? &doc : nullptr;
    for (XmlNode &child : doc.children) {
        if (!ability && child.name == key)
            ability = &child;
    }
    if (!ability)
        return false;
    XmlNode *found = nullptr;
    for (XmlNode &child : ability->children) {
        if (child.name == QLatin1String("imgstyle"))
            found = &child;
    }
    if (!found) {
        ability->children.append(XmlNode());
        found = &ability->children.last();
        found->name = QStringLiteral("imgstyle");
    }
    found->text = QString::number(style);
    device.setSubject(key, doc.print());
    return true;
}

} // namespace devicesim
