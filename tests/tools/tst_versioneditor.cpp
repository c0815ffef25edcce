// The console's version form: a wrong value named at its field and nothing stored, a sound
// edit stored whole; the scenario's chart; a pilot played in a throwaway copy. On the file,
// or on the server named by AQUILEVEL_TEST_SERVER.
#include "tools/ConsoleWindow.h"
#include "tools/PilotPanel.h"
#include "tools/ScenarioChart.h"
#include "tools/CheckCommand.h"
#include "tools/ToolCommand.h"
#include "tools/VersionEditor.h"

#include "support/FakeEngine.h"
#include "support/TempDatabase.h"

#include "store/EngineError.h"
#include "store/PasswordHash.h"
#include "store/PostgresConnection.h"
#include "store/PostgresEngine.h"
#include "store/ServerSettings.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace aquilevel;

namespace {

const QString kServer = qEnvironmentVariable("AQUILEVEL_TEST_SERVER");

// A lab with two sound versions and an experimenter account, on the engine under test,
// seen through a console; every write of the store can be made to fail.
struct Lab {
    test::TempDatabase file;
    test::FakeEngine* engine = nullptr;
    std::unique_ptr<tools::ToolStore> tool;
    std::unique_ptr<tools::ConsoleWindow> window;
    QString typed = QStringLiteral("pw");

    Lab()
    {
        std::unique_ptr<store::Engine> real;
        if (kServer.isEmpty()) {
            real = file.engine();
        } else {
            const store::ServerSettings server = store::serverSettingsFromUrl(kServer);
            store::PostgresConnection::open(server, 1000)->execute(QStringLiteral("DROP SCHEMA public CASCADE; CREATE SCHEMA public"));
            store::PostgresEngine(server).create({});
            real = std::make_unique<store::PostgresEngine>(server);
        }
        auto fake = std::make_unique<test::FakeEngine>(std::move(real));
        engine = fake.get();
        tool = std::make_unique<tools::ToolStore>(std::move(fake));
        tool->store().transaction(
            [](store::Connection& c) {
                for (const auto& [version, scenario] : {std::pair{"Alpha", 7}, std::pair{"Beta", 8}}) {
                    QVariantMap setup = test::soundSetupRow(QString::fromLatin1(version));
                    setup.insert(QStringLiteral("ScenarioUsed"), scenario);
                    test::appendTo(c, QStringLiteral("tblSetup"), setup);
                    for (int i = 1; i <= 5; ++i)
                        test::appendTo(c, QStringLiteral("tblLabels"),
                                       {{"version", version}, {"LabelNumber", i}, {"LabelName", QString::number(i * 10)}});
                    for (int t = 0; t <= 11; ++t)
                        test::appendTo(c, QStringLiteral("tblScenarios"),
                                       {{"Scenario", scenario}, {"Trial", t}, {"inFlowRateEnviron", 2.0}, {"outFlowRateEnviron", 1.0}});
                }
                test::appendTo(c, QStringLiteral("tblPasswords"),
                               {{"username", "lab"}, {"password", store::hashPassword(QStringLiteral("pw"))}});
            },
            false, QStringLiteral("test"));
        window = std::make_unique<tools::ConsoleWindow>(tool->store(), [] { return QDateTime::currentDateTime(); },
                                                        3600 * 1000);
        window->setCredentialsSource([this] { return std::make_pair(QStringLiteral("lab"), typed); });
        window->checkVersions(); // selects Alpha
    }

    tools::VersionEditor& editor() { return *window->findChild<tools::VersionEditor*>(); }
    // A change behind the console's back, as another console or an import makes it.
    void changeBehindTheBack(const char* sql)
    {
        tool->store().transaction([sql](store::Connection& c) { c.execute(store::Sql(sql)); }, false,
                                  QStringLiteral("test"));
    }
    QLineEdit* field(const QString& column) { return window->findChild<QLineEdit*>(QStringLiteral("txt") + column); }
    QTableWidget* scenario() { return window->findChild<QTableWidget*>(QStringLiteral("tblScenario")); }

    // Every row of every table, as the store reads it.
    QStringList contents()
    {
        QStringList all;
        tool->store().transaction(
            [&](store::Connection& c) {
                all.clear();
                for (const store::TableDef& table : store::allTables())
                    store::readRows(c, table, {}, 0, store::lastRowPosition(c, table), 100000,
                                    [&](const QVariantList& row) {
                                        QStringList cells{table.name};
                                        for (const QVariant& v : row)
                                            cells.append(v.isNull() ? QStringLiteral("(null)") : v.toString());
                                        all.append(cells.join(QLatin1Char('|')));
                                    });
            },
            true, QStringLiteral("test"));
        return all;
    }
};

} // namespace

class TestVersionEditor : public QObject {
    Q_OBJECT

private slots:
    void onlyASoundEditIsSaved_data();
    void onlyASoundEditIsSaved();
    void aSaveNeverOverwritesAChangeMadeMeanwhile();
    void theChartFollowsTheScenario();
    void aPilotPlaysInAThrowawayCopy();
};

void TestVersionEditor::onlyASoundEditIsSaved_data()
{
    // Where the value is typed (a tblSetup column, "row/column" of the scenario, "Lrow/column"
    // of the labels), what,
    // and where check's words are expected: at that field, or nowhere for a sound edit.
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("failingWrite"); // 0: none
    QTest::addColumn<bool>("stored");
    QTest::newRow("negative money") << "BaseMoney" << "-5" << "BaseMoney of -5 is negative" << "pw" << 0 << false;
    QTest::newRow("goal above the scale") << "GoalLinePoisition" << "80" << "lies outside the tank's scale, 0 to 50" << "pw" << 0 << false;
    QTest::newRow("not a number") << "MaxTrial" << "ten" << "\"ten\" is not a number" << "pw" << 0 << false;
    QTest::newRow("not whole") << "numMarks" << "4.5" << "\"4.5\" is not a whole number" << "pw" << 0 << false;
    QTest::newRow("unknown language") << "Language" << "xx" << "\"xx\" is no language the program knows" << "pw" << 0 << false;
    QTest::newRow("negative rate") << "3/2" << "-1" << "is negative; a flow is 0 or more" << "pw" << 0 << false;
    QTest::newRow("rate not a number") << "3/1" << "two" << "\"two\" is not a number" << "pw" << 0 << false;
    QTest::newRow("labels not rising") << "L3/1" << "25" << "the label \"25\" is not above the one below it (30)" << "pw" << 0 << false;
    QTest::newRow("another version's scenario") << "ScenarioUsed" << "8" << "" << "pw" << 0 << false;
    QTest::newRow("wrong password") << "BaseMoney" << "7.5" << "" << "wrong" << 0 << false;
    QTest::newRow("a write fails midway") << "BaseMoney" << "7.5" << "" << "pw" << 4 << false;
    QTest::newRow("sound") << "BaseMoney" << "7.5" << "" << "pw" << 0 << true;
}

void TestVersionEditor::onlyASoundEditIsSaved()
{
    QFETCH(QString, at);
    QFETCH(QString, value);
    QFETCH(QString, problem);
    QFETCH(QString, password);
    QFETCH(int, failingWrite);
    QFETCH(bool, stored);
    Lab lab;
    QCOMPARE(lab.editor().version(), QStringLiteral("Alpha"));
    const QStringList before = lab.contents();
    QVERIFY(!lab.editor().hasChanges());
    QTableWidget* table = at.startsWith(QLatin1Char('L')) ? lab.window->findChild<QTableWidget*>(QStringLiteral("tblLabels"))
                                                         : lab.scenario();
    const QStringList cell = at.mid(at.startsWith(QLatin1Char('L')) ? 1 : 0).split(QLatin1Char('/'));
    if (cell.size() == 2)
        table->item(cell.at(0).toInt(), cell.at(1).toInt())->setText(value);
    else
        lab.field(at)->setText(value);
    lab.scenario()->item(5, 1)->setText(QStringLiteral("3.5")); // a sound change beside it
    QVERIFY(lab.editor().hasChanges());
    lab.typed = password;
    // Beta broken behind the console's back: a save checks every version again.
    lab.changeBehindTheBack("UPDATE \"tblSetup\" SET \"MaxTrial\" = 0 WHERE \"Version\" = 'Beta'");
    const QStringList broken = lab.contents();
    if (failingWrite > 0)
        lab.engine->failWriteAt(failingWrite, [] { throw store::StoreError(QStringLiteral("the disk is full")); });

    QCOMPARE(lab.editor().save(), stored);
    const QString status = lab.window->findChild<QLabel*>(QStringLiteral("lblEditStatus"))->text();
    if (!problem.isEmpty()) {
        QVERIFY2(status.startsWith(QStringLiteral("Nothing was saved: ")), qPrintable(status));
        if (cell.size() == 2) {
            const QTableWidgetItem* item = table->item(cell.at(0).toInt(), cell.at(1).toInt());
            QVERIFY2(item->toolTip().contains(problem), qPrintable(item->toolTip()));
            QCOMPARE(item->background().color(), QColor(255, 200, 200));
        } else {
            QVERIFY2(lab.editor().problemAt(at).contains(problem), qPrintable(lab.editor().problemAt(at)));
            QVERIFY(lab.field(at)->styleSheet().contains(QStringLiteral("border")));
        }
    }
    QCOMPARE(lab.editor().hasChanges(), !stored); // a refused edit stays to be mended
    if (!stored) {
        QCOMPARE(lab.contents(), broken);
        QVERIFY2(failingWrite == 0 || status.endsWith(QStringLiteral("the disk is full")), qPrintable(status));
        // Beta plays scenario 8 too, and is judged with the edit inside the transaction.
        QVERIFY2(at != QLatin1String("ScenarioUsed") || status.contains(QStringLiteral("version \"Beta\", field MaxTrial")),
                 qPrintable(status));
        QVERIFY2(password == QLatin1String("pw") || status.startsWith(QStringLiteral("Wrong user name or password")),
                 qPrintable(status));
        return;
    }
    // The sound edit is stored whole, check finds it so, and the list was checked again.
    QVERIFY(lab.contents() != broken);
    QCOMPARE(tools::versionProblems(lab.tool->store(), QStringLiteral("Alpha")), QStringList());
    QCOMPARE(lab.field(QStringLiteral("BaseMoney"))->text(), QStringLiteral("7.5"));
    QCOMPARE(lab.scenario()->item(5, 1)->text(), QStringLiteral("3.5"));
    QCOMPARE(lab.contents().size(), before.size());
    const auto* versions = lab.window->findChild<QListWidget*>(QStringLiteral("lstVersions"));
    QCOMPARE(versions->currentRow(), 0);
    QVERIFY2(versions->item(1)->text().startsWith(QStringLiteral("Beta  (")), qPrintable(versions->item(1)->text()));
}

void TestVersionEditor::aSaveNeverOverwritesAChangeMadeMeanwhile()
{
    Lab lab;
    lab.field(QStringLiteral("BaseMoney"))->setText(QStringLiteral("7.5"));
    lab.typed = QStringLiteral("pw");
    // Another console, or an import, changes Alpha's scenario after the form was filled.
    lab.changeBehindTheBack("UPDATE \"tblScenarios\" SET \"inFlowRateEnviron\" = 4 WHERE \"Scenario\" = 7 "
                                 "AND \"Trial\" = 3");
    const QStringList changed = lab.contents();
    QVERIFY(!lab.editor().save());
    QCOMPARE(lab.contents(), changed);
    const QString status = lab.window->findChild<QLabel*>(QStringLiteral("lblEditStatus"))->text();
    QVERIFY2(status.contains(QStringLiteral("was changed in the database since it was shown")), qPrintable(status));
    QVERIFY(lab.editor().hasChanges());
    // Shown again, it is saved.
    lab.editor().load(QStringLiteral("Alpha"));
    lab.field(QStringLiteral("BaseMoney"))->setText(QStringLiteral("7.5"));
    QVERIFY(lab.editor().save());
    QCOMPARE(lab.scenario()->item(3, 1)->text(), QStringLiteral("4"));
    // A scenario typed anew is the one whose rows a save must find as they were shown.
    lab.field(QStringLiteral("ScenarioUsed"))->setText(QStringLiteral("8"));
    emit lab.field(QStringLiteral("ScenarioUsed"))->editingFinished();
    lab.changeBehindTheBack("UPDATE \"tblScenarios\" SET \"inFlowRateEnviron\" = 5 WHERE \"Scenario\" = 8 "
                                 "AND \"Trial\" = 2");
    const QStringList again = lab.contents();
    QVERIFY(!lab.editor().save());
    QCOMPARE(lab.contents(), again);
    QVERIFY(lab.window->findChild<QLabel*>(QStringLiteral("lblEditStatus"))->text().contains(QStringLiteral("was changed")));
}

void TestVersionEditor::theChartFollowsTheScenario()
{
    Lab lab;
    const tools::ScenarioChart& chart = lab.editor().chart();
    QCOMPARE(chart.flows().size(), 12);
    QCOMPARE(chart.flows().at(4), (tools::ScenarioFlow{4, 2, 1}));
    lab.scenario()->item(4, 1)->setText(QStringLiteral("6.25"));
    lab.scenario()->item(4, 2)->setText(QStringLiteral("oops")); // not drawn until it is a number
    QCOMPARE(chart.flows().size(), 11);
    lab.scenario()->item(4, 2)->setText(QStringLiteral("0.5"));
    QCOMPARE(chart.flows().at(4), (tools::ScenarioFlow{4, 6.25, 0.5}));
    lab.window->findChild<QPushButton*>(QStringLiteral("cmdAddPeriod"))->click();
    QCOMPARE(chart.flows().last(), (tools::ScenarioFlow{12, 2, 1}));

    // Another scenario typed in: its rows are shown, and who else plays it; a new number
    // keeps the rows, to become that scenario.
    const auto* note = lab.window->findChild<QLabel*>(QStringLiteral("lblScenario"));
    lab.field(QStringLiteral("ScenarioUsed"))->setText(QStringLiteral("8"));
    emit lab.field(QStringLiteral("ScenarioUsed"))->editingFinished();
    QCOMPARE(chart.flows().size(), 12);
    QVERIFY2(note->text().contains(QStringLiteral("also played by Beta")), qPrintable(note->text()));
    lab.scenario()->item(0, 1)->setText(QStringLiteral("9"));
    lab.field(QStringLiteral("ScenarioUsed"))->setText(QStringLiteral("99"));
    emit lab.field(QStringLiteral("ScenarioUsed"))->editingFinished();
    QCOMPARE(chart.flows().first(), (tools::ScenarioFlow{0, 9, 1}));
    QVERIFY2(note->text().contains(QStringLiteral("Scenario 99 has no rows yet")), qPrintable(note->text()));
}

void TestVersionEditor::aPilotPlaysInAThrowawayCopy()
{
    Lab lab;
    auto* pilot = lab.window->findChild<tools::PilotPanel*>();
    pilot->setProgram(qEnvironmentVariable("AQUILEVEL_TEST_BIN") + QStringLiteral("/aquilevel"));
    const QStringList before = lab.contents();
    const auto bytes = [&] {
        QFile f(lab.file.path());
        return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
    };
    const QByteArray fileBefore = bytes();
    // As edited: a time-driven version at its clock of 5 s would take a minute; the fast clock does not.
    lab.window->findChild<QCheckBox*>(QStringLiteral("chkIsTimeDriven"))->setChecked(true);
    lab.field(QStringLiteral("TimeBetweenEnvTries"))->setText(QStringLiteral("5000"));
    QSignalSpy finished(pilot, &tools::PilotPanel::finished);
    QVERIFY(pilot->start());
    QVERIFY(pilot->isRunning());
    QVERIFY(finished.wait(60000));
    QVERIFY2(finished.first().first().toBool(), qPrintable(pilot->result()));
    QVERIFY2(pilot->result().startsWith(QStringLiteral("Earned ")), qPrintable(pilot->result()));
    QVERIFY(!lab.window->findChild<QLabel*>(QStringLiteral("imgPilot"))->pixmap().isNull());
    QCOMPARE(lab.contents(), before);
    if (kServer.isEmpty())
        QCOMPARE(bytes(), fileBefore);
    QCOMPARE(QDir::temp().entryList({QStringLiteral("aquilevel-pilot-*")}), QStringList()); // the copy is gone

    // An edit with problems is not played.
    lab.field(QStringLiteral("MaxTrial"))->setText(QStringLiteral("x"));
    QVERIFY(!pilot->start());
    QVERIFY2(pilot->result().contains(QStringLiteral("has problems")), qPrintable(pilot->result()));
}

QTEST_MAIN(TestVersionEditor)
#include "tst_versioneditor.moc"
