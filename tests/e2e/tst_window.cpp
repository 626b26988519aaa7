// The real connector on a real X display: refusal boxes at start-up, the shape of the window, and a second start in
// the same session.
#include <QFile>
#include <QProcessEnvironment>
#include <QTcpSocket>
#include <QTest>

#include "connectorprocess.h"
#include "xvfbdisplay.h"

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { display.stop(); }
    void refusalBox_data();
    void refusalBox();
    void acceptedConfigurationShowsFixedMinimisedWindow();
    void secondStartEndsAtOnce();

private:
    XvfbDisplay display;
};

void TestWindow::initTestCase()
{
    const QStringList missing = XvfbDisplay::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing.join(QLatin1Char(' ')) + QStringLiteral(" not installed")));
    QVERIFY2(display.start(), "Xvfb did not start");
}

void TestWindow::refusalBox_data()
{
    QTest::addColumn<bool>("withArgument");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("title");
    const QString notFound = QStringLiteral("Configuration not found!");
    const QString failed = QStringLiteral("Configuration failed!");
    QTest::addRow("no argument") << false << QByteArray() << notFound;
    QTest::addRow("empty file") << true << QByteArray() << notFound;
    QTest::addRow("key in other case") << true << QByteArray("{\"SessionIds\": \"x\"}") << failed;
}

void TestWindow::refusalBox()
{
    QFETCH(bool, withArgument);
    QFETCH(QByteArray, content);
    QFETCH(QString, title);

    ConnectorProcess connector;
    QStringList arguments;
    if (withArgument) {
        QFile file(connector.configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        arguments << connector.configPath();
    }
    connector.startRaw(arguments, display.environment());

    QStringList boxes;
    QVERIFY2(QTest::qWaitFor([&] { return !(boxes = display.visibleWindows(title)).isEmpty(); }, 10000),
             qPrintable(connector.log()));
    // No server and no main window while the box is open.
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), 1024);
    QVERIFY(!probe.waitForConnected(1000));
    QVERIFY(display.visibleWindows(QStringLiteral("SANvero Connector")).isEmpty());

    QVERIFY(display.pressKey(boxes.first(), QStringLiteral("Return")));
    QVERIFY(connector.process.waitForFinished(10000));
    QCOMPARE(connector.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(connector.process.exitCode(), 0);
    if (withArgument)
        QCOMPARE(QFile(connector.configPath()).size(), qint64(content.size()));
}

void TestWindow::acceptedConfigurationShowsFixedMinimisedWindow()
{
    ConnectorProcess connector;
    QVERIFY(connector.start(ConnectorProcess::defaultConfiguration(), display.environment()));
    QStringList windows;
    QVERIFY(QTest::qWaitFor([&] { return !(windows = display.windows(QStringLiteral("SANvero Connector"))).isEmpty(); },
                            10000));
    const QString window = windows.first();

    const QString hints =
        display.tool(QStringLiteral("xprop"),
                     {QStringLiteral("-id"), window, QStringLiteral("WM_NORMAL_HINTS"), QStringLiteral("WM_HINTS")});
    QVERIFY2(hints.contains(QStringLiteral("minimum size: 380 by 120")), qPrintable(hints));
    QVERIFY2(hints.contains(QStringLiteral("maximum size: 380 by 120")), qPrintable(hints));
    QVERIFY2(hints.contains(QStringLiteral("Initial state is Iconic State")), qPrintable(hints));
    const QString info = display.tool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    QVERIFY2(info.contains(QStringLiteral("Width: 380")) && info.contains(QStringLiteral("Height: 120")),
             qPrintable(info));
    QVERIFY(connector.isRunning());
}

// One connector per session (a logon shortcut and the start menu): the second ends at once with status 0, shows
// nothing, and leaves the first one serving and its log file to it alone.
void TestWindow::secondStartEndsAtOnce()
{
    ConnectorProcess first;
    QVERIFY(first.start(ConnectorProcess::defaultConfiguration(), display.environment()));
    const QString title = QStringLiteral("SANvero Connector");
    QVERIFY(QTest::qWaitFor([&] { return !display.windows(title).isEmpty(); }, 10000));

    // The same user's data folder, as in the same session.
    const QString data = first.dir() + QStringLiteral("/data");
    QProcessEnvironment environment = display.environment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
    ConnectorProcess second;
    QVERIFY(second.writeConfiguration(ConnectorProcess::defaultConfiguration()));
    second.startRaw({second.configPath()}, environment);
    // Ended on its own: a box would wait for the operator.
    QVERIFY(second.process.waitForFinished(10000));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);

    QVERIFY(first.isRunning());
    QTcpSocket page;
    page.connectToHost(QStringLiteral("127.0.0.1"), 1024);
    QVERIFY(page.waitForConnected(5000));
    QFile log(data + QStringLiteral("/SANvero/SANvero Connector/connector.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count(" started, configuration "), 1);
}

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
