// The connector built as the window builds it, without a window: its server status, its update check and the
// application folders it refuses before any bridge sees them.
#include <QDir>
#include <QHostAddress>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "connector/connector.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "manifestserver.h"
#include "update/updatecheck.h"

Q_DECLARE_METATYPE(UpdateDecision)

class TestConnector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<UpdateDecision>(); }
    void serverStatus();
    void updateCheck_data();
    void updateCheck();
    void folderOnANetworkDrive_data();
    void folderOnANetworkDrive();
};

void TestConnector::serverStatus()
{
    const ConfigurationResult loopback = parseConfiguration(R"({"sessionids": "", "listen_address": "127.0.0.1"})");
    QCOMPARE(loopback.outcome, ConfigurationOutcome::Accepted);
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::LocalHost));

    Connector taken(loopback.configuration, Workstation(), QString());
    QSignalSpy takenStatus(&taken, &Connector::serverStatus);
    QVERIFY(!taken.start(blocker.serverPort()));
    QCOMPARE(takenStatus.count(), 1);
    QCOMPARE(takenStatus.first().first().toBool(), false);

    Connector free(loopback.configuration, Workstation(), QString());
    QSignalSpy freeStatus(&free, &Connector::serverStatus);
    QVERIFY(free.start(0));
    QCOMPARE(freeStatus.count(), 1);
    QCOMPARE(freeStatus.first().first().toBool(), true);
}

void TestConnector::updateCheck_data()
{
    QTest::addColumn<QJsonValue>("checkUpdates"); // the key's value; undefined: the key is absent
    QTest::addRow("switched on") << QJsonValue(true);
    QTest::addRow("switched off") << QJsonValue(false);
    QTest::addRow("off unless configured") << QJsonValue(QJsonValue::Undefined);
}

void TestConnector::updateCheck()
{
    QFETCH(QJsonValue, checkUpdates);
    const bool on = checkUpdates.toBool(false);
    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, QByteArray(R"({"version": 99, "mandatory": true})"));
    InProcessConnector::Options options;
    options.configuration.insert(QStringLiteral("download_server"), server.url().toString());
    if (!checkUpdates.isUndefined())
        options.configuration.insert(QStringLiteral("check_updates"), checkUpdates);
    InProcessConnector connector(options);
    QSignalSpy available(&connector.connector, &Connector::updateAvailable);

    QCOMPARE(connector.connector.findChildren<UpdateCheck *>().size(), on ? 1 : 0);
    if (on) {
        // Once the event loop turns, the manifest is asked for once and its decision reported.
        QTRY_COMPARE(available.count(), 1);
        QCOMPARE(available.first().first().value<UpdateDecision>(), UpdateDecision::Mandatory);
        QCOMPARE(server.requestedPaths, QStringList{UpdateCheck::manifestAddress(server.url()).path()});
    }
    // Served meanwhile, and after.
    PageClient page;
    QVERIFY(page.open(connector.url()));
    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(server.connectionsOpened, on ? 1 : 0);
}

void TestConnector::folderOnANetworkDrive_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("listed"); // in "application_folders"
    QTest::addColumn<int>("answer");
    QTest::addRow("an exam") << QStringLiteral("AUDIOMETRY") << QStringLiteral("START_AUDIOMETRY") << false << 2;
    QTest::addRow("an installation") << QStringLiteral("AUDIOMETRY") << QStringLiteral("INSTALL_HELIX") << false << 2;
    QTest::addRow("a registration") << QStringLiteral("POLYSOMNO") << QStringLiteral("START_POLYSOMNO") << false << 2;
    QTest::addRow("an exam, folder listed")
        << QStringLiteral("AUDIOMETRY") << QStringLiteral("START_AUDIOMETRY") << true << int(HELIX_NOT_INSTALLED);
}

// A drive letter mapped to a share is as remote as the share: refused with 2, nothing written or started there,
// whatever the policy for unlisted folders ("allow" in these tests), unless the configuration lists the folder.
void TestConnector::folderOnANetworkDrive()
{
    QFETCH(QString, type);
    QFETCH(QString, command);
    QFETCH(bool, listed);
    QFETCH(int, answer);
    QTemporaryDir mapped;
    const QString folder = mapped.path() + QStringLiteral("/Helix/");
    InProcessConnector::Options options;
    options.isRemoteDrive = [&](const QString &path) { return path.startsWith(mapped.path()); };
    if (listed)
        options.configuration.insert(QStringLiteral("application_folders"), QJsonArray{folder});
    InProcessConnector connector(options);
    PageClient page;
    QVERIFY(page.open(connector.url()));
    page.sendJson(QJsonObject{{QStringLiteral("type"), type},
                              {QStringLiteral("appPath"), folder},
                              {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), command}}}});
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.codes().first(), answer);
    QCOMPARE(QDir(mapped.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(QDir(connector.desktopFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(connector.launcher.starts.size(), 0);
}

QTEST_GUILESS_MAIN(TestConnector)
#include "tst_connector.moc"
