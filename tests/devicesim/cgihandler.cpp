#include "cgihandler.h"

#include "exchange.h"
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
    else if (req.path == "/action/ptz" && isPost) {
        ex.device().recordPtz(req.body);
        ex.respond(200, Ok);
    } else if (req.path == "/action/upload" && isPost)
        upload(ex);
    else
        ex.respond(404);
}

void CgiHandler::get(Exchange &ex)
{
    const QString key = ex.request().subjectKey();
    if (key.isEmpty() || !ex.device().hasSubject(key)) {
        ex.respond(404);
        return;
    }
    ex.respond(200, Declaration + stripDeclaration(ex.device().subject(key)));
}

void CgiHandler::set(Exchange &ex)
{
    const QString key = ex.request().subjectKey();
    QString error;
    XmlNode request;
    if (key.isEmpty() || !XmlNode::parse(ex.request().body, &request, &error) ||
        request.name != QLatin1String("request")) {
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
    mergeInto(&stored, request);
    ex.device().setSubject(key, stored.print());
    ex.respond(200, ex.device().setReply(key));
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
