// The real connector on its fixed port 1024: what only the program shows of its channel. The channel's own
// rules are tested in process (tests/channel).
#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "app/mainwindow.h"
#include "connectorprocess.h"
#include "manifestserver.h"

namespace {

const QString errorFrame2 = QStringLiteral("{\n    \"error\": 2\n}\n");
const QUrl fixedPort(QStringLiteral("ws://127.0.0.1:1024"));

QJsonObject configurationWith(const QString &key, const QJsonValue &value)
{
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(key, value);
    return configuration;
}

QString serverStatus(const MainWindow &window)
{
    const auto *label = window.findChild<QLabel *>(QStringLiteral("lSocketStatus"));
    return label ? label->text() : QString();
}

} // namespace

class TestChannel : public QObject
{
    Q_OBJECT

private slots:
    void originListAndTakeover();
    void loopbackOnlyByDefault();
    void portTakenKeepsRunning();
    void startWaitsForAFreePort();
};

void TestChannel::originListAndTakeover()
{
    const QString listed = QStringLiteral("https://care.example.org");
    ConnectorProcess connector;
    QVERIFY(connector.start(configurationWith(QStringLiteral("allowed_origins"), QJsonArray{listed})));
    PageClient first;
    QVERIFY(first.open(fixedPort, listed));
    // Another origin is refused at the handshake.
    PageClient other;
    QVERIFY(!other.open(fixedPort, QStringLiteral("https://other.example.org")));
    QVERIFY2(other.socket.errorString().contains(QLatin1String("status code: 403")),
             qPrintable(other.socket.errorString()));

    PageClient second;
    QVERIFY(second.open(fixedPort, listed));
    QVERIFY(first.waitForDisconnected());
    QCOMPARE(first.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    second.send(QStringLiteral("nonsense"));
    QVERIFY(second.waitForFrames(1));
    QCOMPARE(second.frames, QStringList{errorFrame2});
    QCOMPARE(first.frames, QStringList());
}

void TestChannel::loopbackOnlyByDefault()
{
    const QHostAddress external(QStringLiteral("192.0.2.1"));
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    if (!addresses.contains(external))
        QSKIP("Needs the test network's address 192.0.2.1: run under scripts/in-test-network.sh");
    const QUrl externalUrl(QStringLiteral("ws://192.0.2.1:1024"));

    ConnectorProcess loopback;
    QVERIFY(loopback.start());
    PageClient refused;
    QVERIFY(!refused.open(externalUrl));
    if (addresses.contains(QHostAddress(QHostAddress::LocalHostIPv6))) {
        PageClient ipv6Page;
        QVERIFY(ipv6Page.open(QUrl(QStringLiteral("ws://[::1]:1024"))));
    }
    QVERIFY(loopback.stop());

    ConnectorProcess wide;
    QVERIFY(wide.start(configurationWith(QStringLiteral("listen_address"), QStringLiteral("any"))));
    PageClient accepted;
    QVERIFY(accepted.open(externalUrl));
}

void TestChannel::portTakenKeepsRunning()
{
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::LocalHost, 1024));
    QTcpServer blocker6;
    blocker6.listen(QHostAddress::LocalHostIPv6, 1024); // where there is IPv6

    // The update check starts once the event loop runs: its request shows the connector got past the
    // failed listen instead of ending.
    ManifestServer manifests;
    QVERIFY(manifests.listen());
    manifests.setResponse(404, QByteArray());
    QJsonObject configuration = configurationWith(QStringLiteral("check_updates"), true);
    configuration.insert(QStringLiteral("download_server"), manifests.url().toString());
    ConnectorProcess connector;
    QVERIFY(connector.writeConfiguration(configuration));
    connector.startRaw({connector.configPath()});
    QVERIFY(connector.waitForLog(QStringLiteral("Cannot listen on")));
    QVERIFY(connector.log().contains(QStringLiteral("address is already in use"), Qt::CaseInsensitive));
    QTRY_COMPARE(manifests.requestedPaths.size(), 1);
    QVERIFY(connector.isRunning());

    // The window tells the operator in red; this process's window reads the configuration in main below.
    const MainWindow taken;
    QCOMPARE(serverStatus(taken), QStringLiteral("<span style='color: red;'>Escucha del puerto <b>1024</b> por parte "
                                                 "del servidor imposible</span>"));
    blocker.close();
    blocker6.close();
    connector.stop();
    const MainWindow free;
    const QString green =
        QStringLiteral("<span style='color: green;'>Servidor listo y escuchando el puerto <b>1024</b></span>");
    QCOMPARE(serverStatus(free), green);
    // A page refused at the handshake concerns that page only: the server goes on, the status stays green.
    PageClient refused;
    QVERIFY(!refused.open(fixedPort, QStringLiteral("https://other.example.org")));
    PageClient served;
    QVERIFY(served.open(fixedPort, QStringLiteral("https://care.example.org")));
    QCOMPARE(serverStatus(free), green);
}

void TestChannel::startWaitsForAFreePort()
{
    // A listener left behind by an ended connector (its detached program, not yet running) must not pass
    // for the next connector.
    QTcpServer leftover;
    QVERIFY(leftover.listen(QHostAddress::LocalHost, 1024));
    QVERIFY(!ConnectorProcess::waitForPortFree(300));
    leftover.close();
    QVERIFY(ConnectorProcess::waitForPortFree(300));
}

// The window reads its configuration from the application's arguments, so the application gets a
// configuration file of its own, while QtTest gets the command line.
int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    QFile configuration(dir.filePath(QStringLiteral("connector.json")));
    if (!configuration.open(QIODevice::WriteOnly) ||
        configuration.write(R"({"sessionids": "test", "allowed_origins": ["https://care.example.org"]})") <= 0)
        return 1;
    configuration.close();
    QByteArray path = configuration.fileName().toLocal8Bit();
    int applicationArgc = 2;
    char *applicationArgv[] = {argv[0], path.data(), nullptr};
    QApplication application(applicationArgc, applicationArgv);
    TestChannel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_channel.moc"
