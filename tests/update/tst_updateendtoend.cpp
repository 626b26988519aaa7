// The real connector on a private X display: an update that goes ahead ends the process after the desktop was
// asked to open the setup address, and the check runs only when configured. Declining is tested in process.
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

/// The display's environment with a home of its own in dir, whose desktop URL handler only records in
/// dir/opened.txt what it was asked to open; empty when it cannot be set up.
QProcessEnvironment recordingDesktop(const QTemporaryDir &dir, const XvfbDisplay &display)
{
    if (!QDir(dir.path()).mkpath(QStringLiteral("bin")) || !QDir(dir.path()).mkpath(QStringLiteral("runtime")))
        return {};
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Qt's desktop services hand web addresses to xdg-open when it is on PATH. The record appears whole, through
    // a rename, so a reader never sees half of it.
    QFile handler(dir.filePath(QStringLiteral("bin/xdg-open")));
    if (!handler.open(QIODevice::WriteOnly) ||
        handler.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$HOME/opened.part\" && mv \"$HOME/opened.part\" "
                      "\"$HOME/opened.txt\"\n") <= 0 ||
        !handler.setPermissions(handler.permissions() | QFile::ExeOwner))
        return {};
    QProcessEnvironment env = display.environment();
    env.insert(QStringLiteral("PATH"), dir.filePath(QStringLiteral("bin:")) + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        env.remove(QLatin1String(name)); // their defaults lie under HOME
    return env;
}

} // namespace

class TestUpdateEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { display.stop(); }

    void updateGoesAhead_data();
    void updateGoesAhead();
    void checkOffUnlessConfigured();

private:
    XvfbDisplay display;
};

void TestUpdateEndToEnd::initTestCase()
{
    QVERIFY2(QFile::exists(ConnectorProcess::executable()), "CONNECTOR_BIN names no built connector");
    const QStringList missing = XvfbDisplay::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QStringLiteral(", "))));
    QVERIFY2(display.start(), "Xvfb did not start");
}

void TestUpdateEndToEnd::updateGoesAhead_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("key");

    const QByteArray mandatory = "{\n  \"version\": 3,\n  \"mandatory\": true\n}\n";
    QTest::addRow("mandatory, Ok pressed") << mandatory << QStringLiteral("Return");
    QTest::addRow("mandatory, box closed with Escape") << mandatory << QStringLiteral("Escape");
    QTest::addRow("optional, answered Yes") << QByteArray(R"({"version": 3})") << QStringLiteral("y");
}

void TestUpdateEndToEnd::updateGoesAhead()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QString, key);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, manifest);
    QTemporaryDir home;
    const QProcessEnvironment environment = recordingDesktop(home, display);
    QVERIFY(!environment.isEmpty());
    QFile opened(home.filePath(QStringLiteral("opened.txt")));
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("check_updates"), true);
    configuration.insert(QStringLiteral("download_server"), server.url().toString());
    ConnectorProcess connector;
    QVERIFY(connector.start(configuration, environment));

    QTRY_COMPARE(server.requestedPaths, QStringList{QStringLiteral("/versions/sanvero-connector-windows.json")});
    QStringList boxes;
    QVERIFY2(QTest::qWaitFor([&] { return !(boxes = display.visibleWindows(boxTitle)).isEmpty(); }, 15000),
             "no window titled \"Update available\" appeared");
    QCOMPARE(boxes.size(), 1);
    QVERIFY(connector.isRunning());
    QVERIFY(!opened.exists());

    QVERIFY(display.pressKey(boxes.first(), key));
    QTRY_VERIFY_WITH_TIMEOUT(!connector.isRunning(), 10000);
    QCOMPARE(connector.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(connector.process.exitCode(), 0);
    const QUrl setup = server.url().resolved(QUrl(QStringLiteral("/sanvero-connector-setup.exe")));
    QTRY_VERIFY(opened.exists());
    QVERIFY(opened.open(QIODevice::ReadOnly));
    QCOMPARE(opened.readAll(), setup.toEncoded() + '\n');
    QVERIFY(!connector.log().split(QLatin1Char('\n')).contains(QStringLiteral("error")));
}

void TestUpdateEndToEnd::checkOffUnlessConfigured()
{
    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(200, QByteArray(R"({"version": 3, "mandatory": true})"));
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("download_server"), server.url().toString());
    ConnectorProcess connector;
    QVERIFY(connector.start(configuration, display.environment()));

    // A check would have been started by the first turn of the event loop, before the page's message was
    // handled; a request in flight could still slip past, which would make this pass, never fail.
    PageClient page;
    QVERIFY(page.open());
    page.send(QStringLiteral("{}"));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(server.connectionsOpened, 0);
    QVERIFY(display.windows(boxTitle).isEmpty());
    QVERIFY(connector.isRunning());
}

QTEST_GUILESS_MAIN(TestUpdateEndToEnd)
#include "tst_updateendtoend.moc"
