// The client program: brings the process up, refuses to run twice or
// without its files, shows the login and runs the event loop.
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/qclanguagexml.h"
#include "app/core/server.h"
#include "app/shell/cmsclient.h"
#include "app/shell/pagelinks.h"
#include "app/shell/qwlogin.h"
#include "app/widgets/nofocusrectstyle.h"
#include "app/widgets/programfont.h"
#include "app/widgets/qccustomapplication.h"
#include "platform/crashhandler.h"
#include "platform/quitsignals.h"
#include "platform/d3d9/d3d9diag.h"

#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QSurfaceFormat>
#include <QTranslator>

#include <csignal>

namespace {

const char kInstanceName[] = "qzprys-400";

// The boxes carry fixed English texts: the language table is not there yet.
// The text also goes to stderr so that a run without a person sees it.
void warn(const QString &text)
{
    qWarning().noquote() << "Warning:" << text;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok);
    // The text names a file, which may hold anything.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString instanceName()
{
    // Lets the process tests run beside a developer's own client.
    const QByteArray key = qgetenv("ARDO_INSTANCE_KEY");
    return key.isEmpty() ? QString::fromLatin1(kInstanceName) : QString::fromLocal8Bit(key);
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything talks to the X server: every view's player draws
    // through its own connection from its own thread.
    platform::d3d9::initWindowSystemThreads();
    platform::installCrashHandler("Korvista.dmp");
    // Writing to a socket whose peer has gone must fail, not end the process.
    signal(SIGPIPE, SIG_IGN);

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    g_app = new qcCustomApplication(argc, argv);
    // A session's log-out or shutdown (SIGTERM), Ctrl+C (SIGINT) and a lost
    // terminal (SIGHUP) end the loop; the main window is closed after it as
    // its close button closes it. Goes with the application object.
    auto *quitSignals = new platform::QuitSignals(g_app);
    QObject::connect(quitSignals, &platform::QuitSignals::quitRequested, g_app, [](int signalNumber) {
        qInfo().noquote() << "signal" << signalNumber << "received, closing";
        QCoreApplication::quit();
    });
    Q_INIT_RESOURCE(resources);
    QApplication::setStyle(new NoFocusRectstyle(QApplication::style()));
    qDebug() << "working directory" << QDir::currentPath();

    // Owned by the application object so that it goes with it.
    auto *translator = new QTranslator(g_app);
    if (translator->load(QStringLiteral("qt_en.qm"), QStringLiteral("translations/")))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;

    QSurfaceFormat format;
    format.setDepthBufferSize(24);
    format.setRenderableType(QSurfaceFormat::OpenGL);
    QSurfaceFormat::setDefaultFormat(format);

    programfont::apply();

    Server server;
    if (!server.listen(instanceName())) {
        warn(QStringLiteral("An instance is already running!!"));
        return 1;
    }

    g_langXml = new qcLanguageXml;
    if (!g_langXml || g_langXml->load() == 0) {
        warn(QStringLiteral("The language file is unavailable!!"));
        return 1;
    }

    g_database = new qcDatabase;
    if (!g_database) {
        warn(QStringLiteral("Unknow error!!"));
        return 1;
    }
    if (!g_database->isOpened()) {
        warn(QStringLiteral("The database file \"%1\" cannot be used (%2)!!")
                 .arg(QString::fromLatin1(qcDatabase::kFileName), g_database->openError()));
        return 1;
    }
    QString reason;
    if (!qcLogHelper::checkDatabaseFile(&reason)) {
        warn(QStringLiteral("The log database file \"%1\" cannot be used (%2)!!")
                 .arg(QString::fromLatin1(qcLogHelper::kFileName), reason));
        return 1;
    }
    g_logHelper = new qcLogHelper;
    if (!g_logHelper) {
        warn(QStringLiteral("Unknow error!!"));
        return 1;
    }
    g_logHelper->start(QThread::LowPriority);

    shell::linkPages();
    auto *login = new qwLogin;
    login->show();

    const int code = QApplication::exec();

    // A quit by signal leaves the main window open: its close writes the exit
    // record and deletes the pages, the live page's recordings finished with
    // their final names among them. After a close by its button this does
    // nothing more. Out here no page's code is on the stack any more.
    if (cmsclient *window = login->mainWindow())
        window->close();
    // The log thread writes what is still queued (the exit record among it)
    // before anything it might use is gone.
    g_logHelper->stop();
    delete g_logHelper;
    g_logHelper = nullptr;
    // Every widget must be gone before the application object.
    delete login->mainWindow();
    delete login;
    delete g_app;
    g_app = nullptr;
    delete g_database;
    g_database = nullptr;
    return code;
}
