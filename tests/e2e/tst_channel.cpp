// The real connector over a real WebSocket: envelope errors, one page at a time, limits and origins.
#include <QFile>
#include <QJsonArray>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "connectorprocess.h"

namespace {
const QByteArray errorFrame2 = "{\n    \"error\": 2\n}\n";

// The status line the server answers to a WebSocket handshake from this origin (none when null).
QByteArray handshakeStatusLine(const QString &origin)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, 1024);
    if (!socket.waitForConnected(5000))
        return {};
    QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:1024\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
    if (!origin.isNull())
        request += "Origin: " + origin.toUtf8() + "\r\n";
    socket.write(request + "\r\n");
    if (!QTest::qWaitFor([&] { return socket.canReadLine() || socket.state() != QAbstractSocket::ConnectedState; },
                         5000))
        return {};
    return socket.readLine().trimmed();
}
} // namespace

class TestChannel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void invalidEnvelopeGetsErrorFrame_data();
    void invalidEnvelopeGetsErrorFrame();
    void acceptedCommandWithoutReplyAndServingGoesOn();
    void secondPageTakesOver();
    void noFrameIsQueuedForALaterPage();
    void binaryMessagesAreIgnored();
    void oversizedMessageClosesWith1009();
    void originAllowlist_data();
    void originAllowlist();
    void everyOriginWithoutAllowlist();
    void loopbackOnlyByDefault();
    void portTakenKeepsRunning();
    void startWaitsForAFreePort();

private:
    ConnectorProcess *connector = nullptr;
};

void TestChannel::init()
{
    connector = new ConnectorProcess;
}

void TestChannel::cleanup()
{
    delete connector;
    connector = nullptr;
}

void TestChannel::invalidEnvelopeGetsErrorFrame_data()
{
    QTest::addColumn<QString>("message");
    QTest::addRow("not JSON") << QStringLiteral("hello");
    QTest::addRow("array") << QStringLiteral("[1, 2]");
    QTest::addRow("bare string") << QStringLiteral("\"AUDIOMETRY\"");
    QTest::addRow("type absent") << QStringLiteral(
        "{\"appPath\": \"/x/\", \"args\": {\"command\": \"START_AUDIOMETRY\"}}");
    QTest::addRow("args absent") << QStringLiteral("{\"type\": \"AUDIOMETRY\", \"appPath\": \"/x/\"}");
    QTest::addRow("args empty") << QStringLiteral("{\"type\": \"AUDIOMETRY\", \"appPath\": \"/x/\", \"args\": {}}");
    QTest::addRow("args array") << QStringLiteral("{\"type\": \"POLYSOMNO\", \"appPath\": \"/x/\", \"args\": [1]}");
    QTest::addRow("appPath absent") << QStringLiteral("{\"type\": \"POLYSOMNO\", \"args\": {\"command\": \"x\"}}");
    QTest::addRow("unknown type") << QStringLiteral("{\"type\": \"ECG\", \"appPath\": \"/x/\", \"args\": {\"a\": 1}}");
    QTest::addRow("type lower case") << QStringLiteral(
        "{\"type\": \"polysomno\", \"appPath\": \"/x/\", \"args\": {\"a\": 1}}");
    QTest::addRow("type null") << QStringLiteral("{\"type\": null, \"appPath\": \"/x/\", \"args\": {\"a\": 1}}");
    QTest::addRow("network share") << QStringLiteral(
        "{\"type\": \"AUDIOMETRY\", \"appPath\": \"\\\\\\\\host\\\\share\\\\\", \"args\": {\"command\": "
        "\"INSTALL_HELIX\"}}");
    QTest::addRow("network share slashes") << QStringLiteral(
        "{\"type\": \"POLYSOMNO\", \"appPath\": \"//host/share/\", \"args\": {\"command\": \"START_POLYSOMNO\"}}");
    QTest::addRow("empty text") << QString();
}

void TestChannel::invalidEnvelopeGetsErrorFrame()
{
    QFETCH(QString, message);
    QVERIFY(connector->start());
    PageClient page;
    QVERIFY(page.open());
    page.send(message);
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frames.first().toUtf8(), errorFrame2);

    // The connector keeps serving: the same page gets an answer to the next message too.
    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(2));
    QCOMPARE(page.frames.at(1).toUtf8(), errorFrame2);
    QVERIFY(connector->isRunning());
    QVERIFY(connector->waitForLog(QStringLiteral("\"[]\"")));
}

void TestChannel::acceptedCommandWithoutReplyAndServingGoesOn()
{
    QVERIFY(connector->start());
    PageClient page;
    QVERIFY(page.open());
    // A command no bridge serves is accepted by the routing and answered by nobody.
    page.send(
        QStringLiteral("{\"type\": \"POLYSOMNO\", \"appPath\": \"/nowhere/\", \"args\": {\"command\": \"UNKNOWN\"}}"));
    page.send(QStringLiteral("{}"));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frames.first().toUtf8(), errorFrame2);
    QVERIFY(connector->waitForLog(QStringLiteral("Poly...")));
}

void TestChannel::secondPageTakesOver()
{
    QVERIFY(connector->start());
    PageClient first;
    QVERIFY(first.open());
    QVERIFY(connector->waitForLog(QStringLiteral("New connection...")));
    PageClient second;
    QVERIFY(second.open());

    QVERIFY(first.waitForDisconnected());
    QCOMPARE(first.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(first.socket.closeReason(), QString());
    QVERIFY(connector->waitForLog(QStringLiteral("socketDisconnected:")));
    QCOMPARE(connector->log().count(QStringLiteral("Close an old socket connection.")), 1);

    second.send(QStringLiteral("nonsense"));
    QVERIFY(second.waitForFrames(1));
    QCOMPARE(second.frames.first().toUtf8(), errorFrame2);
    QCOMPARE(first.frames.size(), 0);
}

void TestChannel::noFrameIsQueuedForALaterPage()
{
    QVERIFY(connector->start());
    {
        PageClient leaving;
        QVERIFY(leaving.open());
        leaving.send(QStringLiteral("nonsense"));
        leaving.socket.close();
        QVERIFY(leaving.waitForDisconnected());
    }
    QVERIFY(connector->waitForLog(QStringLiteral("socketDisconnected:")));
    PageClient later;
    QVERIFY(later.open());
    later.send(QStringLiteral("[]"));
    QVERIFY(later.waitForFrames(1));
    // Only the answer to its own message, nothing left over from the earlier page.
    QVERIFY(!later.waitForFrames(2, 500));
    QCOMPARE(later.frames.size(), 1);
}

void TestChannel::binaryMessagesAreIgnored()
{
    QVERIFY(connector->start());
    PageClient page;
    QVERIFY(page.open());
    page.socket.sendBinaryMessage(QByteArray("{\"type\": \"AUDIOMETRY\"}"));
    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(1));
    QVERIFY(!page.waitForFrames(2, 500));
    QCOMPARE(page.frames.size(), 1);
    QCOMPARE(page.frames.first().toUtf8(), errorFrame2);
}

void TestChannel::oversizedMessageClosesWith1009()
{
    QVERIFY(connector->start());
    PageClient page;
    QVERIFY(page.open());
    page.send(QString(2 * 1024 * 1024, QLatin1Char('x')));
    QVERIFY(page.waitForDisconnected(10000));
    QCOMPARE(page.socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
    QCOMPARE(page.frames.size(), 0);

    PageClient next;
    QVERIFY(next.open());
    next.send(QStringLiteral("[]"));
    QVERIFY(next.waitForFrames(1));
    QCOMPARE(next.frames.first().toUtf8(), errorFrame2);
}

void TestChannel::originAllowlist_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("allowed");
    QTest::addRow("listed origin") << QStringLiteral("https://care.example.org") << true;
    QTest::addRow("second listed origin") << QStringLiteral("http://localhost:3000") << true;
    QTest::addRow("missing") << QString() << false;
    QTest::addRow("null") << QStringLiteral("null") << false;
    QTest::addRow("prefix trick") << QStringLiteral("https://care.example.org.evil.test") << false;
    QTest::addRow("suffix trick") << QStringLiteral("https://evilcare.example.org") << false;
    QTest::addRow("subdomain") << QStringLiteral("https://x.care.example.org") << false;
    QTest::addRow("http instead of https") << QStringLiteral("http://care.example.org") << false;
    QTest::addRow("other port") << QStringLiteral("https://care.example.org:8443") << false;
    QTest::addRow("scheme in other case") << QStringLiteral("HTTPS://care.example.org") << false;
    QTest::addRow("trailing slash") << QStringLiteral("https://care.example.org/") << false;
    QTest::addRow("empty") << QStringLiteral("") << false;
    QTest::addRow("listed origin plus port") << QStringLiteral("http://localhost:30001") << false;
}

void TestChannel::originAllowlist()
{
    QFETCH(QString, origin);
    QFETCH(bool, allowed);
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("allowed_origins"), QJsonArray{QStringLiteral("https://care.example.org"),
                                                                       QStringLiteral("http://localhost:3000")});
    QVERIFY(connector->start(configuration));

    if (!allowed) {
        QCOMPARE(handshakeStatusLine(origin), QByteArray("HTTP/1.1 403 Access Forbidden"));
        PageClient page;
        QVERIFY(!page.open(QUrl(QStringLiteral("ws://127.0.0.1:1024")), origin));
        // Refused at the handshake: the connector never saw a page.
        QVERIFY(!connector->log().contains(QStringLiteral("New connection...")));
        return;
    }
    QCOMPARE(handshakeStatusLine(origin), QByteArray("HTTP/1.1 101 Switching Protocols"));
    PageClient page;
    QVERIFY(page.open(QUrl(QStringLiteral("ws://127.0.0.1:1024")), origin));
    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frames.first().toUtf8(), errorFrame2);
}

void TestChannel::everyOriginWithoutAllowlist()
{
    QVERIFY(connector->start());
    QVERIFY(connector->waitForLog(QStringLiteral("every origin")));
    PageClient page;
    QVERIFY(page.open(QUrl(QStringLiteral("ws://127.0.0.1:1024")), QStringLiteral("https://anything.example")));
    PageClient ipv6Page;
    if (QNetworkInterface::allAddresses().contains(QHostAddress(QHostAddress::LocalHostIPv6)))
        QVERIFY(ipv6Page.open(QUrl(QStringLiteral("ws://[::1]:1024"))));
}

void TestChannel::loopbackOnlyByDefault()
{
    QHostAddress external;
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            external = address;
    }
    if (external.isNull())
        QSKIP("This machine has no non-loopback IPv4 address");
    const QUrl url(QStringLiteral("ws://%1:1024").arg(external.toString()));

    QVERIFY(connector->start());
    PageClient refused;
    QVERIFY(!refused.open(url));
    QVERIFY(connector->stop() || !connector->isRunning());

    ConnectorProcess wide;
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("listen_address"), QStringLiteral("any"));
    QVERIFY(wide.start(configuration));
    PageClient accepted;
    QVERIFY(accepted.open(url));
}

void TestChannel::portTakenKeepsRunning()
{
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::LocalHost, 1024));
    QTcpServer blocker6;
    blocker6.listen(QHostAddress::LocalHostIPv6, 1024);
    // A taken port is logged with its reason and the connector keeps running.
    ConnectorProcess taken;
    QFile file(taken.configPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"sessionids\": \"x\"}");
    file.close();
    taken.startRaw({taken.configPath()});
    QVERIFY(taken.waitForLog(QStringLiteral("Cannot listen on")));
    QVERIFY(taken.log().contains(QStringLiteral("address is already in use"), Qt::CaseInsensitive));
    QVERIFY(taken.isRunning());
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

QTEST_GUILESS_MAIN(TestChannel)
#include "tst_channel.moc"
