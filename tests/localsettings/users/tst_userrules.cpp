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

Q_DECLARE_METATYPE(LocalUserRules::Outcome)

namespace {

const QString kDb = QStringLiteral("quendalix.xdt");

QString sql(const QString &query)
{
    return RunFolder::query(kDb, query);
}

_st_user_item user(const QString &name, int type, const QString &password = QStringLiteral("pw"),
                   const QString &decl = QString())
{
    _st_user_item u;
    u.username = name;
    u.password = password;
    u.usertype = type;
    u.usergroup = QStringLiteral("Operator");
    u.userdecl = decl;
    return u;
}

} // namespace

// The user rules against a real database made from the seed: admin (every
// right) is there, guard (PTZ and snapshot) is added by init().
class UserRulesTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<AppGlobals> m_globals;

    void start(const QStringList &seedSql = {})
    {
        for (const QString &statement : seedSql)
            QVERIFY2(RunFolder::exec(kDb, statement), qPrintable(statement));
        m_globals.reset(new AppGlobals);
        QVERIFY(m_globals->isValid());
        g_curUserName = QStringLiteral("admin");
        g_curUserRights = 511;
    }

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

    void add_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<QString>("decl");
        QTest::addColumn<QString>("seedSql");
        QTest::addColumn<LocalUserRules::Outcome>("outcome");
        QTest::addColumn<QString>("tip");

        QTest::newRow("plain") << "clerk"
                               << "pw"
                               << "pw"
                               << ""
                               << "" << LocalUserRules::Added << "addusersucc";
        QTest::newRow("quote in name") << "o'brien"
                                       << "pw"
                                       << "pw"
                                       << ""
                                       << "" << LocalUserRules::Added << "addusersucc";
        QTest::newRow("statement in description") << "clerk"
                                                  << "p'w"
                                                  << "p'w"
                                                  << "x');delete from users;--"
                                                  << "" << LocalUserRules::Added << "addusersucc";
        QTest::newRow("empty name") << ""
                                    << "pw"
                                    << "pw"
                                    << ""
                                    << "" << LocalUserRules::EmptyName << "neednameorpwd";
        QTest::newRow("blank name") << "  "
                                    << "pw"
                                    << "pw"
                                    << ""
                                    << "" << LocalUserRules::EmptyName << "neednameorpwd";
        QTest::newRow("empty password") << "clerk"
                                        << ""
                                        << ""
                                        << ""
                                        << "" << LocalUserRules::EmptyPassword << "neednameorpwd";
        QTest::newRow("passwords differ") << "clerk"
                                          << "pw"
                                          << "pW"
                                          << ""
                                          << "" << LocalUserRules::PasswordMismatch << "notmatch";
        QTest::newRow("name exists") << "guard"
                                     << "pw"
                                     << "pw"
                                     << ""
                                     << "" << LocalUserRules::NameExists << "usernameexist";
        QTest::newRow("insert fails")
            << "clerk"
            << "pw"
            << "pw"
            << ""
            << "create trigger noadd before insert on users begin select raise(abort,'no'); end"
            << LocalUserRules::AddFailed << "addusererr";
    }
    void add()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, confirm);
        QFETCH(QString, decl);
        QFETCH(QString, seedSql);
        QFETCH(LocalUserRules::Outcome, outcome);
        QFETCH(QString, tip);
        start(seedSql.isEmpty() ? QStringList() : QStringList{seedSql});
        LocalUserRules rules(g_database);
        const LocalUserRules::Outcome got = rules.add(user(name, 0x1ff, password, decl), confirm);
        QCOMPARE(got, outcome);
        QCOMPARE(QString::fromLatin1(LocalUserRules::tipKey(got)), tip);
        const bool added = outcome == LocalUserRules::Added;
        QCOMPARE(sql("select count(*) from users"), QString::number(added ? 3 : 2));
        if (added) {
            QCOMPARE(sql("select password,usertype,userdecl from users where username='" +
                         QString(name).replace("'", "''") + "'"),
                     password + "|511|" + decl);
            _st_user_item back;
            QVERIFY(rules.find(name, &back));
            QCOMPARE(back.userdecl, decl);
        }
        m_globals->flushLog();
        QCOMPARE(RunFolder::query("cmsclient.logx", "select curuser,logdecl,lognote,logtype from systemlogs"),
                 added ? "admin|add user|" + name + "|1" : QString());
    }

    void closedDatabase()
    {
        QVERIFY(QFile::remove(kDb));
        qcDatabase closed;
        QVERIFY(!closed.isOpened());
        LocalUserRules rules(&closed);
        QCOMPARE(rules.add(user("clerk", 1), "pw"), LocalUserRules::DatabaseClosed);
        QCOMPARE(QString(LocalUserRules::tipKey(LocalUserRules::DatabaseClosed)), QString("databaseerr"));
        QCOMPARE(rules.remove("guard"), LocalUserRules::DeleteFailed);
        QCOMPARE(rules.modify(user("guard", 1), "pw"), LocalUserRules::NoSuchUser);
    }

    void modify_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("secondHolder"); // "boss" also holds local configuration
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<LocalUserRules::Outcome>("outcome");
        QTest::addColumn<QString>("storedType");

        QTest::newRow("rights of another")
            << "admin" << false << "guard" << 0x7 << "pw" << LocalUserRules::Modified << "7";
        QTest::newRow("last holder keeps local configuration")
            << "admin" << false << "admin" << (511 & ~0x40) << "pw" << LocalUserRules::LastLocalConfiguration << "511";
        QTest::newRow("holder may drop it beside another")
            << "admin" << true << "admin" << (511 & ~0x40) << "pw" << LocalUserRules::Modified << "447";
        QTest::newRow("own rights follow at once")
            << "guard" << false << "guard" << 0x1 << "pw" << LocalUserRules::Modified << "1";
        QTest::newRow("passwords differ")
            << "admin" << false << "guard" << 0x1 << "xx" << LocalUserRules::PasswordMismatch << "3";
        QTest::newRow("no such user") << "admin" << false << "nobody" << 0x1 << "pw" << LocalUserRules::NoSuchUser
                                      << "3";
    }
    void modify()
    {
        QFETCH(QString, current);
        QFETCH(bool, secondHolder);
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(QString, confirm);
        QFETCH(LocalUserRules::Outcome, outcome);
        QFETCH(QString, storedType);
        start(secondHolder ? QStringList{"insert into users values('boss','b',64,'Administrator','')"} : QStringList());
        g_curUserName = current;
        g_curUserRights = current == "admin" ? 511 : 3;
        const quint32 rightsBefore = g_curUserRights;
        LocalUserRules rules(g_database);
        _st_user_item changed = user(name, type, "pw", "night shift");
        QCOMPARE(rules.modify(changed, confirm), outcome);
        const QString row = name == "nobody" ? "guard" : name;
        QCOMPARE(sql("select usertype from users where username='" + row + "'"), storedType);
        const bool ownChange = outcome == LocalUserRules::Modified && name == current;
        QCOMPARE(g_curUserRights, ownChange ? quint32(type) : rightsBefore);
        if (outcome == LocalUserRules::Modified)
            QCOMPARE(sql("select userdecl from users where username='" + name + "'"), QString("night shift"));
    }

    void modifyFails()
    {
        start({"create trigger nochange before update on users begin select raise(abort,'no'); end"});
        LocalUserRules rules(g_database);
        QCOMPARE(rules.modify(user("guard", 1), "pw"), LocalUserRules::ModifyFailed);
        QCOMPARE(QString(LocalUserRules::tipKey(LocalUserRules::ModifyFailed)), QString("modifyusererr"));
    }

    void remove_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("seedSql");
        QTest::addColumn<QString>("name");
        QTest::addColumn<LocalUserRules::Outcome>("outcome");
        QTest::addColumn<QString>("tip");

        const QString boss = "insert into users values('boss','b',64,'Administrator','')";
        QTest::newRow("another user") << "admin"
                                      << ""
                                      << "guard" << LocalUserRules::Deleted << "delusersecc";
        QTest::newRow("quote in name") << "admin"
                                       << "insert into users values('o''brien','p',1,'','')"
                                       << "o'brien" << LocalUserRules::Deleted << "delusersecc";
        QTest::newRow("logged-in user") << "admin" << boss << "admin" << LocalUserRules::DeletingCurrentUser
                                        << "delcuruser";
        QTest::newRow("last local configuration holder")
            << "guard"
            << ""
            << "admin" << LocalUserRules::LastLocalConfiguration << "lastlocalcfg";
        QTest::newRow("holder beside another")
            << "guard" << boss << "admin" << LocalUserRules::Deleted << "delusersecc";
        QTest::newRow("no such user") << "admin"
                                      << ""
                                      << "nobody" << LocalUserRules::DeleteFailed << "delusererr";
        QTest::newRow("statement fails")
            << "admin"
            << "create trigger nodel before delete on users begin select raise(abort,'no'); end"
            << "guard" << LocalUserRules::DeleteFailed << "delusererr";
    }
    void remove()
    {
        QFETCH(QString, current);
        QFETCH(QString, seedSql);
        QFETCH(QString, name);
        QFETCH(LocalUserRules::Outcome, outcome);
        QFETCH(QString, tip);
        start(seedSql.isEmpty() ? QStringList() : QStringList{seedSql});
        g_curUserName = current;
        const QString before = sql("select count(*) from users");
        LocalUserRules rules(g_database);
        const LocalUserRules::Outcome got = rules.remove(name);
        QCOMPARE(got, outcome);
        QCOMPARE(QString::fromLatin1(LocalUserRules::tipKey(got)), tip);
        const bool deleted = outcome == LocalUserRules::Deleted;
        QCOMPARE(sql("select count(*) from users"), QString::number(before.toInt() - (deleted ? 1 : 0)));
        QCOMPARE(rules.find(name, nullptr), !deleted && name != "nobody");
        m_globals->flushLog();
        QCOMPARE(RunFolder::query("cmsclient.logx", "select curuser,logdecl,lognote,logtype from systemlogs"),
                 deleted ? current + "|delete user|" + name + "|1" : QString());
    }

    void rightsSummary()
    {
        start();
        QCOMPARE(LocalUserRules::rightsSummary(0), QString());
        QCOMPARE(LocalUserRules::rightsSummary(0x3), QString("PTZ control, Snapshot"));
        QCOMPARE(LocalUserRules::rightsSummary(0x140), QString("Local configuration, Device management"));
        QCOMPARE(LocalUserRules::rights().size(), 9);
    }
};

QTEST_GUILESS_MAIN(UserRulesTest)
#include "tst_userrules.moc"
