#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "localsettings/localusers.h"
#include "tests/support/appglobals.h"
#include "tests/support/runfolder.h"

#include <QFile>
#include <QtTest>

#include <memory>

using testsupport::AppGlobals;
using testsupport::RunFolder;
using Rules = LocalUserRules;

Q_DECLARE_METATYPE(LocalUserRules::Outcome)

namespace {

const QString kDb = QStringLiteral("quendalix.xdt");
// Every change carries it, so that each row also shows quotes stay data.
const QString kDecl = QStringLiteral("x');delete from users;--");
const QString kBoss = QStringLiteral("insert into users values('boss','b',64,'Administrator','')");
const QString kFailWrite =
    QStringLiteral("create trigger nowrite before %1 on users begin select raise(abort,'no'); end");

QString sql(const QString &query)
{
    return RunFolder::query(kDb, query);
}

void row(const char *tag, const QString &seedSql, const QString &current, const QString &action, const QString &name,
         int type, const QString &password, const QString &confirm, LocalUserRules::Outcome outcome, const QString &tip,
         const QString &table, const QString &log = QString())
{
    QTest::newRow(tag) << seedSql << current << action << name << type << password << confirm << outcome << tip << table
                       << log;
}

} // namespace

// The user rules against a database made from the seed (admin holds every
// right) with guard (PTZ and snapshot) added.
class UserRulesTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<AppGlobals> m_globals;

private slots:
    void init()
    {
        m_folder.reset(new RunFolder);
        QVERIFY(m_folder->isValid());
        QVERIFY(RunFolder::exec(kDb, "insert into users values('guard','pw',3,'Operator','')"));
    }
    void cleanup()
    {
        m_globals.reset();
        m_folder.reset();
    }

    void change_data()
    {
        QTest::addColumn<QString>("seedSql");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<Rules::Outcome>("outcome");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("table"); // name:rights of every row afterwards
        QTest::addColumn<QString>("log");

        const QString before = "admin:511 guard:3";
        const QString boss = before + " boss:64";
        // clang-format off
        row("add", "", "admin", "add", "clerk", 511, "pw", "pw", Rules::Added, "addusersucc",
            before + " clerk:511", "admin|add user|clerk|1");
        // The login form takes 1 to 16 ASCII letters and digits, and nothing else.
        row("add, quote in name", "", "admin", "add", "o'brien", 1, "pw", "pw", Rules::NameNotTypeable,
            "loginnamechars", before);
        row("add, name the login cannot type", "", "admin", "add", "\u05e9\u05dc\u05d5\u05dd<b>op</b>", 1, "pw",
            "pw", Rules::NameNotTypeable, "loginnamechars", before);
        row("add, name of 17", "", "admin", "add", "clerk678901234567", 1, "pw", "pw", Rules::NameNotTypeable,
            "loginnamechars", before);
        row("add, name of 16", "", "admin", "add", "Clerk67890123456", 1, "pw", "pw", Rules::Added, "addusersucc",
            before + " Clerk67890123456:1", "admin|add user|Clerk67890123456|1");
        row("add, quote in password", "", "admin", "add", "clerk", 1, "p'w", "p'w", Rules::PasswordNotTypeable,
            "loginpwdchars", before);
        row("add, password of 17", "", "admin", "add", "clerk", 1, "pw345678901234567", "pw345678901234567",
            Rules::PasswordNotTypeable, "loginpwdchars", before);
        row("modify, new password the login cannot type", "", "admin", "modify", "guard", 7, "p w", "p w",
            Rules::PasswordNotTypeable, "loginpwdchars", before);
        // Stored accounts stay as they are: a stored password kept, a stored name.
        row("modify, stored password kept", "insert into users values('o''brien','p''w',1,'','')", "admin",
            "modify", "o'brien", 5, "p'w", "p'w", Rules::Modified, "modifyusersucc", before + " o'brien:5");
        row("add, blank name", "", "admin", "add", " ", 1, "pw", "pw", Rules::EmptyName, "neednameorpwd", before);
        row("add, no password", "", "admin", "add", "clerk", 1, "", "", Rules::EmptyPassword, "neednameorpwd",
            before);
        row("add, passwords differ", "", "admin", "add", "clerk", 1, "pw", "pW", Rules::PasswordMismatch,
            "notmatch", before);
        row("add, name exists", "", "admin", "add", "guard", 1, "pw", "pw", Rules::NameExists, "usernameexist",
            before);
        // A blank at either end would make a second user that reads like the first.
        row("add, blanks around the name", "", "admin", "add", " \tclerk  ", 511, "pw", "pw", Rules::Added,
            "addusersucc", before + " clerk:511", "admin|add user|clerk|1");
        row("add, trailing blank on an existing name", "", "admin", "add", "guard ", 1, "pw", "pw",
            Rules::NameExists, "usernameexist", before);
        row("add, leading blank on an existing name", "", "admin", "add", " guard", 1, "pw", "pw",
            Rules::NameExists, "usernameexist", before);
        row("add, a stored name has blanks", "insert into users values(' clerk ','p',1,'','')", "admin", "add",
            "clerk", 1, "pw", "pw", Rules::NameExists, "usernameexist", before + "  clerk :1");
        row("add, insert fails", kFailWrite.arg("insert"), "admin", "add", "clerk", 1, "pw", "pw", Rules::AddFailed,
            "addusererr", before);
        row("modify another", "", "admin", "modify", "guard", 7, "pw", "pw", Rules::Modified, "modifyusersucc",
            "admin:511 guard:7");
        row("modify, own rights follow", "", "guard", "modify", "guard", 1, "pw", "pw", Rules::Modified,
            "modifyusersucc", "admin:511 guard:1");
        row("modify, last holder keeps local configuration", "", "admin", "modify", "admin", 447, "pw", "pw",
            Rules::LastLocalConfiguration, "lastlocalcfg", before);
        row("modify, holder drops it beside another", kBoss, "admin", "modify", "admin", 447, "pw", "pw",
            Rules::Modified, "modifyusersucc", "admin:447 guard:3 boss:64");
        row("modify, passwords differ", "", "admin", "modify", "guard", 1, "pw", "x", Rules::PasswordMismatch,
            "notmatch", before);
        row("modify, no such user", "", "admin", "modify", "nobody", 1, "pw", "pw", Rules::NoSuchUser,
            "modifyusererr", before);
        row("modify, update fails", kFailWrite.arg("update"), "admin", "modify", "guard", 1, "pw", "pw",
            Rules::ModifyFailed, "modifyusererr", before);
        row("delete", "", "admin", "delete", "guard", 0, "", "", Rules::Deleted, "delusersecc", "admin:511",
            "admin|delete user|guard|1");
        row("delete, quote in name", "insert into users values('o''brien','p',1,'','')", "admin", "delete",
            "o'brien", 0, "", "", Rules::Deleted, "delusersecc", before, "admin|delete user|o'brien|1");
        row("delete the logged-in user", kBoss, "admin", "delete", "admin", 0, "", "", Rules::DeletingCurrentUser,
            "delcuruser", boss);
        row("delete the last local configuration holder", "", "guard", "delete", "admin", 0, "", "",
            Rules::LastLocalConfiguration, "lastlocalcfg", before);
        row("delete a holder beside another", kBoss, "guard", "delete", "admin", 0, "", "", Rules::Deleted,
            "delusersecc", "guard:3 boss:64", "guard|delete user|admin|1");
        row("delete, no such user", "", "admin", "delete", "nobody", 0, "", "", Rules::DeleteFailed, "delusererr",
            before);
        row("delete, statement fails", kFailWrite.arg("delete"), "admin", "delete", "guard", 0, "", "",
            Rules::DeleteFailed, "delusererr", before);
        // clang-format on
    }
    void change()
    {
        QFETCH(QString, seedSql);
        QFETCH(QString, current);
        QFETCH(QString, action);
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(QString, password);
        QFETCH(QString, confirm);
        QFETCH(Rules::Outcome, outcome);
        QFETCH(QString, tip);
        QFETCH(QString, table);
        QFETCH(QString, log);
        if (!seedSql.isEmpty())
            QVERIFY(RunFolder::exec(kDb, seedSql));
        m_globals.reset(new AppGlobals);
        QVERIFY(m_globals->isValid());
        g_curUserName = current;
        g_curUserRights = current == "admin" ? 511 : 3;
        const quint32 rightsBefore = g_curUserRights;

        Rules rules(g_database);
        _st_user_item user;
        user.username = name;
        user.password = password;
        user.usertype = type;
        user.usergroup = "Operator";
        user.userdecl = kDecl;
        const Rules::Outcome got = action == "add"      ? rules.add(user, confirm)
                                   : action == "modify" ? rules.modify(user, confirm)
                                                        : rules.remove(name);
        QCOMPARE(got, outcome);
        QCOMPARE(QString::fromLatin1(Rules::tipKey(got)), tip);
        QCOMPARE(sql("select group_concat(username||':'||usertype,' ') from users"), table);
        const bool written = Rules::succeeded(got) && action != "delete";
        QCOMPARE(sql("select count(*) from users where userdecl='x'');delete from users;--'"),
                 QString::number(written ? 1 : 0));
        QCOMPARE(g_curUserRights, written && name == current ? quint32(type) : rightsBefore);
        m_globals->flushLog();
        QCOMPARE(RunFolder::query("cmsclient.logx", "select curuser,logdecl,lognote,logtype from systemlogs"), log);
    }

    void closedDatabase()
    {
        QVERIFY(QFile::remove(kDb));
        qcDatabase closed;
        QVERIFY(!closed.isOpened());
        Rules rules(&closed);
        QCOMPARE(rules.add(_st_user_item{"clerk", "pw", "", "", 1}, "pw"), Rules::DatabaseClosed);
        QCOMPARE(QString(Rules::tipKey(Rules::DatabaseClosed)), QString("databaseerr"));
        QCOMPARE(rules.remove("guard"), Rules::DeleteFailed);
    }

    void rightsSummary()
    {
        m_globals.reset(new AppGlobals(false));
        QCOMPARE(Rules::rightsSummary(0), QString());
        QCOMPARE(Rules::rightsSummary(0x3), QString("PTZ control, Snapshot"));
        QCOMPARE(Rules::rightsSummary(0x140), QString("Local configuration, Device management"));
        QCOMPARE(Rules::rightsSummary(0x1ff).count(", "), 8);
    }
};

QTEST_GUILESS_MAIN(UserRulesTest)
#include "tst_userrules.moc"
