// The manifest request against a local server: its address, the decision it reports, no redirects, the
// "error" line and the release of each run's network manager.
#include <QSignalSpy>
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

Q_DECLARE_METATYPE(UpdateDecision)
using Headers = QList<QPair<QByteArray, QByteArray>>;

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(recordMessage); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }
    void init() { debugLines.clear(); }

    void manifest_data();
    void manifest();
    void redirectIsNotFollowed();
    void unreachableServer();
};

void TestUpdateCheck::manifest_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<UpdateDecision>("decision"); // reported by updateAvailable unless NoUpdate
    QTest::addColumn<bool>("errorLine");

    const auto none = UpdateDecision::NoUpdate;
    QTest::addRow("same version") << 200 << QByteArray(R"({"version": 2, "mandatory": true})") << none << false;
    QTest::addRow("fractional version") << 200 << QByteArray(R"({"version": 2.5})") << none << false;
    QTest::addRow("version as text") << 200 << QByteArray(R"({"version": "3", "mandatory": true})") << none << false;
    QTest::addRow("not a manifest") << 200 << QByteArray("<html>maintenance</html>") << none << false;
    QTest::addRow("empty body") << 200 << QByteArray() << none << false;
    QTest::addRow("not found") << 404 << QByteArray("<html>Not Found</html>") << none << true;
    QTest::addRow("server error") << 500 << QByteArray(R"({"version": 2})") << none << true;
    QTest::addRow("optional") << 200 << QByteArray(R"({"version": 3, "mandatory": "true"})") << UpdateDecision::Optional
                              << false;
    QTest::addRow("mandatory") << 200 << QByteArray("{\n  \"version\": 3,\n  \"mandatory\": true\n}\n")
                               << UpdateDecision::Mandatory << false;
}

void TestUpdateCheck::manifest()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(UpdateDecision, decision);
    QFETCH(bool, errorLine);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(status, body);
    UpdateCheck check(server.url(), 2, nullptr);
    QSignalSpy reported(&check, &UpdateCheck::updateAvailable);
    check.checkNetworkVersion();

    QTRY_COMPARE(server.requestedPaths, QStringList{manifestPath});
    // The server keeps the connection open; it only ends when the run's network manager is released.
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    QCOMPARE(server.connectionsOpened, 1);
    QCOMPARE(reported.count(), decision == UpdateDecision::NoUpdate ? 0 : 1);
    if (!reported.isEmpty())
        QCOMPARE(reported.first().first().value<UpdateDecision>(), decision);
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
