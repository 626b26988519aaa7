// The manifest request against a local server: its address, the decision it reports, no redirects, the
// "error" line, a server that never answers, a proxy that wants credentials, the chosen TLS backend and the release
// of each run's network manager; and the prompt the operator declines, with the
// page served meanwhile. Going ahead ends the process, so tst_updateendtoend tests that road.
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "app/updateprompt.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "manifestserver.h"
#include "platform/tlsbackend.h"
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

/// Takes the addresses the desktop is asked to open, instead of a browser.
class RecordingDesktop : public QObject
{
    Q_OBJECT

public:
    RecordingDesktop() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~RecordingDesktop() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

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
    void serverThatNeverAnswers();
    void proxyAsksForCredentials();
    void tlsBackendChosen();
    void optionalUpdateDeclined_data();
    void optionalUpdateDeclined();
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

// A server (or a proxy) that takes the connection and never answers ends the check after its time, logged.
void TestUpdateCheck::serverThatNeverAnswers()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    UpdateCheck check(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort())), 2, nullptr);
    QSignalSpy reported(&check, &UpdateCheck::updateAvailable);
    check.setAnswerTimeout(1000);
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^Update check failed: .*no answer from 127.0.0.1 for 1 s$")));
    check.checkNetworkVersion();

    QTRY_VERIFY_WITH_TIMEOUT(debugLines.contains(QStringLiteral("error")), 10000);
    QVERIFY(silent.hasPendingConnections());
    QCOMPARE(reported.count(), 0);
}

// A proxy that wants credentials is named in the log: the connector has none to give.
void TestUpdateCheck::proxyAsksForCredentials()
{
    ManifestServer proxy;
    QVERIFY(proxy.listen());
    proxy.setResponse(407, QByteArray(), Headers{{"Proxy-Authenticate", R"(Basic realm="clinic")"}});
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(proxy.url().port())));
    UpdateCheck check(QUrl(QStringLiteral("http://download.example.org")), 2, nullptr);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "^Update check failed: .*the proxy asks for credentials \\(HTTP 407\\)")));
    check.checkNetworkVersion();

    QTRY_VERIFY_WITH_TIMEOUT(debugLines.contains(QStringLiteral("error")), 10000);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QCOMPARE(proxy.requestedPaths.value(0), QStringLiteral("http://download.example.org") + manifestPath);
}

// Chosen, not whichever TLS library Qt finds first: Schannel on Windows, whatever OpenSSL on the PATH.
void TestUpdateCheck::tlsBackendChosen()
{
    QVERIFY(chooseTlsBackend());
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(QSslSocket::activeBackend(), preferredTlsBackend());
#endif
    QVERIFY(QSslSocket::supportsSsl());
}

void TestUpdateCheck::optionalUpdateDeclined_data()
{
    QTest::addColumn<int>("key");
    QTest::addRow("answered No") << int(Qt::Key_N);
    QTest::addRow("closed without a choice") << int(Qt::Key_Escape);
}

void TestUpdateCheck::optionalUpdateDeclined()
{
    QFETCH(int, key);
    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, QByteArray(R"({"version": 3, "mandatory": "true"})"));
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    RecordingDesktop desktop;
    QWidget window;
    UpdateCheck check(server.url(), 2);
    QPointer<QMessageBox> box;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    // Connected before the prompt, as the window wires them, so the single shot runs inside the box's own event
    // loop: it reads the box and has the page send a message; the box is answered once the page got its answer.
    connect(&check, &UpdateCheck::updateAvailable, &window, [&] {
        QTimer::singleShot(0, &window, [&] {
            box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            page.send(QStringLiteral("{}"));
        });
    });
    connect(&page.socket, &QWebSocket::textMessageReceived, &window, [&] {
        if (box)
            QTest::keyClick(box, Qt::Key(key));
    });
    connect(&check, &UpdateCheck::updateAvailable, new UpdatePrompt(UpdateCheck::setupAddress(server.url()), &window),
            &UpdatePrompt::promptOperator);
    check.checkNetworkVersion();

    // Released once the box was answered: the check is over, asked once.
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    QCOMPARE(server.requestedPaths.size(), 1);
    QCOMPARE(title, UpdatePrompt::promptTitle());
    QCOMPARE(text, UpdatePrompt::promptText(UpdateDecision::Optional));
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    // The box is modal, yet the page was served while it was open, and still is.
    QCOMPARE(page.frames, QStringList{QStringLiteral("{\n    \"error\": 2\n}\n")});
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(desktop.opened, QList<QUrl>());
    page.send(QStringLiteral("{}"));
    QVERIFY(page.waitForFrames(2));
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
