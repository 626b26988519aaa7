// The real connector on a private X display: the operator decides in boxes about a page from an unknown origin and
// the folder its command names, and the decisions outlast a restart. The policy's own rules are tested in process
// (tests/channel).
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
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
    /// Presses key in the box until done holds: a box takes no input for its first second.
    bool pressUntil(const QString &box, const QString &key, const std::function<bool()> &done) const;

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

bool TestOriginBox::pressUntil(const QString &box, const QString &key, const std::function<bool()> &done) const
{
    return QTest::qWaitFor(
        [&] {
            display.pressKey(box, key);
            return QTest::qWaitFor(done, 200);
        },
        10000);
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

    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("unknown_application_folders"), QStringLiteral("ask"));
    auto connector = std::make_unique<ConnectorProcess>();
    QVERIFY2(connector->start(configuration, home.environment), qPrintable(connector->log()));
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

    // Escape blocks for this run: the held pages are closed, their command dropped, the origin refused.
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
    // A plain "a" typed for another window lets nothing in; only Alt+A does, once the box takes input.
    QVERIFY(display.pressKey(shown.first(), QStringLiteral("a")));
    QVERIFY(answered(clinic));
    QCOMPARE(boxes().size(), 1);
    QVERIFY(pressUntil(shown.first(), QStringLiteral("alt+a"), [&] { return clinic.closed; }));
    QVERIFY(clinic.waitForDisconnected());
    QCOMPARE(clinic.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);

    // The page is served now, but its command names a folder nobody decided about: a second box, and the
    // command waits for it, nothing written.
    QTRY_VERIFY(!boxes().isEmpty() && boxes() != shown);
    shown = boxes();
    QCOMPARE(shown.size(), 1);
    QVERIFY(answered(allowed));
    QVERIFY(!request.exists());
    QVERIFY(pressUntil(shown.first(), QStringLiteral("alt+a"), [&] { return allowed.frames.size() > 1; }));
    QVERIFY(allowed.waitForFrames(2));
    QCOMPARE(allowed.codes(), (QList<int>{2, 1008}));
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(request.readAll(), exampleRequest());
    request.close();
    QTRY_VERIFY(boxes().isEmpty());

    // The two Allows hold after a restart: no box for the origin or the folder. The block for the run is over:
    // the first origin is asked about again.
    QVERIFY(connector->stop());
    QVERIFY(request.remove());
    connector = std::make_unique<ConnectorProcess>();
    QVERIFY2(connector->start(configuration, home.environment), qPrintable(connector->log()));
    PageClient again;
    QVERIFY(again.open(fixedPort, secondOrigin));
    again.sendJson(start);
    QVERIFY(again.waitForFrames(1));
    QCOMPARE(again.codes(), QList<int>{1008});
    QVERIFY(request.exists());
    QVERIFY(boxes().isEmpty());
    PageClient askedAgain;
    QVERIFY(askedAgain.open(fixedPort, firstOrigin));
    QCOMPARE(waitForBoxes().size(), 1);
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
    QVERIFY(pressUntil(shown.first(), QStringLiteral("Return"), [&] { return page.closed; }));
    QVERIFY(page.waitForDisconnected());
    QCOMPARE(page.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
}

QTEST_GUILESS_MAIN(TestOriginBox)
#include "tst_originbox.moc"
