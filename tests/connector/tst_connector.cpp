// The connector built as the window builds it, without a window: its server status and its update check.
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
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

QTEST_GUILESS_MAIN(TestConnector)
#include "tst_connector.moc"
