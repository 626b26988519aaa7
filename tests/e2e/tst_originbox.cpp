// The real connector on a private X display: the operator decides in a box about a page from an unknown origin,
// and the decisions outlast a restart. The policy's own rules are tested in process (tests/channel).
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "connectorprocess.h"
#include "gdtexample.h"
#include "xvfbdisplay.h"

namespace {

const QString boxTitle = QStringLiteral("SANvero Connector");
const QString errorFrame2 = QStringLiteral("{\n    \"error\": 2\n}\n");
const QString firstOrigin = QStringLiteral("https://unknown.example");
const QString secondOrigin = QStringLiteral("https://second.example:8443");
const QUrl fixedPort(QStringLiteral("ws://127.0.0.1:1024"));

/// A home of its own for the connector, so its decisions file lands in the test's folder.
struct Home
{
    explicit Home(const XvfbDisplay &display) : environment(display.environment())
    {
        environment.insert(QStringLiteral("HOME"), dir.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    }
    QString dataFolder() const { return dir.filePath(QStringLiteral("data/SANvero/SANvero Connector")); }
    QString decisionsFile() const { return dataFolder() + QStringLiteral("/origin-decisions.json"); }

    QTemporaryDir dir;
    QProcessEnvironment environment;
};

} // namespace

class TestOriginBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { display.stop(); }
    void operatorDecidesAndTheDecisionsLast();
    void damagedDecisionsFileIsSetAside();

private:
    QStringList boxes() const;
    /// The boxes once at least one is shown; empty when none came.
    QStringList waitForBoxes() const;
    /// Sends "[]" and waits for its answer: the page is served, and the connector got past what came before.
    static bool answered(PageClient &page);
    /// Why a handshake from origin failed; empty when it succeeded.
    static QString refusal(const QString &origin);

    XvfbDisplay display;
};

void TestOriginBox::initTestCase()
{
    QVERIFY2(QFile::exists(ConnectorProcess::executable()), "CONNECTOR_BIN names no built connector");
    const QStringList missing = XvfbDisplay::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QStringLiteral(", "))));
    QVERIFY2(display.start(), "Xvfb did not start");
}

QStringList TestOriginBox::boxes() const
{
    // Without a window manager the minimised main window stays mapped, under the same title; the box is a dialog.
    QStringList found;
    for (const QString &id : display.visibleWindows(boxTitle)) {
        if (display.tool(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_WINDOW_TYPE")})
                .contains(QLatin1String("_NET_WM_WINDOW_TYPE_DIALOG")))
            found.append(id);
    }
    return found;
}

QStringList TestOriginBox::waitForBoxes() const
{
    QStringList shown;
    return QTest::qWaitFor([&] { return !(shown = boxes()).isEmpty(); }, 10000) ? shown : QStringList();
}

bool TestOriginBox::answered(PageClient &page)
{
    const int before = page.frames.size();
    page.send(QStringLiteral("[]"));
    return page.waitForFrames(before + 1) && page.frames.last() == errorFrame2;
}

QString TestOriginBox::refusal(const QString &origin)
{
    PageClient page;
    return page.open(fixedPort, origin) ? QString() : page.socket.errorString();
}

void TestOriginBox::operatorDecidesAndTheDecisionsLast()
{
    Home home(display);
    QVERIFY(QDir().mkpath(home.dir.filePath(QStringLiteral("Helix"))));
    // A program that ends at once: the exam starts, and its request file stays.
    QFile helix(home.dir.filePath(QStringLiteral("Helix/Helix.exe")));
    QVERIFY(helix.open(QIODevice::WriteOnly) && helix.write("#!/bin/sh\n") > 0);
    helix.close();
    QVERIFY(helix.setPermissions(helix.permissions() | QFile::ExeOwner));
    const QJsonObject start{
        {QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
        {QStringLiteral("appPath"), home.dir.filePath(QStringLiteral("Helix/"))},
        {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("START_AUDIOMETRY")},
                                             {QStringLiteral("patient"), examplePatient()}}}};
    QFile request(home.dir.filePath(QStringLiteral("Helix/XCHG/hedeprax.gdt")));

    auto connector = std::make_unique<ConnectorProcess>();
    QVERIFY2(connector->start(ConnectorProcess::defaultConfiguration(), home.environment),
             qPrintable(connector->log()));
    PageClient clinic; // no Origin header: a local program, served as ever
    QVERIFY(clinic.open());
    QVERIFY(answered(clinic));

    // A page from an unknown origin is held: one box, nothing carried out, no frame, no takeover.
    PageClient unknown;
    QVERIFY(unknown.open(fixedPort, firstOrigin));
    unknown.sendJson(start);
    unknown.socket.flush();
    QStringList shown = waitForBoxes();
    QCOMPARE(shown.size(), 1);
    PageClient reloaded;
    QVERIFY(reloaded.open(fixedPort, firstOrigin));
    QVERIFY(answered(clinic));
    QCOMPARE(boxes(), shown);
    QVERIFY(!request.exists());
    QCOMPARE(unknown.frames, QStringList());
    QVERIFY(!clinic.closed);

    // Escape means Block: the held pages are closed, their command dropped, the origin refused from now on.
    QVERIFY(display.pressKey(shown.first(), QStringLiteral("Escape")));
    for (PageClient *page : {&unknown, &reloaded}) {
        QVERIFY(page->waitForDisconnected());
        QCOMPARE(page->socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QCOMPARE(page->frames, QStringList());
    }
    QTRY_VERIFY(boxes().isEmpty());
    const QString blocked = refusal(firstOrigin);
    QVERIFY2(blocked.contains(QLatin1String("403")), qPrintable(blocked));
    QVERIFY(answered(clinic));
    QVERIFY(boxes().isEmpty());
    QVERIFY(!request.exists());

    // Allow: the held command is carried out and the page takes over from the clinic's page.
    PageClient allowed;
    QVERIFY(allowed.open(fixedPort, secondOrigin));
    allowed.sendJson(start);
    allowed.socket.flush();
    shown = waitForBoxes();
    QCOMPARE(shown.size(), 1);
    QVERIFY(answered(clinic)); // and the command was read, so it waits for the decision
    // A plain "a" typed for another window lets nothing in; only Alt+A does.
    QVERIFY(display.pressKey(shown.first(), QStringLiteral("a")));
    QVERIFY(answered(clinic));
    QCOMPARE(boxes().size(), 1);
    QVERIFY(display.pressKey(shown.first(), QStringLiteral("alt+a")));
    QVERIFY(allowed.waitForFrames(1));
    QCOMPARE(allowed.codes(), QList<int>{1008});
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(request.readAll(), exampleRequest());
    request.close();
    QVERIFY(clinic.waitForDisconnected());
    QCOMPARE(clinic.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QTRY_VERIFY(boxes().isEmpty());

    // Both decisions hold after a restart: no box for either origin.
    QVERIFY(connector->stop());
    connector = std::make_unique<ConnectorProcess>();
    QVERIFY2(connector->start(ConnectorProcess::defaultConfiguration(), home.environment),
             qPrintable(connector->log()));
    PageClient again;
    QVERIFY(again.open(fixedPort, secondOrigin));
    const QString stillBlocked = refusal(firstOrigin);
    QVERIFY2(stillBlocked.contains(QLatin1String("403")), qPrintable(stillBlocked));
    QVERIFY(answered(again));
    QVERIFY(boxes().isEmpty());
}

void TestOriginBox::damagedDecisionsFileIsSetAside()
{
    Home home(display);
    QVERIFY(QDir().mkpath(home.dataFolder()));
    QFile damaged(home.decisionsFile());
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    QVERIFY(damaged.write("{not json") > 0);
    damaged.close();

    ConnectorProcess connector;
    QVERIFY2(connector.start(ConnectorProcess::defaultConfiguration(), home.environment), qPrintable(connector.log()));
    const QStringList setAside =
        QDir(home.dataFolder()).entryList({QStringLiteral("origin-decisions.json.damaged-*")}, QDir::Files);
    QCOMPARE(setAside.size(), 1);
    QFile kept(home.dataFolder() + QLatin1Char('/') + setAside.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("{not json"));
    QVERIFY(!QFile::exists(home.decisionsFile()));
    QVERIFY2(connector.waitForLog(QStringLiteral("set aside")), qPrintable(connector.log()));

    // The operator decides afresh; Block is the default button, so a stray Return keeps the page out.
    PageClient page;
    QVERIFY(page.open(fixedPort, firstOrigin));
    const QStringList shown = waitForBoxes();
    QCOMPARE(shown.size(), 1);
    QVERIFY(display.pressKey(shown.first(), QStringLiteral("Return")));
    QVERIFY(page.waitForDisconnected());
    QCOMPARE(page.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
}

QTEST_GUILESS_MAIN(TestOriginBox)
#include "tst_originbox.moc"
