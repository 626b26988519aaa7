// The operator channel with the router behind it, in the test process: one page at a time, limits, origins.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include "channel/pageconnection.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"

namespace {

const QString errorFrame2 = QStringLiteral("{\n    \"error\": 2\n}\n");

QStringList debugLines;
QStringList logLines; // the log category's warnings

// An absolute local folder on this system where nothing is installed.
QString nowhere()
{
    return QDir::rootPath() + QStringLiteral("nowhere/");
}
QtMessageHandler previousHandler = nullptr;

// The connector's debug lines are collected, not printed: a burst would flood the output.
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines.append(message);
    else if (type == QtWarningMsg && qstrcmp(context.category, "sanvero.log") == 0)
        logLines.append(message);
    else
        previousHandler(type, context, message);
}

/// Runs until the channel has read everything the page sent so far: it answers a ping after what came before.
bool readByChannel(PageClient &page)
{
    QSignalSpy pong(&page.socket, &QWebSocket::pong);
    page.socket.ping();
    return pong.wait(5000);
}

/// Counts the page connections released with deleteLater, as the channel releases each page's once it is gone.
class ReleasedSockets : public QObject
{
public:
    ReleasedSockets() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::DeferredDelete && qobject_cast<PageConnection *>(watched))
            ++count;
        return false;
    }
    int count = 0;
};

} // namespace

class TestOperatorChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(recordMessage); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }
    void init()
    {
        debugLines.clear();
        logLines.clear();
    }

    void answerAndServingGoesOn_data();
    void answerAndServingGoesOn();
    void nothingIsQueuedForALaterPage();
    void messageOver1MiBClosesWith1009();
    void originList_data();
    void originList();
    void operatorDecides_data();
    void operatorDecides();
    void earlierConnectionsOfAnAllowedOriginAreClosed();
    void damagedDecisionsAreSetAside();
    void questionsAreBounded();
    void heldPagesAreBounded_data();
    void heldPagesAreBounded();
    void staleHeldCommandsAreNotCarriedOut();
    void refusedHandshakesAreLoggedOncePerMinute();
    void burstOfFailingMessages();
    void pagesInTurnThenTakeover();
    void systemDebugLines();
};

void TestOperatorChannel::answerAndServingGoesOn_data()
{
    // The envelope rules have their own table (tst_envelope); the first row only shows the wiring.
    QTest::addColumn<QVariant>("message"); // text, or a QByteArray sent as a binary message
    QTest::addColumn<QStringList>("answer");
    QTest::addRow("not JSON") << QVariant(QStringLiteral("hello")) << QStringList{errorFrame2};
    // A command no bridge serves is accepted by the routing and answered by nobody.
    QTest::addRow("accepted command without reply")
        << QVariant(QStringLiteral(R"({"type": "POLYSOMNO", "appPath": "%1", "args": {"command": "UNKNOWN"}})")
                        .arg(nowhere()))
        << QStringList();
    QTest::addRow("text of 1 MiB, the most a message may carry")
        << QVariant(QString(1024 * 1024, QLatin1Char('x'))) << QStringList{errorFrame2};
    QTest::addRow("binary message") << QVariant(QByteArray(R"({"type": "AUDIOMETRY"})")) << QStringList();
}

void TestOperatorChannel::answerAndServingGoesOn()
{
    QFETCH(QVariant, message);
    QFETCH(QStringList, answer);
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    if (message.userType() == QMetaType::QByteArray)
        page.socket.sendBinaryMessage(message.toByteArray());
    else
        page.send(message.toString());
    page.send(QStringLiteral("[]"));
    // An answer to the first message comes before the answer to the second.
    QVERIFY(page.waitForFrames(answer.size() + 1));
    QCOMPARE(page.frames, answer << errorFrame2);
}

void TestOperatorChannel::nothingIsQueuedForALaterPage()
{
    InProcessConnector connector;
    connector.channel.sendErrorMessage(HELIX_NOT_INSTALLED); // before any page
    {
        PageClient leaving;
        QVERIFY(leaving.open(connector.url()));
        leaving.socket.close();
        QTRY_VERIFY(!connector.channel.hasPage());
    }
    connector.channel.sendMessage(HELIX_RESULTS, QJsonObject{{QStringLiteral("results"), QStringLiteral("x")}});

    PageClient later;
    QVERIFY(later.open(connector.url()));
    later.send(QStringLiteral("[]"));
    QVERIFY(later.waitForFrames(1));
    // A frame kept for this page would have come before the answer to its own message.
    QCOMPARE(later.frames, QStringList{errorFrame2});
}

void TestOperatorChannel::messageOver1MiBClosesWith1009()
{
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    page.send(QString(1024 * 1024 + 1, QLatin1Char('x')));
    QVERIFY(page.waitForDisconnected());
    QCOMPARE(page.socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
    QCOMPARE(page.frames, QStringList());

    // The channel goes on serving whoever connects next.
    PageClient next;
    QVERIFY(next.open(connector.url()));
    next.send(QStringLiteral("[]"));
    QVERIFY(next.waitForFrames(1));
}

void TestOperatorChannel::originList_data()
{
    QTest::addColumn<QString>("policy"); // "list" (https://care.example.org, http://localhost:3000, refuse), "ask",
                                         // "allow", "list+null"
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("outcome"); // "served", "refused" (403) or "held" (until the operator decides)
    const QString list = QStringLiteral("list"), served = QStringLiteral("served"), refused = QStringLiteral("refused"),
                  held = QStringLiteral("held");
    QTest::addRow("listed origin") << list << QStringLiteral("https://care.example.org") << served;
    QTest::addRow("second listed origin") << list << QStringLiteral("http://localhost:3000") << served;
    QTest::addRow("list: no origin") << list << QString() << refused;
    QTest::addRow("list: null") << list << QStringLiteral("null") << refused;
    QTest::addRow("prefix trick") << list << QStringLiteral("https://care.example.org.evil.test") << refused;
    QTest::addRow("suffix trick") << list << QStringLiteral("https://evilcare.example.org") << refused;
    QTest::addRow("subdomain") << list << QStringLiteral("https://x.care.example.org") << refused;
    QTest::addRow("http instead of https") << list << QStringLiteral("http://care.example.org") << refused;
    QTest::addRow("other port") << list << QStringLiteral("https://care.example.org:8443") << refused;
    QTest::addRow("scheme in other case") << list << QStringLiteral("HTTPS://care.example.org") << refused;
    QTest::addRow("trailing slash") << list << QStringLiteral("https://care.example.org/") << refused;
    QTest::addRow("listed origin plus port digit") << list << QStringLiteral("http://localhost:30001") << refused;
    QTest::addRow("null when listed") << QStringLiteral("list+null") << QStringLiteral("null") << served;
    QTest::addRow("ask: no origin, a local program") << QStringLiteral("ask") << QString() << served;
    QTest::addRow("ask: null is never asked about") << QStringLiteral("ask") << QStringLiteral("null") << refused;
    QTest::addRow("ask: unknown origin") << QStringLiteral("ask") << QStringLiteral("https://anything.example") << held;
    QTest::addRow("allow: any origin") << QStringLiteral("allow") << QStringLiteral("https://anything.example")
                                       << served;
}

void TestOperatorChannel::originList()
{
    QFETCH(QString, policy);
    QFETCH(QString, origin);
    QFETCH(QString, outcome);
    InProcessConnector::Options options;
    QJsonArray listed{QStringLiteral("https://care.example.org"), QStringLiteral("http://localhost:3000")};
    if (policy == QLatin1String("list+null"))
        listed.append(QStringLiteral("null"));
    if (policy.startsWith(QLatin1String("list")))
        options.configuration.insert(QStringLiteral("allowed_origins"), listed);
    if (policy == QLatin1String("allow"))
        options.configuration.insert(QStringLiteral("unknown_origins"), QStringLiteral("allow"));
    InProcessConnector connector(options);
    QSignalSpy pages(&connector.channel, &OperatorChannel::pageConnected);
    QSignalSpy questions(&connector.channel, &OperatorChannel::originDecisionNeeded);

    PageClient page;
    QCOMPARE(page.open(connector.url(), origin), outcome != QLatin1String("refused"));
    if (outcome == QLatin1String("refused")) {
        // Refused at the handshake with HTTP 403, so the channel never sees a page.
        QVERIFY2(page.socket.errorString().contains(QLatin1String("status code: 403")),
                 qPrintable(page.socket.errorString()));
    }
    page.send(QStringLiteral("[]"));
    if (outcome == QLatin1String("served"))
        QVERIFY(page.waitForFrames(1));
    QCOMPARE(questions.count(), outcome == QLatin1String("held") ? 1 : 0);
    QCOMPARE(pages.count(), outcome == QLatin1String("served") ? 1 : 0);
    QCOMPARE(page.frames.size(), outcome == QLatin1String("served") ? 1 : 0);
}

// A page from an unknown origin waits for the operator: unserved, unable to push the clinic's page off.
void TestOperatorChannel::operatorDecides_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addRow("allowed") << true;
    QTest::addRow("blocked") << false;
}

void TestOperatorChannel::operatorDecides()
{
    QFETCH(bool, allow);
    const QString unknown = QStringLiteral("https://unknown.example");
    QTemporaryDir dir;
    InProcessConnector::Options options;
    options.decisionsFile = dir.filePath(QStringLiteral("origin-decisions.json"));
    auto connector = std::make_unique<InProcessConnector>(options);
    QSignalSpy questions(&connector->channel, &OperatorChannel::originDecisionNeeded);
    QSignalSpy carriedOut(&connector->channel, &OperatorChannel::textMessageReceived);
    PageClient clinic;
    QVERIFY(clinic.open(connector->url()));

    // It reconnects while the operator thinks: still one question.
    auto first = std::make_unique<PageClient>();
    QVERIFY(first->open(connector->url(), unknown));
    PageClient waiting;
    QVERIFY(waiting.open(connector->url(), unknown));
    first.reset();
    waiting.send(QStringLiteral("[1]"));
    waiting.send(QStringLiteral("[2]"));
    // The clinic's page is served meanwhile; its answer also shows the held messages were not.
    clinic.send(QStringLiteral("[]"));
    QVERIFY(clinic.waitForFrames(1));
    QCOMPARE(clinic.frames, QStringList{errorFrame2});
    QVERIFY(waiting.frames.isEmpty());
    QCOMPARE(questions.count(), 1);
    QCOMPARE(questions.first().first().toString(), unknown);

    connector->channel.decideOrigin(unknown, allow);
    if (allow) {
        // Its held messages are carried out in order, and it takes over as a new page does.
        QVERIFY(waiting.waitForFrames(2));
        QCOMPARE(waiting.frames, (QStringList{errorFrame2, errorFrame2}));
        QVERIFY(clinic.waitForDisconnected());
        QCOMPARE(clinic.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    } else {
        QVERIFY(waiting.waitForDisconnected());
        QCOMPARE(waiting.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QVERIFY(waiting.frames.isEmpty());
    }
    QCOMPARE(carriedOut.count(), allow ? 3 : 1); // the clinic's message, and the held ones when allowed

    // Remembered, also by a connector started later: no second question.
    connector = std::make_unique<InProcessConnector>(options);
    QSignalSpy later(&connector->channel, &OperatorChannel::originDecisionNeeded);
    PageClient again;
    QCOMPARE(again.open(connector->url(), unknown), allow);
    QCOMPARE(later.count(), 0);
}

// A page that reconnected while the operator decided is served once, on its newest connection.
void TestOperatorChannel::earlierConnectionsOfAnAllowedOriginAreClosed()
{
    const QString origin = QStringLiteral("https://unknown.example");
    InProcessConnector connector;
    PageClient clinic;
    QVERIFY(clinic.open(connector.url()));
    PageClient earlier;
    QVERIFY(earlier.open(connector.url(), origin));
    earlier.send(QStringLiteral("[\"earlier\"]"));
    PageClient newest;
    QVERIFY(newest.open(connector.url(), origin));
    newest.send(QStringLiteral("[\"newest\"]"));
    // Both are held, their messages read: the clinic's answer comes after them.
    clinic.send(QStringLiteral("[]"));
    QVERIFY(clinic.waitForFrames(1));
    QSignalSpy pages(&connector.channel, &OperatorChannel::pageConnected);
    QSignalSpy carriedOut(&connector.channel, &OperatorChannel::textMessageReceived);

    connector.channel.decideOrigin(origin, true);
    QVERIFY(newest.waitForFrames(1));
    QVERIFY(earlier.waitForDisconnected());
    QCOMPARE(earlier.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(earlier.frames, QStringList());
    QCOMPARE(newest.frames, QStringList{errorFrame2});
    QCOMPARE(pages.count(), 1);
    QCOMPARE(carriedOut.count(), 1);
    QCOMPARE(carriedOut.first().first().toString(), QStringLiteral("[\"newest\"]"));
    QVERIFY(clinic.waitForDisconnected());
    QVERIFY(!newest.closed);
}

void TestOperatorChannel::damagedDecisionsAreSetAside()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("origin-decisions.json"));
    QFile damaged(file);
    QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("{\"allowed\": [1") > 0);
    damaged.close();
    InProcessConnector::Options options;
    options.decisionsFile = file;
    InProcessConnector connector(options);
    QVERIFY(connector.listening);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("origin-decisions.json.damaged-*")}).size(), 1);
    QVERIFY(!QFile::exists(file));
    QSignalSpy questions(&connector.channel, &OperatorChannel::originDecisionNeeded);
    PageClient page;
    QVERIFY(page.open(connector.url(), QStringLiteral("https://unknown.example")));
    QTRY_COMPARE(questions.count(), 1);
}

// Any website may try; the operator is asked about nine origins at most, and a question goes with its pages.
void TestOperatorChannel::questionsAreBounded()
{
    InProcessConnector connector;
    QSignalSpy questions(&connector.channel, &OperatorChannel::originDecisionNeeded);
    QSignalSpy withdrawn(&connector.channel, &OperatorChannel::originQuestionWithdrawn);
    std::vector<std::unique_ptr<PageClient>> pages;
    int refused = 0;
    for (int i = 0; i < 300; ++i) {
        auto page = std::make_unique<PageClient>();
        if (page->open(connector.url(), QStringLiteral("https://site%1.example").arg(i)))
            pages.push_back(std::move(page));
        else if (page->socket.errorString().contains(QLatin1String("status code: 403")))
            ++refused;
    }
    QCOMPARE(int(pages.size()), OperatorChannel::maxOpenQuestions);
    QCOMPARE(refused, 300 - OperatorChannel::maxOpenQuestions);
    QCOMPARE(questions.count(), OperatorChannel::maxOpenQuestions);
    QCOMPARE(withdrawn.count(), 0);

    // Its page gone, the question about site3 is withdrawn, and a new origin may be asked about.
    pages.at(3)->socket.close();
    QTRY_COMPARE(withdrawn.count(), 1);
    QCOMPARE(withdrawn.first().first().toString(), QStringLiteral("https://site3.example"));
    PageClient next;
    QVERIFY(next.open(connector.url(), QStringLiteral("https://next.example")));
    QTRY_COMPARE(questions.count(), OperatorChannel::maxOpenQuestions + 1);
    QCOMPARE(questions.last().first().toString(), QStringLiteral("https://next.example"));
}

void TestOperatorChannel::heldPagesAreBounded_data()
{
    QTest::addColumn<bool>("byBytes"); // else by the count of pages
    QTest::addRow("a 17th waiting page") << false;
    QTest::addRow("messages beyond 4 MiB") << true;
}

void TestOperatorChannel::heldPagesAreBounded()
{
    QFETCH(bool, byBytes);
    const QString first = QStringLiteral("https://first.example"), second = QStringLiteral("https://second.example");
    InProcessConnector connector;
    QSignalSpy questions(&connector.channel, &OperatorChannel::originDecisionNeeded);
    std::vector<std::unique_ptr<PageClient>> pages;
    const int count = byBytes ? 2 : OperatorChannel::maxHeldPages;
    for (int i = 0; i < count; ++i) {
        pages.push_back(std::make_unique<PageClient>());
        QVERIFY(pages.back()->open(connector.url(), i % 2 ? second : first));
    }
    const QString oneMiB(int(OperatorChannel::maxIncomingSize), QLatin1Char(' '));
    PageClient beyond;
    if (byBytes) {
        // 4 MiB held in all: three messages of the first page, one of the second.
        for (int i = 0; i < 3; ++i)
            pages.at(0)->send(oneMiB);
        pages.at(1)->send(oneMiB);
        QVERIFY(readByChannel(*pages.at(0)) && readByChannel(*pages.at(1)));
        // One byte more from the first page closes it; the second keeps its message.
        pages.at(0)->send(QStringLiteral("["));
        QVERIFY(pages.at(0)->waitForDisconnected());
        QCOMPARE(pages.at(0)->socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    } else {
        // Its handshake completes, and the close frame follows at once.
        beyond.open(connector.url(), QStringLiteral("https://third.example"));
        QVERIFY(beyond.waitForDisconnected());
        QCOMPARE(beyond.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    }
    // No question for the page beyond: it is gone already.
    QCOMPARE(questions.count(), 2);

    // The pages within the bounds still wait, and are served with their messages when allowed.
    connector.channel.decideOrigin(second, true);
    PageClient &served = *pages.at(count - 1);
    if (byBytes)
        QVERIFY(served.waitForFrames(1));
    served.send(QStringLiteral("[]"));
    QVERIFY(served.waitForFrames(byBytes ? 2 : 1));
    QVERIFY(served.frames.size() == (byBytes ? 2 : 1) && !served.closed);
    // The other pages of the origin are earlier connections of the page served: closed with 1000. Those of the
    // first origin still wait.
    for (int i = byBytes ? 1 : 0; i + 1 < count; ++i) {
        PageClient &page = *pages.at(i);
        if (i % 2) {
            QVERIFY(page.waitForDisconnected());
            QCOMPARE(page.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
        } else {
            QVERIFY(readByChannel(page) && !page.closed);
        }
    }
}

void TestOperatorChannel::staleHeldCommandsAreNotCarriedOut()
{
    const QString unknown = QStringLiteral("https://unknown.example");
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url(), unknown));
    page.send(QStringLiteral("[\"stale-command\"]"));
    QVERIFY(readByChannel(page));
    // The operator answers a minute later.
    connector.clock.offsetMs = (OperatorChannel::heldMessageLifetimeSeconds + 1) * 1000;
    page.send(QStringLiteral("[\"fresh-command\"]"));
    QVERIFY(readByChannel(page));
    QSignalSpy carriedOut(&connector.channel, &OperatorChannel::textMessageReceived);
    connector.channel.decideOrigin(unknown, true);
    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(2));
    QCOMPARE(page.frames, (QStringList{errorFrame2, errorFrame2}));
    QCOMPARE(carriedOut.size(), 2);
    QCOMPARE(carriedOut.at(0).at(0).toString(), QStringLiteral("[\"fresh-command\"]"));
    QCOMPARE(carriedOut.at(1).at(0).toString(), QStringLiteral("[]"));
    QCOMPARE(logLines.filter(QStringLiteral("1 held message(s) of the page not carried out")).size(), 1);
}

void TestOperatorChannel::refusedHandshakesAreLoggedOncePerMinute()
{
    InProcessConnector::Options options;
    options.configuration.insert(QStringLiteral("allowed_origins"),
                                 QJsonArray{QStringLiteral("https://care.example.org")});
    InProcessConnector connector(options);
    const QString origin = QStringLiteral("https://care.example.org.") + QString(7000, QLatin1Char('x'));
    for (int i = 0; i < 30; ++i) {
        PageClient page;
        QVERIFY(!page.open(connector.url(), origin));
    }
    const QStringList refusals = logLines.filter(QStringLiteral("Handshake refused (HTTP 403)"));
    QCOMPARE(refusals.size(), 1);
    QVERIFY2(refusals.first().size() < 320 && refusals.first().contains(QLatin1String("(cut, 7025 characters in all)")),
             qPrintable(refusals.first()));

    connector.clock.offsetMs = 61 * 1000;
    PageClient later;
    QVERIFY(!later.open(connector.url(), origin));
    QCOMPARE(logLines.filter(QStringLiteral("Handshake refused (HTTP 403)")).size(), 2);
    QVERIFY(logLines.last().endsWith(QLatin1String("(30 like it since the last line)")));
}

void TestOperatorChannel::burstOfFailingMessages()
{
    // Each fails somewhere else: the envelope, a bridge's command check, its installation check.
    const QStringList messages{
        QStringLiteral("not json"),
        QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "%1", "args": {"patient": {}}})").arg(nowhere()),
        QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "%1", "args": {"command": "START_AUDIOMETRY"}})")
            .arg(nowhere()),
        QStringLiteral(R"({"type": "POLYSOMNO", "appPath": "%1", "args": {"command": "START_POLYSOMNO"}})")
            .arg(nowhere()),
    };
    const QList<int> answers{INVALID_ARGUMENTS, MISSING_COMMAND, HELIX_NOT_INSTALLED, POLYSOMNO_NOT_INSTALLED};
    const int rounds = 300;

    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    QList<int> expected;
    for (int i = 0; i < rounds; ++i) {
        for (const QString &message : messages)
            page.send(message);
        expected += answers;
    }
    QVERIFY(page.waitForFrames(expected.size(), 60000));
    // Every message got its own answer, in order.
    QCOMPARE(page.codes(), expected);
    // Bridges that are done are released: none piles up behind the router.
    QTRY_COMPARE(connector.router->children().size(), 0);

    page.send(QStringLiteral("[]"));
    QVERIFY(page.waitForFrames(expected.size() + 1));
    QVERIFY(!page.closed);
}

void TestOperatorChannel::pagesInTurnThenTakeover()
{
    const int cycles = 200;
    InProcessConnector connector;
    ReleasedSockets released;
    for (int i = 0; i < cycles; ++i) {
        // Driven by the page's own signals: each step of a cycle follows the previous one at once.
        QWebSocket page;
        QSignalSpy answers(&page, &QWebSocket::textMessageReceived);
        QSignalSpy gone(&page, &QWebSocket::disconnected);
        connect(&page, &QWebSocket::connected, &page, [&page] { page.sendTextMessage(QStringLiteral("[]")); });
        connect(&page, &QWebSocket::textMessageReceived, &page, [&page] { page.close(); });
        page.open(connector.url());
        QVERIFY(gone.wait());
        QCOMPARE(answers.count(), 1);
    }
    QTRY_COMPARE(released.count, cycles);
    QVERIFY(!connector.channel.hasPage());

    // A second page takes over from the first, and no page is left over to close besides.
    PageClient first;
    QVERIFY(first.open(connector.url()));
    PageClient second;
    QVERIFY(second.open(connector.url()));
    QVERIFY(first.waitForDisconnected());
    QCOMPARE(first.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(first.socket.closeReason(), QString());
    QTRY_COMPARE(released.count, cycles + 1);

    second.send(QStringLiteral("nonsense"));
    QVERIFY(second.waitForFrames(1));
    QCOMPARE(second.frames, QStringList{errorFrame2});
    QCOMPARE(first.frames, QStringList());
}

// The debug lines the system defines for the channel and the routing, in their order.
void TestOperatorChannel::systemDebugLines()
{
    const auto quoted = [](const QString &text) {
        QString line;
        QDebug(&line) << text;
        return line.trimmed();
    };
    const QString unknownCommand =
        QStringLiteral(R"({"type": "POLYSOMNO", "appPath": "%1", "args": {"command": "UNKNOWN"}})").arg(nowhere());
    InProcessConnector connector;
    PageClient first;
    QVERIFY(first.open(connector.url()));
    first.send(QStringLiteral("hello"));
    first.send(unknownCommand);
    first.send(QStringLiteral("[]"));
    QVERIFY(first.waitForFrames(2));
    PageClient second;
    QVERIFY(second.open(connector.url()));
    QVERIFY(first.waitForDisconnected());
    QTRY_COMPARE(debugLines.size(), 8);

    // The received text's line carries it as the log file does: no value that could be a patient's.
    const QString redactedCommand =
        QStringLiteral(R"({"appPath":"%1","args":{"command":<unknown word, 7 characters>},"type":"POLYSOMNO"})")
            .arg(nowhere());
    QCOMPARE(
        debugLines.mid(0, 6),
        (QStringList{QStringLiteral("New connection..."), quoted(QStringLiteral("(no JSON object, 5 characters)")),
                     quoted(redactedCommand), QStringLiteral("Poly..."),
                     quoted(QStringLiteral("(no JSON object, 2 characters)")), QStringLiteral("New connection...")}));
    // The old page's disconnection may be seen before or after the line of its closing.
    const QStringList takeover = debugLines.mid(6);
    QVERIFY2(takeover.contains(QStringLiteral("Close an old socket connection.")) &&
                 !takeover.filter(QRegularExpression(QStringLiteral("^socketDisconnected: \\w+\\(0x"))).isEmpty(),
             qPrintable(takeover.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestOperatorChannel)
#include "tst_operatorchannel.moc"
