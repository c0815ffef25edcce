// The passwd command on the real program: the two lines it reads from standard input
// become the password the experimenter's gate looks up, stored as a hash, or nothing
// changes at all.

#include "config/DemoConfig.h"
#include "store/PasswordHash.h"
#include "support/TempDatabase.h"
#include "support/ToolRun.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace aquilevel;
using aquilevel::test::TempDatabase;

namespace {

using Result = test::ToolResult;

Result passwd(const QString& folder, const QStringList& arguments, const QByteArray& input)
{
    return test::runProgram(QStringList{QStringLiteral("--data"), folder, QStringLiteral("passwd")} + arguments, input);
}

} // namespace

class TestPasswd : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDatabase> m_db;

    // The gate's own lookup: the first row of the user, name matched without letter case.
    QVariantList gateLookup(const QString& user) const
    {
        return m_db->column(QStringLiteral("Select password from tblPasswords where username=$1 order by rowid"), {user});
    }
    bool gateAccepts(const QString& user, const QString& password) const
    {
        const QVariantList found = gateLookup(user);
        return !found.isEmpty() && store::passwordMatches(found.first(), password);
    }
    QStringList accounts() const
    {
        QStringList rows;
        for (const QVariant& row : m_db->column(QStringLiteral(
                 "select username || '=' || ifnull(password, '(null)') from tblPasswords order by rowid")))
            rows.append(row.toString());
        return rows;
    }

private slots:
    void initTestCase() { m_db = std::make_unique<TempDatabase>(TempDatabase::Content::Demo); }

    void addingAnAccountLetsTheGateAcceptIt()
    {
        QVERIFY(gateLookup(QStringLiteral("alice")).isEmpty());
        const Result result = passwd(m_db->folder(), {QStringLiteral("Alice")}, " tide pool 7 \n tide pool 7 \n");
        QCOMPARE(result.status, 0);
        QVERIFY2(result.out.contains(QStringLiteral("Added")), qPrintable(result.out + result.err));
        // Spaces belong to the password; the name is found in any letter case.
        QVERIFY(gateAccepts(QStringLiteral("ALICE"), QStringLiteral(" tide pool 7 ")));
        QVERIFY(!gateAccepts(QStringLiteral("alice"), QStringLiteral("tide pool 7")));
        QCOMPARE(gateLookup(QStringLiteral("alice")).size(), 1);
        QVERIFY(store::isPasswordHash(gateLookup(QStringLiteral("alice")).first()));
        // The demo account is untouched.
        QVERIFY(gateAccepts(config::kDemoUser, config::kDemoPassword));

        // Lines ending in CR LF give the same password as lines ending in LF; ten
        // characters are enough, whatever their bytes.
        const QString tenLetters = QStringLiteral("\u00e5\u00e4\u00f6\u00e5\u00e4\u00f6\u00e5\u00e4\u00f6\u00e5");
        const QByteArray line = tenLetters.toUtf8() + "\r\n";
        QCOMPARE(passwd(m_db->folder(), {QStringLiteral("bob")}, line + line).status, 0);
        QVERIFY(gateAccepts(QStringLiteral("bob"), tenLetters));
        // Nothing typed is kept in plain text.
        QCOMPARE(accounts().filter(QRegularExpression(QStringLiteral("tide|\u00e5"))), QStringList());
    }

    void changingThePasswordRetiresTheOldOneInEveryRow()
    {
        // A second row for the same user, as an earlier hand edit may have left.
        m_db->exec(QStringLiteral("insert into tblPasswords (username, password) values ($1, $2)"),
                   {QStringLiteral("Experimenter"), QStringLiteral("older")});
        const QStringList others = accounts().filter(QRegularExpression(QStringLiteral("^(?!experimenter=)"),
                                                                        QRegularExpression::CaseInsensitiveOption));

        const Result result = passwd(m_db->folder(), {QStringLiteral("EXPERIMENTER")}, "Dye-Tracer-9\nDye-Tracer-9\n");
        QCOMPARE(result.status, 0);
        QVERIFY2(result.out.contains(QStringLiteral("Changed")), qPrintable(result.out + result.err));
        QVERIFY(!gateAccepts(config::kDemoUser, config::kDemoPassword));
        QVERIFY(gateAccepts(config::kDemoUser, QStringLiteral("Dye-Tracer-9")));
        const QVariantList rows = gateLookup(config::kDemoUser);
        QCOMPARE(rows.size(), 2);
        for (const QVariant& row : rows)
            QVERIFY(store::isPasswordHash(row) && store::passwordMatches(row, QStringLiteral("Dye-Tracer-9")));
        // No row was added, and the stored names keep their letter case.
        const QString hash = rows.first().toString();
        QCOMPARE(accounts().filter(hash), QStringList({config::kDemoUser + QLatin1Char('=') + hash,
                                                       QStringLiteral("Experimenter=") + hash}));
        QCOMPARE(accounts().filter(QRegularExpression(QStringLiteral("^(?!experimenter=)"),
                                                      QRegularExpression::CaseInsensitiveOption)),
                 others);
    }

    void badPasswordsChangeNothing_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("message");
        QTest::newRow("mismatch, new user") << "carol" << QByteArray("first\nsecond\n") << "differ";
        QTest::newRow("mismatch, existing user") << config::kDemoUser << QByteArray("first\nfirst \n") << "differ";
        QTest::newRow("empty") << config::kDemoUser << QByteArray("\n\n") << "empty";
        QTest::newRow("nine characters") << "carol" << QByteArray("tidepool9\ntidepool9\n") << "at least 10 characters";
        QTest::newRow("nine characters in 18 bytes")
            << "carol" << QByteArray("\xc3\xa5\xc3\xa4\xc3\xb6\xc3\xa5\xc3\xa4\xc3\xb6\xc3\xa5\xc3\xa4\xc3\xb6\n"
                                    "\xc3\xa5\xc3\xa4\xc3\xb6\xc3\xa5\xc3\xa4\xc3\xb6\xc3\xa5\xc3\xa4\xc3\xb6\n")
            << "at least 10 characters";
        QTest::newRow("73 bytes") << "carol" << QByteArray(73, 'w') + '\n' + QByteArray(73, 'w') + '\n' << "72 bytes";
        QTest::newRow("37 characters in 74 bytes")
            << "carol" << QByteArray("\xc3\xa5").repeated(37) + '\n' + QByteArray("\xc3\xa5").repeated(37) + '\n'
            << "72 bytes";
        QTest::newRow("the user name in another case")
            << "Carol.Lindqvist" << QByteArray("carol.LINDQVIST\ncarol.LINDQVIST\n") << "user name";
        QTest::newRow("the demo's published password")
            << "carol" << (config::kDemoPassword + QLatin1Char('\n')).toUtf8().repeated(2) << "published password";
        QTest::newRow("given once") << "carol" << QByteArray("lonely\n") << "twice";
        QTest::newRow("no input") << "carol" << QByteArray() << "twice";
    }

    void badPasswordsChangeNothing()
    {
        QFETCH(QString, user);
        QFETCH(QByteArray, input);
        QFETCH(QString, message);
        const QStringList before = accounts();
        const Result result = passwd(m_db->folder(), {user}, input);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("nothing was changed")), qPrintable(result.err));
        QCOMPARE(accounts(), before);
    }

    // mark takes an experimenter's password, read as passwd reads one.
    void markNeedsAnExperimentersPassword_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("marks");
        const QByteArray right = (config::kDemoPassword + QLatin1Char('\n')).toUtf8();
        QTest::newRow("wrong password") << config::kDemoUser << right.toLower() << "pia" << 1 << QStringList();
        QTest::newRow("no password") << config::kDemoUser << QByteArray() << "pia" << 1 << QStringList();
        QTest::newRow("unknown user") << "mallory" << right << "pia" << 1 << QStringList();
        QTest::newRow("unknown participant") << config::kDemoUser << right << "pam" << 1 << QStringList();
        QTest::newRow("the right password") << config::kDemoUser << right << "PIA" << 0 << QStringList{"Pia=excluded"};
    }

    void markNeedsAnExperimentersPassword()
    {
        QFETCH(QString, user);
        QFETCH(QByteArray, input);
        QFETCH(QString, subject);
        QFETCH(int, status);
        QFETCH(QStringList, marks);
        TempDatabase db(TempDatabase::Content::Demo);
        db.append(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), QStringLiteral("Pia")},
                                                {QStringLiteral("Version"), QStringLiteral("Demo continuous")}});
        const Result result = test::runProgram({QStringLiteral("--data"), db.folder(), QStringLiteral("mark"),
                                                QStringLiteral("--version"), QStringLiteral("demo CONTINUOUS"),
                                                QStringLiteral("--subject"), subject, QStringLiteral("--excluded"),
                                                QStringLiteral("--user"), user},
                                               input);
        QVERIFY2(result.status == status, qPrintable(result.err));
        QStringList stored;
        for (const QVariant& row : db.column(QStringLiteral("select Subject || '=' || Mark from datSubjectMark "
                                                            "where Version = 'Demo continuous'")))
            stored << row.toString();
        QCOMPARE(stored, marks);
        // An excluded participant is paid apart, and the payments say so.
        const Result paid = test::runProgram({QStringLiteral("--data"), db.folder(), QStringLiteral("payments")});
        QCOMPARE(paid.out.contains(QStringLiteral("Left out 1 marked participant(s) (1 excluded)")), status == 0);
        QCOMPARE(paid.out.contains(QStringLiteral("Pia")), status != 0);
        QVERIFY(test::runProgram({QStringLiteral("--data"), db.folder(), QStringLiteral("payments"),
                                  QStringLiteral("--include-excluded")})
                    .out.contains(QStringLiteral("Pia")));
    }

    void usage()
    {
        const QStringList before = accounts();
        Result result = passwd(m_db->folder(), {}, "x\nx\n");
        QCOMPARE(result.status, 2);
        QVERIFY2(result.err.contains(QStringLiteral("USER is missing")), qPrintable(result.err));

        QCOMPARE(passwd(m_db->folder(), {QStringLiteral("a"), QStringLiteral("b")}, "x\nx\n").status, 2);
        QCOMPARE(passwd(m_db->folder(), {QStringLiteral("--bogus"), QStringLiteral("a")}, "x\nx\n").status, 2);
        QCOMPARE(passwd(m_db->folder(), {QString()}, "x\nx\n").status, 1);

        result = passwd(m_db->folder(), {QStringLiteral("--help")}, QByteArray());
        QCOMPARE(result.status, 0);
        QVERIFY(result.out.contains(QStringLiteral("passwd USER")));
        QVERIFY(result.out.contains(QStringLiteral("at least 10 characters and at most 72 bytes")));
        QCOMPARE(accounts(), before);

        QTemporaryDir nowhere;
        result = passwd(nowhere.path(), {QStringLiteral("dave")}, "x\nx\n");
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(QStringLiteral("There is no experiment database")), qPrintable(result.err));
    }
};

QTEST_GUILESS_MAIN(TestPasswd)
#include "tst_passwd.moc"
