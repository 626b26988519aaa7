// The workstation as the platform layer meets it: an installer started off the event loop, one connector per
// session, and lock files judged without being opened.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <future>
#include <optional>

#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "platform/lockfile.h"
#include "platform/programlauncher.h"
#include "platform/sessionclaim.h"

namespace {

// This test program also plays the other programs the tests need: an installer (started without arguments, so
// told by its environment) and an application that holds its lock file open.
const char standInInstallerVariable[] = "SANVERO_TEST_INSTALLER_MARKER";
const QString holdArgument = QStringLiteral("--hold");

/// As the installer: writes the folder it runs in to the marker file.
int runAsInstaller(const QByteArray &marker)
{
    QFile file(QString::fromLocal8Bit(marker));
    return file.open(QIODevice::WriteOnly) && file.write(QDir::currentPath().toUtf8()) > 0 ? 0 : 1;
}

/// As the application: holds the file open, read and write and shared as a database engine shares its lock file,
/// until its input closes.
int runAsHolder(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return 1;
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void installerStartsThroughThePlatform_data();
    void installerStartsThroughThePlatform();
    void installerStartLeavesTheEventLoopFree_data();
    void installerStartLeavesTheEventLoopFree();
    void oneConnectorPerSession();
    void lockFile_data();
    void lockFile();
};

void TestPlatform::installerStartsThroughThePlatform_data()
{
    QTest::addColumn<bool>("present");
    QTest::addRow("a stand-in installer") << true;
    QTest::addRow("no installer there") << false;
}

// The platform's own way (on Windows the shell, which would ask for rights if the installer wanted them); the
// outcome comes from the event loop, never inside the call.
void TestPlatform::installerStartsThroughThePlatform()
{
    QFETCH(bool, present);
    QTemporaryDir folder;
    const QString marker = folder.filePath(QStringLiteral("HelixSetup.started"));
    qputenv(standInInstallerVariable, marker.toLocal8Bit());
    if (!present)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cannot start .*HelixSetup.exe")));
    ProgramLauncher launcher;
    QObject context;
    std::optional<bool> started;
    launcher.startInstaller(present ? QCoreApplication::applicationFilePath()
                                    : folder.filePath(QStringLiteral("HelixSetup.exe")),
                            folder.path(), &context, [&](bool outcome) { started = outcome; });
    QVERIFY(!started);
    QTRY_VERIFY_WITH_TIMEOUT(started.has_value(), 30000);
    qunsetenv(standInInstallerVariable);
    QCOMPARE(*started, present);
    if (!present)
        return;

    const auto ranIn = [&] {
        QFile file(marker);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!ranIn().isEmpty(), 30000);
    QCOMPARE(QFileInfo(ranIn()).canonicalFilePath(), QFileInfo(folder.path()).canonicalFilePath());
}

void TestPlatform::installerStartLeavesTheEventLoopFree_data()
{
    QTest::addColumn<bool>("startable");
    QTest::addRow("the operator gives the rights") << true;
    QTest::addRow("the operator refuses them") << false;
}

// While Windows asks for administrator rights (here: a start that waits until the test lets it go), the page is
// served.
void TestPlatform::installerStartLeavesTheEventLoopFree()
{
    QFETCH(bool, startable);
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
    std::atomic<bool> asking{false};
    ProgramLauncher launcher;
    launcher.installerStart = [&asking, answered, startable](const QString &, const QString &) {
        asking = true;
        answered.wait();
        return startable;
    };
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    QObject context;
    std::optional<bool> started;
    launcher.startInstaller(QStringLiteral("C:/Users/op/Desktop/HelixSetup/HelixSetup.exe"),
                            QStringLiteral("C:/Users/op/Desktop/HelixSetup/"), &context,
                            [&](bool outcome) { started = outcome; });
    QTRY_VERIFY(asking);

    page.send(QStringLiteral("not an envelope"));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frame(0).value(QLatin1String("error")).toInt(), 2);
    QVERIFY(!started);

    answer.set_value();
    QTRY_VERIFY(started.has_value());
    QCOMPARE(*started, startable);
}

// A second connector in the same session finds the claim taken; once the first is gone, the next one gets it.
void TestPlatform::oneConnectorPerSession()
{
    QTemporaryDir data;
    {
        const SessionClaim first(data.path());
        QVERIFY(first.held());
        const SessionClaim second(data.path());
        QVERIFY(!second.held());
    }
    const SessionClaim next(data.path());
    QVERIFY(next.held());
}

void TestPlatform::lockFile_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addRow("no lock file") << QStringLiteral("missing");
    QTest::addRow("held open by the application") << QStringLiteral("held");
    QTest::addRow("left behind by a crash") << QStringLiteral("left");
    QTest::addRow("a name too long for the system") << QStringLiteral("too long");
}

// The real system, with a second process in the application's place.
void TestPlatform::lockFile()
{
    QFETCH(QString, situation);
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("SomnoDB.ldb"));
    QProcess holder;
    if (situation == QLatin1String("held") || situation == QLatin1String("left")) {
        QFile created(path);
        QVERIFY(created.open(QIODevice::WriteOnly));
    }
    if (situation == QLatin1String("held")) {
        holder.start(QCoreApplication::applicationFilePath(), {holdArgument, path});
        QVERIFY(holder.waitForReadyRead(30000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    }
    if (situation == QLatin1String("too long"))
        path = folder.filePath(QString(300, QLatin1Char('x')) + QStringLiteral("/SomnoDB.ldb"));

    const LockFileCheck check = checkLockFile(QDir::toNativeSeparators(path).toStdString());
    holder.closeWriteChannel();
    QVERIFY(holder.state() == QProcess::NotRunning || holder.waitForFinished(30000));

    LockFileCheck::State expected = situation == QLatin1String("missing")    ? LockFileCheck::Missing
                                    : situation == QLatin1String("too long") ? LockFileCheck::Unknown
                                                                             : LockFileCheck::Held;
#ifdef Q_OS_WIN
    if (situation == QLatin1String("left"))
        expected = LockFileCheck::Stale;
    // Wine lacks the system call that lists who uses a file: there the check cannot tell, and says so, rather
    // than call a held lock file free. A real Windows lists them.
    if ((situation == QLatin1String("held") || situation == QLatin1String("left")) &&
        check.state == LockFileCheck::Unknown &&
        QString::fromStdString(check.reason).contains(QLatin1String("did not list"))) {
        qInfo("This system cannot list the processes that use a file (Wine): %s", check.reason.c_str());
        expected = LockFileCheck::Unknown;
    }
#endif
    QCOMPARE(int(check.state), int(expected));
    QCOMPARE(check.reason.empty(), check.state != LockFileCheck::Unknown);
}

int main(int argc, char *argv[])
{
    const QByteArray marker = qgetenv(standInInstallerVariable);
    if (!marker.isEmpty())
        return runAsInstaller(marker);
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == holdArgument)
        return runAsHolder(QString::fromLocal8Bit(argv[2]));
    QCoreApplication application(argc, argv);
    TestPlatform test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform.moc"
