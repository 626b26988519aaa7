// The manifest request against a local server: its address, no redirects, the "error" line and the
// release of each run's network manager.
#include <QTest>

#include "manifestserver.h"
#include "update/updatecheck.h"

namespace {

QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines.append(message);
    previousHandler(type, context, message);
}

const QString manifestPath = QStringLiteral("/versions/sanvero-connector-windows.json");

} // namespace

using Headers = QList<QPair<QByteArray, QByteArray>>;

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(recordMessage); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }
    void init() { debugLines.clear(); }

    void manifestWithoutUpdate_data();
    void manifestWithoutUpdate();
    void redirectIsNotFollowed();
    void unreachableServer();
};

void TestUpdateCheck::manifestWithoutUpdate_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("errorLine");

    QTest::addRow("same version") << 200 << QByteArray(R"({"version": 2, "mandatory": true})") << false;
    QTest::addRow("fractional version") << 200 << QByteArray(R"({"version": 2.5})") << false;
    QTest::addRow("not a manifest") << 200 << QByteArray("<html>maintenance</html>") << false;
    QTest::addRow("empty body") << 200 << QByteArray() << false;
    QTest::addRow("not found") << 404 << QByteArray("<html>Not Found</html>") << true;
    QTest::addRow("server error") << 500 << QByteArray(R"({"version": 2})") << true;
}

void TestUpdateCheck::manifestWithoutUpdate()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, errorLine);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(status, body);
    UpdateCheck check(server.url(), 2, nullptr);
    check.checkNetworkVersion();

    QTRY_COMPARE(server.requestedPaths, QStringList{manifestPath});
    // The server keeps the connection open; it only ends when the run's network manager is released.
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    QCOMPARE(server.connectionsOpened, 1);
    QCOMPARE(debugLines.contains(QStringLiteral("error")), errorLine);
    QCOMPARE(debugLines.count(), errorLine ? 1 : 0);
}

void TestUpdateCheck::redirectIsNotFollowed()
{
    ManifestServer server;
    QVERIFY(server.listen());
    const QUrl target = server.url().resolved(QUrl(QStringLiteral("/moved.json")));
    server.setResponse(301, QByteArray(), Headers{{"Location", target.toEncoded()}});
    UpdateCheck check(server.url(), 2, nullptr);
    check.checkNetworkVersion();

    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    // A followed redirect would have asked again before the manager was released.
    QCOMPARE(server.requestedPaths, QStringList{manifestPath});
}

void TestUpdateCheck::unreachableServer()
{
    ManifestServer server;
    QVERIFY(server.listen());
    const QUrl address = server.url();
    server.close();
    UpdateCheck check(address, 2, nullptr);
    check.checkNetworkVersion();

    QTRY_VERIFY(debugLines.contains(QStringLiteral("error")));
    QCOMPARE(server.connectionsOpened, 0);
}

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
