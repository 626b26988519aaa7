// The real connector on a private X display checks a manifest served by a local HTTP server and prompts.
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "connectorprocess.h"
#include "manifestserver.h"
#include "xvfbdisplay.h"

namespace {

const QString boxTitle = QStringLiteral("Update available");
const QString manifestPath = QStringLiteral("/versions/sanvero-connector-windows.json");
const QString invalidEnvelope = QStringLiteral("{}");

/// A home of its own for the connector, whose desktop URL handler only records what it was asked to open.
class RecordingDesktop
{
public:
    bool prepare()
    {
        if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("bin")) ||
            !QDir(dir.path()).mkpath(QStringLiteral("home")) || !QDir(dir.path()).mkpath(QStringLiteral("runtime")))
            return false;
        QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Qt's desktop services hand web addresses to xdg-open when it is on PATH. The record appears
        // whole, through a rename, so a reader never sees half of it.
        QFile handler(dir.filePath(QStringLiteral("bin/xdg-open")));
        if (!handler.open(QIODevice::WriteOnly))
            return false;
        handler.write("#!/bin/sh\n"
                      "printf '%s\\n' \"$@\" > \"$UPDATE_TEST_RECORD.part\" && mv \"$UPDATE_TEST_RECORD.part\" "
                      "\"$UPDATE_TEST_RECORD\"\n");
        handler.close();
        return handler.setPermissions(handler.permissions() | QFile::ExeOwner);
    }

    /// The display's environment with this desktop's URL handler, home and runtime folders.
    QProcessEnvironment environment(const XvfbDisplay &display) const
    {
        QProcessEnvironment env = display.environment();
        env.insert(QStringLiteral("PATH"),
                   dir.filePath(QStringLiteral("bin")) + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("UPDATE_TEST_RECORD"), recordPath());
        const QString home = dir.filePath(QStringLiteral("home"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
        return env;
    }

    QString recordPath() const { return dir.filePath(QStringLiteral("opened.txt")); }

    /// The arguments xdg-open was started with, one a line; a null string while it was never started.
    QString opened() const
    {
        QFile record(recordPath());
        if (!record.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(record.readAll());
    }

private:
    QTemporaryDir dir;
};

QJsonObject configuration(const QUrl &server)
{
    QJsonObject config = ConnectorProcess::defaultConfiguration();
    config.insert(QStringLiteral("check_updates"), true);
    config.insert(QStringLiteral("download_server"), server.toString());
    return config;
}

QStringList logLines(ConnectorProcess &connector)
{
    QStringList lines = connector.log().split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.trimmed();
    return lines;
}

} // namespace

class TestUpdatePrompt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { display.stop(); }

    void mandatoryUpdate_data();
    void mandatoryUpdate();
    void optionalUpdate_data();
    void optionalUpdate();
    void noUpdate_data();
    void noUpdate();
    void checkOffUnlessConfigured_data();
    void checkOffUnlessConfigured();

private:
    /// Waits for exactly one prompt on the display and returns its window id.
    QString waitForPrompt();

    XvfbDisplay display;
};

void TestUpdatePrompt::initTestCase()
{
    QVERIFY2(QFile::exists(ConnectorProcess::executable()), "CONNECTOR_BIN names no built connector");
    const QStringList missing = XvfbDisplay::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QStringLiteral(", "))));
    QVERIFY2(display.start(), "Xvfb did not start");
}

QString TestUpdatePrompt::waitForPrompt()
{
    QStringList boxes;
    if (!QTest::qWaitFor([&] { return !(boxes = display.visibleWindows(boxTitle)).isEmpty(); }, 15000))
        return QString();
    return boxes.size() == 1 ? boxes.first() : QString();
}

void TestUpdatePrompt::mandatoryUpdate_data()
{
    QTest::addColumn<QString>("key");

    QTest::addRow("Ok pressed") << QStringLiteral("Return");
    QTest::addRow("box closed with Escape") << QStringLiteral("Escape");
}

void TestUpdatePrompt::mandatoryUpdate()
{
    QFETCH(QString, key);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, QByteArray("{\n  \"version\": 3,\n  \"mandatory\": true\n}\n"));
    RecordingDesktop desktop;
    QVERIFY(desktop.prepare());
    ConnectorProcess connector;
    QVERIFY(connector.start(configuration(server.url()), desktop.environment(display)));

    QTRY_COMPARE(server.requestedPaths, QStringList{manifestPath});
    const QString box = waitForPrompt();
    QVERIFY2(!box.isEmpty(), "no single window titled \"Update available\" appeared");
    QVERIFY(connector.isRunning());
    QVERIFY(desktop.opened().isNull());

    QVERIFY(display.pressKey(box, key));
    QTRY_VERIFY_WITH_TIMEOUT(!connector.isRunning(), 10000);
    QCOMPARE(connector.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(connector.process.exitCode(), 0);
    const QUrl setup = server.url().resolved(QUrl(QStringLiteral("/sanvero-connector-setup.exe")));
    QTRY_COMPARE(desktop.opened(), QString::fromUtf8(setup.toEncoded()) + QLatin1Char('\n'));
    QVERIFY(!logLines(connector).contains(QStringLiteral("error")));
}

void TestUpdatePrompt::optionalUpdate_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("accepted");

    QTest::addRow("answered No") << QStringLiteral("n") << false;
    QTest::addRow("closed without a choice") << QStringLiteral("Escape") << false;
    QTest::addRow("answered Yes") << QStringLiteral("y") << true;
}

void TestUpdatePrompt::optionalUpdate()
{
    QFETCH(QString, key);
    QFETCH(bool, accepted);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, QByteArray("{\"version\": 3, \"mandatory\": \"true\"}\r\n"));
    // The manifest waits until the page is connected, so the prompt comes up over a live connection.
    server.hold();
    RecordingDesktop desktop;
    QVERIFY(desktop.prepare());
    ConnectorProcess connector;
    QVERIFY(connector.start(configuration(server.url()), desktop.environment(display)));
    PageClient page;
    QVERIFY(page.open());
    QTRY_COMPARE(server.requestedPaths, QStringList{manifestPath});
    server.release();

    const QString box = waitForPrompt();
    QVERIFY2(!box.isEmpty(), "no single window titled \"Update available\" appeared");
    // The box is modal, yet the page is served meanwhile.
    page.send(invalidEnvelope);
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frame(0), QJsonObject({{QStringLiteral("error"), 2}}));

    QVERIFY(display.pressKey(box, key));
    if (accepted) {
        QTRY_VERIFY_WITH_TIMEOUT(!connector.isRunning(), 10000);
        QCOMPARE(connector.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(connector.process.exitCode(), 0);
        const QUrl setup = server.url().resolved(QUrl(QStringLiteral("/sanvero-connector-setup.exe")));
        QTRY_COMPARE(desktop.opened(), QString::fromUtf8(setup.toEncoded()) + QLatin1Char('\n'));
        return;
    }

    QTRY_VERIFY_WITH_TIMEOUT(display.windows(boxTitle).isEmpty(), 10000);
    // Declining ends the run, and its network manager goes with it.
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    QVERIFY(connector.isRunning());
    QVERIFY(!page.closed);
    page.send(invalidEnvelope);
    QVERIFY(page.waitForFrames(2));
    QCOMPARE(page.frame(1), QJsonObject({{QStringLiteral("error"), 2}}));
    QVERIFY(connector.isRunning());
    QVERIFY(desktop.opened().isNull());
    QCOMPARE(server.requestedPaths.size(), 1);
}

void TestUpdatePrompt::noUpdate_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("errorLine");

    QTest::addRow("same version") << 200 << QByteArray(R"({"version": 2, "mandatory": true})") << false;
    QTest::addRow("version as text") << 200 << QByteArray(R"({"version": "3", "mandatory": true})") << false;
    QTest::addRow("manifest not found") << 404 << QByteArray("<html><body>Not Found</body></html>") << true;
}

void TestUpdatePrompt::noUpdate()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, errorLine);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(status, body);
    RecordingDesktop desktop;
    QVERIFY(desktop.prepare());
    ConnectorProcess connector;
    QVERIFY(connector.start(configuration(server.url()), desktop.environment(display)));
    PageClient page;
    QVERIFY(page.open());

    QTRY_COMPARE(server.requestedPaths, QStringList{manifestPath});
    // The connection closes only when the connector has handled the manifest and released its manager.
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    QVERIFY(display.windows(boxTitle).isEmpty());
    page.send(invalidEnvelope);
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frame(0), QJsonObject({{QStringLiteral("error"), 2}}));
    QVERIFY(connector.isRunning());
    QVERIFY(desktop.opened().isNull());
    QCOMPARE(logLines(connector).contains(QStringLiteral("error")), errorLine);
}

void TestUpdatePrompt::checkOffUnlessConfigured_data()
{
    QTest::addColumn<QJsonValue>("checkUpdates");

    QTest::addRow("key absent") << QJsonValue(QJsonValue::Undefined);
    QTest::addRow("false") << QJsonValue(false);
    QTest::addRow("text \"true\"") << QJsonValue(QStringLiteral("true"));
}

void TestUpdatePrompt::checkOffUnlessConfigured()
{
    QFETCH(QJsonValue, checkUpdates);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, QByteArray(R"({"version": 3, "mandatory": true})"));
    RecordingDesktop desktop;
    QVERIFY(desktop.prepare());
    QJsonObject config = configuration(server.url());
    config.remove(QStringLiteral("check_updates"));
    if (!checkUpdates.isUndefined())
        config.insert(QStringLiteral("check_updates"), checkUpdates);
    ConnectorProcess connector;
    QVERIFY(connector.start(config, desktop.environment(display)));

    // A check would have been started by the first turn of the event loop, before the page's message
    // was handled; a request in flight could still slip past, which would make this pass, never fail.
    PageClient page;
    QVERIFY(page.open());
    page.send(invalidEnvelope);
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frame(0), QJsonObject({{QStringLiteral("error"), 2}}));
    QCOMPARE(server.connectionsOpened, 0);
    QVERIFY(server.requestedPaths.isEmpty());
    QVERIFY(display.windows(boxTitle).isEmpty());
    QVERIFY(connector.isRunning());
}

QTEST_GUILESS_MAIN(TestUpdatePrompt)
#include "tst_updateprompt.moc"
