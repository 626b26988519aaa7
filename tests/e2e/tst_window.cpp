// The real connector on a real X display: refusal boxes at start-up and the shape of the window.
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include "connectorprocess.h"

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusalBox_data();
    void refusalBox();
    void acceptedConfigurationShowsFixedMinimisedWindow();

private:
    QString x11(const QString &program, const QStringList &arguments) const;
    QString findWindow(const QString &title, bool onlyVisible = false) const;
    QProcessEnvironment displayEnvironment() const;

    QProcess xvfb;
    QString display;
};

void TestWindow::initTestCase()
{
    const QStringList tools{QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("xprop"),
                            QStringLiteral("xwininfo")};
    for (const QString &tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
    }
    // Xvfb picks a free display number and writes it to the descriptor given.
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(QTest::qWaitFor([this] { return xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning; }, 10000));
    display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine().trimmed());
    QVERIFY(display.size() > 1);
}

void TestWindow::cleanupTestCase()
{
    xvfb.terminate();
    xvfb.waitForFinished(5000);
}

QProcessEnvironment TestWindow::displayEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return environment;
}

QString TestWindow::x11(const QString &program, const QStringList &arguments) const
{
    QProcess tool;
    tool.setProcessEnvironment(displayEnvironment());
    tool.start(program, arguments);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QString TestWindow::findWindow(const QString &title, bool onlyVisible) const
{
    QStringList arguments{QStringLiteral("search")};
    if (onlyVisible)
        arguments << QStringLiteral("--onlyvisible");
    arguments << QStringLiteral("--name") << QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    return x11(QStringLiteral("xdotool"), arguments).split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
}

void TestWindow::refusalBox_data()
{
    QTest::addColumn<bool>("withArgument");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("title");
    const QString notFound = QStringLiteral("Configuration not found!");
    const QString failed = QStringLiteral("Configuration failed!");
    QTest::addRow("no argument") << false << QByteArray() << notFound;
    QTest::addRow("JSON array") << true << QByteArray("[]") << notFound;
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
    connector.startRaw(arguments, displayEnvironment());

    QString box;
    QVERIFY(QTest::qWaitFor([&] { return !(box = findWindow(title, true)).isEmpty(); }, 10000));
    // No server and no main window while the box is open.
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), 1024);
    QVERIFY(!probe.waitForConnected(1000));
    QVERIFY(findWindow(QStringLiteral("SANvero Connector"), true).isEmpty());

    x11(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), box, QStringLiteral("key"),
                                    QStringLiteral("Return")});
    QVERIFY(connector.process.waitForFinished(10000));
    QCOMPARE(connector.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(connector.process.exitCode(), 0);
    if (withArgument)
        QCOMPARE(QFile(connector.configPath()).size(), qint64(content.size()));
}

void TestWindow::acceptedConfigurationShowsFixedMinimisedWindow()
{
    ConnectorProcess connector;
    QVERIFY(connector.start(ConnectorProcess::defaultConfiguration(), displayEnvironment()));
    QString window;
    QVERIFY(
        QTest::qWaitFor([&] { return !(window = findWindow(QStringLiteral("SANvero Connector"))).isEmpty(); }, 10000));

    const QString hints = x11(QStringLiteral("xprop"), {QStringLiteral("-id"), window,
                                                        QStringLiteral("WM_NORMAL_HINTS"), QStringLiteral("WM_HINTS")});
    QVERIFY2(hints.contains(QStringLiteral("minimum size: 380 by 120")), qPrintable(hints));
    QVERIFY2(hints.contains(QStringLiteral("maximum size: 380 by 120")), qPrintable(hints));
    QVERIFY2(hints.contains(QStringLiteral("Initial state is Iconic State")), qPrintable(hints));
    const QString info = x11(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    QVERIFY2(info.contains(QStringLiteral("Width: 380")) && info.contains(QStringLiteral("Height: 120")),
             qPrintable(info));
    QVERIFY(connector.isRunning());
}

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
