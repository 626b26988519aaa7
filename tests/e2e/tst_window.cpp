// The real connector on a real X display: refusal boxes at start-up and the shape of the window.
#include <QFile>
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

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
