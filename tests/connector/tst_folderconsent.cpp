// Which application folders a page's commands may use, over the real channel in this process: listed folders,
// the "unknown_application_folders" rule, and commands held until the operator answers.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "connector/folderconsent.h"
#include "connectorprocess.h"
#include "gdtexample.h"
#include "inprocessconnector.h"
#include "protocol/applicationfolders.h"

namespace {

const QString ask = QStringLiteral("ask");

/// An audiometry folder whose Helix.exe passes the checks; the recording launcher starts nothing.
QString helixFolder(const QTemporaryDir &dir, const QString &name)
{
    const QString folder = dir.filePath(name);
    QDir().mkpath(folder);
    QFile exe(folder + QStringLiteral("/Helix.exe"));
    return exe.open(QIODevice::WriteOnly) ? folder : QString();
}

QJsonObject start(const QString &appPath, const QString &code = QStringLiteral("P-1"))
{
    QJsonObject patient = examplePatient();
    patient.insert(QStringLiteral("code"), code);
    return {{QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
            {QStringLiteral("appPath"), appPath},
            {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("START_AUDIOMETRY")},
                                                 {QStringLiteral("patient"), patient}}}};
}

InProcessConnector::Options configured(const QJsonObject &keys, const QString &decisionsFile = QString())
{
    InProcessConnector::Options options;
    options.configuration = keys;
    options.decisionsFile = decisionsFile;
    return options;
}

QString requestFile(const QString &folder)
{
    return folder + QStringLiteral("/XCHG/hedeprax.gdt");
}

/// The "code" of each frame's payload, "error n" for an error frame.
QStringList outcomes(const PageClient &page)
{
    QStringList list;
    for (int i = 0; i < page.frames.size(); ++i) {
        const QJsonObject frame = page.frame(i);
        list.append(frame.contains(QLatin1String("error"))
                        ? QStringLiteral("error %1").arg(frame.value(QLatin1String("error")).toInt())
                        : frame.value(QLatin1String("args")).toObject().value(QLatin1String("code")).toString());
    }
    return list;
}

} // namespace

class TestFolderConsent : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
    void heldUntilTheOperatorAnswers_data();
    void heldUntilTheOperatorAnswers();
    void heldCommandsGoWithTheirPage();
    void waitingIsBounded();
    void decisionsLastAcrossARestart();
};

void TestFolderConsent::verdicts_data()
{
    QTest::addColumn<QString>("listedAs"); // how the configuration lists the Helix folder; empty: not at all
    QTest::addColumn<QString>("unknown");  // "unknown_application_folders"
    QTest::addColumn<QString>("sentAs");   // the folder the page names, relative to the Helix folder
    QTest::addColumn<bool>("installed");   // Helix.exe is there
    QTest::addColumn<QString>("outcome");  // "served", "asked" or "error 2"
    const QString served = QStringLiteral("served"), asked = QStringLiteral("asked"),
                  refused = QStringLiteral("error 2");
    QTest::addRow("listed") << QStringLiteral("%1") << QStringLiteral("refuse") << QStringLiteral("%1/") << true
                            << served;
    QTest::addRow("listed in another spelling")
        << QStringLiteral("%1/./") << QStringLiteral("refuse") << QStringLiteral("%1//") << true << served;
    QTest::addRow("listed, under ask") << QStringLiteral("%1") << ask << QStringLiteral("%1") << true << served;
    QTest::addRow("a listed folder's sub-folder")
        << QStringLiteral("%1") << QStringLiteral("refuse") << QStringLiteral("%1/sub/") << true << refused;
    QTest::addRow("refused") << QString() << QStringLiteral("refuse") << QStringLiteral("%1/") << true << refused;
    // The folder is judged before anything else: a page learns nothing of what is installed there.
    QTest::addRow("refused before the existence check")
        << QString() << QStringLiteral("refuse") << QStringLiteral("%1/") << false << refused;
    QTest::addRow("allowed, as ever") << QString() << QStringLiteral("allow") << QStringLiteral("%1/") << true
                                      << served;
    QTest::addRow("asked") << QString() << ask << QStringLiteral("%1/") << true << asked;
    QTest::addRow("asked before the existence check") << QString() << ask << QStringLiteral("%1/") << false << asked;
}

void TestFolderConsent::verdicts()
{
    QFETCH(QString, listedAs);
    QFETCH(QString, unknown);
    QFETCH(QString, sentAs);
    QFETCH(bool, installed);
    QFETCH(QString, outcome);
    QTemporaryDir dir;
    const QString folder =
        installed ? helixFolder(dir, QStringLiteral("Helix")) : dir.filePath(QStringLiteral("Helix"));
    QVERIFY(!folder.isEmpty());
    QJsonObject keys{{QStringLiteral("unknown_application_folders"), unknown}};
    if (!listedAs.isEmpty())
        keys.insert(QStringLiteral("application_folders"), QJsonArray{listedAs.arg(folder)});
    InProcessConnector connector(configured(keys));
    QSignalSpy askedFor(&connector.connector, &Connector::folderDecisionNeeded);
    PageClient page;
    QVERIFY(page.open(connector.url()));
    page.sendJson(start(sentAs.arg(folder)));
    page.send(QStringLiteral("[]")); // answered with 2 by the routing: every answer before it has arrived
    QVERIFY(page.waitForFrames(1));

    if (outcome == QLatin1String("served")) {
        QVERIFY(page.waitForFrames(2));
        QCOMPARE(page.codes(), (QList<int>{1008, 2}));
        QVERIFY(QFile::exists(requestFile(folder)));
        QCOMPARE(connector.launcher.starts.size(), 1);
        return;
    }
    QCOMPARE(page.codes(), outcome == QLatin1String("asked") ? QList<int>{2} : (QList<int>{2, 2}));
    if (outcome == QLatin1String("error 2"))
        QVERIFY(page.waitForFrames(2));
    QCOMPARE(askedFor.count(), outcome == QLatin1String("asked") ? 1 : 0);
    QVERIFY(!QFile::exists(requestFile(folder)) && !QDir(folder + QStringLiteral("/XCHG")).exists());
    QCOMPARE(connector.launcher.starts.size(), 0);
}

void TestFolderConsent::heldUntilTheOperatorAnswers_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<bool>("lasting");
    QTest::addRow("Allow") << true << true;
    QTest::addRow("Block") << false << true;
    QTest::addRow("closed: blocked for this run") << false << false;
}

void TestFolderConsent::heldUntilTheOperatorAnswers()
{
    QFETCH(bool, allow);
    QFETCH(bool, lasting);
    QTemporaryDir dir;
    const QString asked = helixFolder(dir, QStringLiteral("Downloads"));
    const QString listed = helixFolder(dir, QStringLiteral("Helix"));
    const QString decisions = dir.filePath(QStringLiteral("decisions.json"));
    InProcessConnector connector(
        configured({{QStringLiteral("unknown_application_folders"), ask},
                    {QStringLiteral("application_folders"), QJsonArray{listed}},
                    {QStringLiteral("allowed_origins"), QJsonArray{QStringLiteral("https://care.example.org")}}},
                   decisions));
    QSignalSpy askedFor(&connector.connector, &Connector::folderDecisionNeeded);
    PageClient page;
    QVERIFY(page.open(connector.url(), QStringLiteral("https://care.example.org")));

    // Two commands for the undecided folder wait; one for a listed folder goes on at once.
    page.sendJson(start(asked + QLatin1Char('/'), QStringLiteral("A")));
    page.sendJson(start(asked, QStringLiteral("B")));
    page.sendJson(start(listed + QLatin1Char('/'), QStringLiteral("L")));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(outcomes(page), QStringList{QStringLiteral("L")});
    QCOMPARE(askedFor.count(), 1);
    const QString normalised = ApplicationFolders::normalised(asked);
    QCOMPARE(askedFor.first(), (QVariantList{QStringLiteral("https://care.example.org"), normalised}));
    // Nothing written, nothing started for them before the answer.
    QVERIFY(!QDir(asked + QStringLiteral("/XCHG")).exists());
    QCOMPARE(connector.launcher.starts.size(), 1);

    connector.connector.decideFolder(normalised, allow, lasting);
    QVERIFY(page.waitForFrames(3));
    if (allow) {
        // Carried out in the order sent: B's request replaced A's.
        QCOMPARE(outcomes(page), (QStringList{QStringLiteral("L"), QStringLiteral("A"), QStringLiteral("B")}));
        QVERIFY(QFile(requestFile(asked)).open(QIODevice::ReadOnly));
        QCOMPARE(connector.launcher.starts.size(), 3);
    } else {
        QCOMPARE(outcomes(page),
                 (QStringList{QStringLiteral("L"), QStringLiteral("error 2"), QStringLiteral("error 2")}));
        QVERIFY(!QDir(asked + QStringLiteral("/XCHG")).exists());
        QCOMPARE(connector.launcher.starts.size(), 1);
    }
    // The answer holds for the next command, without a question.
    page.sendJson(start(asked, QStringLiteral("C")));
    QVERIFY(page.waitForFrames(4));
    QCOMPARE(outcomes(page).last(), allow ? QStringLiteral("C") : QStringLiteral("error 2"));
    QCOMPARE(askedFor.count(), 1);
    QFile file(decisions);
    const QByteArray kept = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QCOMPARE(kept.contains(normalised.toUtf8()), lasting);
}

void TestFolderConsent::heldCommandsGoWithTheirPage()
{
    QTemporaryDir dir;
    const QString folder = helixFolder(dir, QStringLiteral("Helix"));
    InProcessConnector connector(configured({{QStringLiteral("unknown_application_folders"), ask}}));
    QSignalSpy withdrawn(&connector.connector, &Connector::folderQuestionWithdrawn);
    PageClient first;
    QVERIFY(first.open(connector.url()));
    first.sendJson(start(folder));
    QTRY_COMPARE(connector.connector.folders()->openQuestions(), 1);

    // A page that takes over gets no answer to the first page's commands: they go, and so does the question.
    PageClient second;
    QVERIFY(second.open(connector.url()));
    QVERIFY(first.waitForDisconnected());
    QTRY_COMPARE(withdrawn.count(), 1);
    QCOMPARE(withdrawn.first().first().toString(), ApplicationFolders::normalised(folder));
    connector.connector.decideFolder(ApplicationFolders::normalised(folder), true);
    second.send(QStringLiteral("[]"));
    QVERIFY(second.waitForFrames(1));
    QCOMPARE(second.codes(), QList<int>{2});
    QVERIFY(!QDir(folder + QStringLiteral("/XCHG")).exists());

    // The same when the page just goes, and for a command that waited too long for the operator.
    second.sendJson(start(folder + QStringLiteral("/other/")));
    QTRY_COMPARE(connector.connector.folders()->openQuestions(), 1);
    second.socket.close();
    QTRY_COMPARE(withdrawn.count(), 2);
    PageClient third;
    QVERIFY(third.open(connector.url()));
    third.sendJson(start(folder + QStringLiteral("/third/")));
    QTRY_COMPARE(connector.connector.folders()->openQuestions(), 1);
    connector.clock.offsetMs += (FolderConsent::heldCommandLifetimeSeconds + 1) * 1000;
    connector.connector.decideFolder(ApplicationFolders::normalised(folder + QStringLiteral("/third")), true);
    QVERIFY(third.waitForFrames(1));
    QCOMPARE(third.codes(), QList<int>{2});
    QCOMPARE(connector.launcher.starts.size(), 0);
}

void TestFolderConsent::waitingIsBounded()
{
    QTemporaryDir dir;
    const QString folder = helixFolder(dir, QStringLiteral("Helix"));
    InProcessConnector connector(
        configured({{QStringLiteral("unknown_application_folders"), ask}, {QStringLiteral("unknown_origins"), ask}}));
    PageClient page;
    QVERIFY(page.open(connector.url()));
    // Commands: sixteen wait, the next is refused at once.
    for (int i = 0; i < FolderConsent::maxHeldCommands + 1; ++i)
        page.sendJson(start(folder));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.codes(), QList<int>{2});
    connector.connector.decideFolder(ApplicationFolders::normalised(folder), false);
    QVERIFY(page.waitForFrames(1 + FolderConsent::maxHeldCommands));

    // Questions: nine at once, folders and origins together; beyond, a folder gets 2 and an origin HTTP 403.
    PageClient held;
    QVERIFY(held.open(connector.url(), QStringLiteral("https://unknown.example")));
    QTRY_COMPARE(connector.channel.openQuestions(), 1);
    const int before = page.frames.size();
    for (int i = 0; i < FolderConsent::maxOpenQuestions; ++i)
        page.sendJson(start(dir.filePath(QStringLiteral("folder%1/").arg(i))));
    QVERIFY(page.waitForFrames(before + 1));
    QCOMPARE(page.codes().mid(before), QList<int>{2});
    QCOMPARE(connector.connector.folders()->openQuestions(), FolderConsent::maxOpenQuestions - 1);
    PageClient refused;
    QVERIFY(!refused.open(connector.url(), QStringLiteral("https://another.example")));
    QVERIFY2(refused.socket.errorString().contains(QLatin1String("403")), qPrintable(refused.socket.errorString()));
}

void TestFolderConsent::decisionsLastAcrossARestart()
{
    QTemporaryDir dir;
    const QString allowed = helixFolder(dir, QStringLiteral("Allowed"));
    const QString blocked = helixFolder(dir, QStringLiteral("Blocked"));
    const QString undecided = helixFolder(dir, QStringLiteral("Undecided"));
    const InProcessConnector::Options options =
        configured({{QStringLiteral("unknown_application_folders"), ask}}, dir.filePath(QStringLiteral("d.json")));
    {
        InProcessConnector earlier(options);
        earlier.connector.decideFolder(ApplicationFolders::normalised(allowed), true);
        earlier.connector.decideFolder(ApplicationFolders::normalised(blocked), false);
    }
    InProcessConnector connector(options);
    QSignalSpy askedFor(&connector.connector, &Connector::folderDecisionNeeded);
    PageClient page;
    QVERIFY(page.open(connector.url()));
    for (const QString &folder : {allowed, blocked, undecided})
        page.sendJson(start(folder));
    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(3));
    QCOMPARE(page.codes(), (QList<int>{1008, 2, 2}));
    QCOMPARE(askedFor.count(), 1);
    QCOMPARE(askedFor.first().at(1).toString(), ApplicationFolders::normalised(undecided));
}

QTEST_GUILESS_MAIN(TestFolderConsent)
#include "tst_folderconsent.moc"
