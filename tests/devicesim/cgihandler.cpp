#include "cgihandler.h"

#include "exchange.h"
#include "settingsets.h"
#include "xmltree.h"

namespace devicesim {

static const QByteArray Ok = "<response><status>0</status></response>";
static const QByteArray Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

void CgiHandler::handle(Exchange &ex)
{
    const Request &req = ex.request();
    const bool isGet = req.method == "GET";
    const bool isPost = req.method == "POST";
    if (req.path == "/action/get" && isGet)
        get(ex);
    else if (req.path == "/action/set" && isPost)
        set(ex);
    else if (req.path == "/action/import" && isPost) {
        ex.device().setBlob(req.body);
        ex.respond(200, Ok);
    } else if (req.path == "/action/export" && isGet)
        ex.respond(200, ex.device().blob(), "application/octet-stream");
    else if (req.path == "/action/ptz" && isPost)
        ptz(ex);
    else if (req.path == "/action/upload" && isPost)
        upload(ex);
    else
        ex.respond(404);
}

void CgiHandler::get(Exchange &ex)
{
    const QString key = ex.request().subjectKey();
    QByteArray generated;
    if (!key.isEmpty() && ex.device().generateSubject(key, &generated)) {
        ex.respond(200, Declaration + stripDeclaration(generated));
        return;
    }
    if (key.isEmpty() || !ex.device().hasSubject(key)) {
        ex.respond(404);
        return;
    }
    ex.respond(200, Declaration + stripDeclaration(ex.device().subject(key)));
}

// Whether a document names every element directly below the stored
// document's root.
static bool carriesEveryPart(const XmlNode &sent, const XmlNode &stored)
{
    for (const XmlNode &part : stored.children) {
        bool found = false;
        for (const XmlNode &c : sent.children)
            found = found || c.name == part.name;
        if (!found)
            return false;
    }
    return true;
}

void CgiHandler::set(Exchange &ex)
{
    if (handleSettingsSet(ex))
        return;
    const QString key = ex.request().subjectKey();
    QString error;
    XmlNode request;
    if (key.isEmpty() || !XmlNode::parse(ex.request().body, &request, &error) ||
        (request.name != QLatin1String("request") && !acceptsOwnRoot(ex.device(), key, request.name))) {
        ex.respond(400);
        return;
    }
    XmlNode stored;
    stored.name = QStringLiteral("response");
    if (ex.device().hasSubject(key) && !XmlNode::parse(ex.device().subject(key), &stored, &error)) {
        // A stored document that does not parse is a broken fixture.
        ex.respond(500);
        return;
    }
    if (request.name != QLatin1String("request") && carriesEveryPart(request, stored))
        stored = request; // a week sent back whole: a section left out is gone
    else
        mergeInto(&stored, request);
    ex.device().setSubject(key, stored.print());
    ex.respond(200, ex.device().setReply(key));
}

// The named child, added when missing.
static XmlNode *childOf(XmlNode *parent, const QString &name)
{
    for (XmlNode &c : parent->children) {
        if (c.name == name)
            return &c;
    }
    XmlNode added;
    added.name = name;
    parent->children.append(added);
    return &parent->children.last();
}

static const XmlNode *findChild(const XmlNode &parent, const QString &name)
{
    for (const XmlNode &c : parent.children) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

// Preset set (4098) and clear (4099) change the stored "ptz" subject, so
// that the next information request reads them back.
static void applyPreset(Device &device, const XmlNode &request)
{
    const XmlNode *cmd = findChild(request, QStringLiteral("ptzcmd"));
    const XmlNode *code = cmd ? findChild(*cmd, QStringLiteral("cmd")) : nullptr;
    const XmlNode *preset = cmd ? findChild(*cmd, QStringLiteral("preset")) : nullptr;
    const XmlNode *index = preset ? findChild(*preset, QStringLiteral("index")) : nullptr;
    if (!code || !index || (code->text != QLatin1String("4098") && code->text != QLatin1String("4099")))
        return;
    const int n = index->text.toInt();
    if (n < 1 || n > 128)
        return;
    XmlNode stored;
    QString error;
    const QString key = QStringLiteral("ptz");
    if (!device.hasSubject(key) || !XmlNode::parse(device.subject(key), &stored, &error))
        stored = XmlNode{QStringLiteral("response"), {}, {}, {}};
    XmlNode *list = childOf(childOf(&stored, key), QStringLiteral("preset"));
    list->text.clear();
    int names = 0;
    for (const XmlNode &c : qAsConst(list->children))
        names += c.name == QLatin1String("pname");
    for (; names < n; ++names)
        list->children.append(XmlNode{QStringLiteral("pname"), {}, {}, {}});
    const XmlNode *name = findChild(*preset, QStringLiteral("name"));
    int seen = 0;
    for (XmlNode &c : list->children) {
        if (c.name == QLatin1String("pname") && ++seen == n)
            c.text = code->text == QLatin1String("4098") && name ? name->text : QString();
    }
    device.setSubject(key, stored.print());
}

void CgiHandler::ptz(Exchange &ex)
{
    const QByteArray &body = ex.request().body;
    ex.device().recordPtz(body);
    XmlNode request;
    QString error;
    if (!XmlNode::parse(body, &request, &error) || request.name != QLatin1String("request")) {
        ex.respond(400);
        return;
    }
    applyPreset(ex.device(), request);
    ex.respond(200, Ok);
}

void CgiHandler::upload(Exchange &ex)
{
    QList<FormPart> parts;
    QString error;
    if (!parseMultipart(ex.request().header("Content-Type"), ex.request().body, &parts, &error)) {
        ex.respond(400);
        return;
    }
    for (const FormPart &p : parts)
        ex.device().storeUpload(p);
    ex.respond(200, Ok);
}

} // namespace devicesim
