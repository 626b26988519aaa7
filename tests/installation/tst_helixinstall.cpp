// End to end: "INSTALL_HELIX" sent by a page to the real connector, with a local download server, the real
// 7-Zip and a stand-in installer that records that it ran.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include "archiveserver.h"
#include "connectorprocess.h"
#include "installationfixture.h"

using namespace InstallationFixture;

namespace {

const QString archivePath = QStringLiteral("/audiometry/helix/version_1.0.zip");

QJsonObject installCommand()
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
        {QStringLiteral("appPath"), QStringLiteral("C:\\Helix\\")},
        {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("INSTALL_HELIX")}}}};
}

QJsonObject messageFrame(int code, const QJsonObject &args = {})
{
    QJsonObject frame{{QStringLiteral("message"), code}};
    if (!args.isEmpty())
        frame.insert(QStringLiteral("args"), args);
    return frame;
}

QJsonObject errorFrame(int code)
{
    return QJsonObject{{QStringLiteral("error"), code}};
}

QJsonObject percent(int value)
{
    return QJsonObject{{QStringLiteral("percent"), value}};
}

bool isProgress(const QJsonObject &frame)
{
    return frame.value(QLatin1String("message")).toInt() == 1002;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

/// Sends a signal to a process; stopping 7-Zip holds an unpacking in progress for as long as a test needs.
bool signalProcess(qint64 pid, int signal)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), signal) == 0;
}

/// Lets a stopped process go on however the test ends.
struct ResumeOnExit
{
    qint64 pid;
    ~ResumeOnExit() { signalProcess(pid, SIGCONT); }
};

} // namespace

bool privateMountsAvailable()
{
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                            QStringLiteral("private"), QStringLiteral("--"), QStringLiteral("true")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

/// A launcher that runs script in a mount namespace of the connector's own ("$1" is argument), then the connector.
QStringList launcherWithMount(const QString &script, const QString &argument)
{
    return {QStringLiteral("unshare"),
            QStringLiteral("--mount"),
            QStringLiteral("--propagation"),
            QStringLiteral("private"),
            QStringLiteral("--"),
            QStringLiteral("sh"),
            QStringLiteral("-c"),
            script + QStringLiteral(" && shift && exec \"$@\""),
            QStringLiteral("sh"),
            argument};
}

/// One connector with its own home folder, desktop and page.
struct Workstation
{
    QTemporaryDir dir;
    QString home;
    QString desktop; // with the trailing "/", as the frames carry it
    ConnectorProcess connector;
    PageClient page;

    explicit Workstation(bool blankInPath = false)
    {
        home = dir.filePath(blankInPath ? QStringLiteral("clinic operator") : QStringLiteral("operator"));
        desktop = home + QStringLiteral("/Desktop/");
        QDir().mkpath(desktop);
    }

    bool start(const QUrl &server, const QProcessEnvironment &environment)
    {
        QJsonObject configuration = ConnectorProcess::defaultConfiguration();
        configuration.insert(QStringLiteral("download_server"), server.toString());
        return connector.start(configuration, environment) && page.open();
    }

    bool start(const QUrl &server) { return start(server, connectorEnvironment(home)); }

    QString archive() const { return desktop + QStringLiteral("HelixSetup.zip"); }
    QString installer() const { return desktop + QStringLiteral("HelixSetup/HelixSetup.exe"); }
    QString record() const { return installerRecord(home); }

    /// Sends a command and waits for the frame that ends an installation: 1009, 1010 or 1006.
    bool install(int timeoutMs = 20000)
    {
        const int before = page.frames.size();
        page.sendJson(installCommand());
        return QTest::qWaitFor(
            [&] {
                for (int i = before; i < page.frames.size(); ++i) {
                    const QJsonObject frame = page.frame(i);
                    if (frame == errorFrame(1006) || frame == errorFrame(1010) ||
                        frame.value(QLatin1String("message")).toInt() == 1009)
                        return true;
                }
                return false;
            },
            timeoutMs);
    }

    /// Sends an unusable envelope and waits for its answer, so every frame sent before has arrived.
    /// Puts the archive on the desktop, starts the connector, asks for an installation and waits until the
    /// connector's 7-Zip runs; its process id goes to unpacker.
    bool startUnpacking(const QString &archiveFile, const QUrl &server, qint64 *unpacker)
    {
        if (!copyFile(archiveFile, archive()) || !start(server))
            return false;
        page.sendJson(installCommand());
        const QString name = QFileInfo(sevenZip()).fileName();
        return QTest::qWaitFor([&] { return (*unpacker = findChildProcess(connector.process.processId(), name)) != 0; },
                               10000);
    }

    bool ping()
    {
        const int before = page.frames.size();
        page.send(QStringLiteral("not an envelope"));
        return QTest::qWaitFor(
            [&] {
                for (int i = before; i < page.frames.size(); ++i)
                    if (page.frame(i) == errorFrame(2))
                        return true;
                return false;
            },
            5000);
    }

    QList<QJsonObject> frames(int from = 0) const
    {
        QList<QJsonObject> result;
        for (int i = from; i < page.frames.size(); ++i)
            result.append(page.frame(i));
        return result;
    }

    /// The frames without the download's progress steps (the first 1002 {"percent": 0} stays).
    QList<QJsonObject> framesWithoutProgress(int from = 0) const
    {
        QList<QJsonObject> result;
        const QList<QJsonObject> all = frames(from);
        for (const QJsonObject &frame : all)
            if (!isProgress(frame) || result.isEmpty())
                result.append(frame);
        return result;
    }
};

class TestHelixInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installs_data();
    void installs();
    void downloadOfUnknownSize();
    void downloadsOverHttps_data();
    void downloadsOverHttps();
    void failedDownloadLeavesNoArchive_data();
    void failedDownloadLeavesNoArchive();
    void brokenArchiveStartsNothing_data();
    void brokenArchiveStartsNothing();
    void installerThatCannotStart();
    void unpackerMissing();
    void archiveCannotBeWritten();
    void diskFullDuringDownload();
    void staleUnpackFolderIsRemoved();
    void secondRequestJoinsTheRunningInstallation();
    void channelAnswersWhileUnpacking();
    void unpackerKilledIsAFailure();

private:
    QTemporaryDir shared;
    QString goodArchive;      // the stand-in installer and two further files
    QString largeArchive;     // the stand-in and a large file that takes 7-Zip a while to write
    QString noInstaller;      // a valid archive without "HelixSetup.exe"
    QString notExecutable;    // the stand-in without permission to run
    QString truncatedArchive; // the first part of goodArchive
    QString encrypted;        // goodArchive's files behind a password
    std::unique_ptr<ArchiveServer> server;
};

void TestHelixInstall::initTestCase()
{
    if (sevenZip().isEmpty())
        QSKIP("7-Zip (7zz or 7z) is not installed");
    QVERIFY(QFileInfo(ConnectorProcess::executable()).isExecutable());

    QString error;
    const ArchiveEntry readme{QStringLiteral("readme.txt"), "Helix setup\n", false, 0};
    QByteArray data(64 * 1024, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    const ArchiveEntry payload{QStringLiteral("data/helix.cab"), data, false, 0};

    goodArchive = shared.filePath(QStringLiteral("good.zip"));
    QVERIFY2(makeArchive(goodArchive, {installerEntry(), readme, payload}, &error), qPrintable(error));
    largeArchive = shared.filePath(QStringLiteral("large.zip"));
    QVERIFY2(makeArchive(largeArchive,
                         {installerEntry(), {QStringLiteral("data/large.cab"), {}, false, qint64(256) * 1024 * 1024}},
                         &error),
             qPrintable(error));
    noInstaller = shared.filePath(QStringLiteral("no-installer.zip"));
    QVERIFY2(makeArchive(noInstaller, {readme, payload}, &error), qPrintable(error));
    notExecutable = shared.filePath(QStringLiteral("not-executable.zip"));
    QVERIFY2(makeArchive(notExecutable, {installerEntry(false), readme}, &error), qPrintable(error));

    encrypted = shared.filePath(QStringLiteral("encrypted.zip"));
    QVERIFY2(makeArchive(encrypted, {installerEntry(), readme}, &error, {QStringLiteral("-psecret")}),
             qPrintable(error));
    truncatedArchive = shared.filePath(QStringLiteral("truncated.zip"));
    const QByteArray good = readFile(goodArchive);
    QFile truncated(truncatedArchive);
    QVERIFY(truncated.open(QIODevice::WriteOnly));
    truncated.write(good.left(good.size() / 2));
    truncated.close();

    server = std::make_unique<ArchiveServer>();
    QVERIFY(server->listen());
}

void TestHelixInstall::installs_data()
{
    QTest::addColumn<bool>("onDesktop");
    QTest::addColumn<bool>("blankInPath");

    QTest::addRow("downloaded") << false << false;
    QTest::addRow("downloaded to a desktop path holding a blank") << false << true;
    QTest::addRow("archive already on the desktop") << true << false;
    QTest::addRow("archive on a desktop path holding a blank") << true << true;
}

void TestHelixInstall::installs()
{
    QFETCH(bool, onDesktop);
    QFETCH(bool, blankInPath);

    Workstation station(blankInPath);
    server->setFile(goodArchive);
    server->setMode(ArchiveServer::Mode::Slow);
    const int requestsBefore = server->requestCount();
    if (onDesktop)
        QVERIFY(copyFile(goodArchive, station.archive()));
    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());

    const QList<QJsonObject> frames = station.frames();
    QList<QJsonObject> expected{messageFrame(1002, percent(0))};
    if (onDesktop) {
        expected << messageFrame(1004, percent(0));
        QCOMPARE(server->requestCount(), requestsBefore);
        QCOMPARE(station.framesWithoutProgress(), frames); // no progress steps without a download
    } else {
        expected << messageFrame(1003, {{QStringLiteral("folder"), station.desktop}}) << messageFrame(1004);
        QCOMPARE(server->requestCount(), requestsBefore + 1);
        QCOMPARE(server->requestedPaths().last(), archivePath);

        // The download arrives in pieces: several steps, rising, ending at 100.
        QList<qint64> steps;
        for (int i = 1; i < frames.size() && isProgress(frames.at(i)); ++i)
            steps.append(
                frames.at(i).value(QLatin1String("args")).toObject().value(QLatin1String("percent")).toInt(-1));
        QVERIFY2(steps.size() >= 3, qPrintable(QString::number(steps.size())));
        QVERIFY(std::is_sorted(steps.cbegin(), steps.cend()));
        QVERIFY(steps.first() >= 0);
        QCOMPARE(steps.last(), qint64(100));
        QVERIFY(std::any_of(steps.cbegin(), steps.cend(), [](qint64 step) { return step > 0 && step < 100; }));
    }
    expected << messageFrame(1004, {{QStringLiteral("folder"), station.desktop}})
             << messageFrame(1009, {{QStringLiteral("path"), station.installer()}});
    QCOMPARE(station.framesWithoutProgress(), expected);

    // The installer runs in its own folder, without arguments.
    QTRY_COMPARE(readFile(station.record()), (station.desktop + QStringLiteral("HelixSetup|0\n")).toUtf8());
    QCOMPARE(readFile(station.archive()), readFile(goodArchive));
    QCOMPARE(entries(station.desktop), (QStringList{QStringLiteral("HelixSetup"), QStringLiteral("HelixSetup.zip")}));
    QCOMPARE(entries(station.desktop + QStringLiteral("HelixSetup")),
             (QStringList{QStringLiteral("HelixSetup.exe"), QStringLiteral("data"), QStringLiteral("readme.txt")}));

    const QString command = QStringLiteral("Start command: ") + sevenZip() + QStringLiteral(" x ") + station.archive() +
                            QStringLiteral(" -o") + station.desktop + QStringLiteral("HelixSetup/ -r -y");
    QVERIFY2(station.connector.log().contains(command), qPrintable(station.connector.log()));
    QVERIFY(station.connector.log().contains(QLatin1String("Zip extraction status: 0")));
}

void TestHelixInstall::downloadOfUnknownSize()
{
    Workstation station;
    server->setFile(goodArchive);
    server->setMode(ArchiveServer::Mode::NoLength);
    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());

    // Without a size there is no percentage while the data arrives; the network layer reports the whole
    // at the end, which makes one 100 %.
    QCOMPARE(station.framesWithoutProgress(),
             (QList<QJsonObject>{messageFrame(1002, percent(0)),
                                 messageFrame(1003, {{QStringLiteral("folder"), station.desktop}}), messageFrame(1004),
                                 messageFrame(1004, {{QStringLiteral("folder"), station.desktop}}),
                                 messageFrame(1009, {{QStringLiteral("path"), station.installer()}})}));
    const QList<QJsonObject> frames = station.frames();
    QCOMPARE(
        std::count_if(frames.cbegin() + 1, frames.cend(), [](const QJsonObject &frame) { return isProgress(frame); }),
        std::count(frames.cbegin() + 1, frames.cend(), messageFrame(1002, percent(100))));
    QCOMPARE(readFile(station.archive()), readFile(goodArchive));
}

void TestHelixInstall::downloadsOverHttps_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addRow("authority trusted by the workstation") << true;
    QTest::addRow("unknown authority") << false;
}

void TestHelixInstall::downloadsOverHttps()
{
    QFETCH(bool, trusted);
    if (!privateMountsAvailable())
        QSKIP("needs a private mount namespace (unshare --mount, as root) to give the connector a test authority");

    QTemporaryDir certificates;
    TestTls tls;
    QString error;
    QVERIFY2(makeTls(certificates.path(), &tls, &error), qPrintable(error));
    ArchiveServer secure;
    secure.setTls(tls.certificate, tls.key);
    secure.setFile(goodArchive);
    QVERIFY(secure.listen());

    Workstation station;
    if (trusted) {
        // The connector trusts the workstation's certificate store; here that store holds the test authority,
        // placed over /etc/ssl/certs for the connector alone.
        station.connector.launcher =
            launcherWithMount(QStringLiteral("mount --bind \"$1\" /etc/ssl/certs"), tls.authorityFolder);
    }
    QVERIFY(station.start(secure.baseUrl()));
    QVERIFY(station.install());
    QCOMPARE(secure.baseUrl().scheme(), QStringLiteral("https"));

    if (trusted) {
        QCOMPARE(station.framesWithoutProgress().last(),
                 messageFrame(1009, {{QStringLiteral("path"), station.installer()}}));
        QCOMPARE(readFile(station.archive()), readFile(goodArchive));
        QTRY_VERIFY(QFile::exists(station.record()));
    } else {
        QCOMPARE(station.framesWithoutProgress(),
                 (QList<QJsonObject>{messageFrame(1002, percent(0)), errorFrame(1006)}));
        QCOMPARE(entries(station.desktop), QStringList());
    }
}

void TestHelixInstall::failedDownloadLeavesNoArchive_data()
{
    QTest::addColumn<ArchiveServer::Mode>("mode");
    QTest::addRow("404 not found") << ArchiveServer::Mode::NotFound;
    QTest::addRow("redirect, not followed") << ArchiveServer::Mode::Redirect;
    QTest::addRow("transfer cut short") << ArchiveServer::Mode::CutShort;
    QTest::addRow("connection dropped") << ArchiveServer::Mode::Drop;
}

void TestHelixInstall::failedDownloadLeavesNoArchive()
{
    QFETCH(ArchiveServer::Mode, mode);

    Workstation station;
    server->setFile(goodArchive);
    server->setMode(mode);
    const int requestsBefore = server->requestCount();
    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());
    QVERIFY(station.ping());

    // 1006 ends the installation: nothing saved, unpacked or started.
    QCOMPARE(station.framesWithoutProgress(),
             (QList<QJsonObject>{messageFrame(1002, percent(0)), errorFrame(1006), errorFrame(2)}));
    // Only the archive's address is asked for: a redirect is not followed. (Qt itself asks once more when a
    // connection closes before any answer.)
    const int requestsAfterFailure = server->requestCount();
    QVERIFY(requestsAfterFailure > requestsBefore);
    const QStringList paths = server->requestedPaths().mid(requestsBefore);
    QVERIFY(std::all_of(paths.cbegin(), paths.cend(), [](const QString &path) { return path == archivePath; }));
    QCOMPARE(entries(station.desktop), QStringList());
    QVERIFY(!QFile::exists(station.record()));

    // The next request downloads again instead of reusing anything of the failed one.
    server->setMode(ArchiveServer::Mode::Serve);
    const int next = station.page.frames.size();
    QVERIFY(station.install());
    QCOMPARE(server->requestCount(), requestsAfterFailure + 1);
    QCOMPARE(station.framesWithoutProgress(next).last(),
             messageFrame(1009, {{QStringLiteral("path"), station.installer()}}));
    QCOMPARE(readFile(station.archive()), readFile(goodArchive));
}

void TestHelixInstall::brokenArchiveStartsNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("downloaded");
    QTest::addColumn<bool>("unpackerFails");

    QTest::addRow("garbage on the desktop") << QStringLiteral("garbage") << false << true;
    QTest::addRow("garbage downloaded") << QStringLiteral("garbage") << true << true;
    QTest::addRow("empty file on the desktop") << QStringLiteral("empty") << false << true;
    QTest::addRow("truncated archive on the desktop") << QStringLiteral("truncated") << false << true;
    QTest::addRow("archive without the installer") << QStringLiteral("no installer") << false << false;
    // 7-Zip asks for the password; with nothing to read from it gives up instead of waiting forever.
    QTest::addRow("archive behind a password") << QStringLiteral("encrypted") << false << true;
}

void TestHelixInstall::brokenArchiveStartsNothing()
{
    QFETCH(QString, kind);
    QFETCH(bool, downloaded);
    QFETCH(bool, unpackerFails);

    Workstation station;
    const QString source = station.dir.filePath(QStringLiteral("source.zip"));
    if (kind == QLatin1String("garbage")) {
        QFile garbage(source);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray("<html>this is no archive</html>").repeated(100));
    } else if (kind == QLatin1String("empty")) {
        QFile empty(source);
        QVERIFY(empty.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(copyFile(kind == QLatin1String("truncated")   ? truncatedArchive
                         : kind == QLatin1String("encrypted") ? encrypted
                                                              : noInstaller,
                         source));
    }
    if (downloaded) {
        server->setFile(source);
        server->setMode(ArchiveServer::Mode::Serve);
    } else {
        QVERIFY(copyFile(source, station.archive()));
    }

    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());
    QList<QJsonObject> expected{messageFrame(1002, percent(0))};
    if (downloaded)
        expected << messageFrame(1003, {{QStringLiteral("folder"), station.desktop}}) << messageFrame(1004);
    else
        expected << messageFrame(1004, percent(0));
    expected << messageFrame(1004, {{QStringLiteral("folder"), station.desktop}}) << errorFrame(1010);
    QCOMPARE(station.framesWithoutProgress(), expected);
    // 7-Zip may have written part of the files before it gave up; none of them is started.
    QVERIFY(!QFile::exists(station.record()));
    QVERIFY(station.connector.log().contains(QLatin1String("Zip extraction status:")));
    QCOMPARE(station.connector.log().contains(QLatin1String("Zip extraction status: 0")), !unpackerFails);
}

void TestHelixInstall::installerThatCannotStart()
{
    Workstation station;
    QVERIFY(copyFile(notExecutable, station.archive()));
    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());
    QVERIFY(station.ping());

    // 1009 goes out just before the start is tried; the failed start follows as 1010.
    QCOMPARE(station.frames(), (QList<QJsonObject>{messageFrame(1002, percent(0)), messageFrame(1004, percent(0)),
                                                   messageFrame(1004, {{QStringLiteral("folder"), station.desktop}}),
                                                   messageFrame(1009, {{QStringLiteral("path"), station.installer()}}),
                                                   errorFrame(1010), errorFrame(2)}));
    QVERIFY(QFile::exists(station.installer()));
    QVERIFY(!QFile::exists(station.record()));
}

void TestHelixInstall::unpackerMissing()
{
    Workstation station;
    QVERIFY(copyFile(goodArchive, station.archive()));
    QProcessEnvironment environment = connectorEnvironment(station.home);
    // No 7-Zip beside the connector and none on this PATH.
    const QString emptyBin = station.dir.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(emptyBin));
    environment.insert(QStringLiteral("PATH"), emptyBin);
    QVERIFY(station.start(server->baseUrl(), environment));
    QVERIFY(station.install());

    QCOMPARE(station.frames(),
             (QList<QJsonObject>{messageFrame(1002, percent(0)), messageFrame(1004, percent(0)),
                                 messageFrame(1004, {{QStringLiteral("folder"), station.desktop}}), errorFrame(1010)}));
    QVERIFY(station.connector.log().contains(QLatin1String("/7-Zip/7z x ")));
    QVERIFY(!QFile::exists(station.record()));
}

void TestHelixInstall::archiveCannotBeWritten()
{
    Workstation station;
    // A file where the desktop folder should be: nothing can be written there (even as root).
    QVERIFY(QDir(station.desktop).removeRecursively());
    QFile blocker(station.home + QStringLiteral("/Desktop"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    server->setFile(goodArchive);
    server->setMode(ArchiveServer::Mode::Serve);
    const int requestsBefore = server->requestCount();

    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());
    QCOMPARE(station.frames(), (QList<QJsonObject>{messageFrame(1002, percent(0)), errorFrame(1010)}));
    QCOMPARE(server->requestCount(), requestsBefore);
}

void TestHelixInstall::diskFullDuringDownload()
{
    if (!privateMountsAvailable())
        QSKIP("needs a private mount namespace (unshare --mount, as root) to give the connector a small desktop");
    Workstation station;
    // A desktop of 128 KiB, for the connector alone: the archive does not fit.
    station.connector.launcher =
        launcherWithMount(QStringLiteral("mount -t tmpfs -o size=128k tmpfs \"$1\""), station.desktop);
    server->setFile(largeArchive);
    server->setMode(ArchiveServer::Mode::Slow);
    QVERIFY(QFileInfo(largeArchive).size() > 2 * 128 * 1024);
    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());

    QCOMPARE(station.framesWithoutProgress(), (QList<QJsonObject>{messageFrame(1002, percent(0)), errorFrame(1010)}));
    // The partial archive is gone from the connector's view of its desktop.
    const QString seenByConnector =
        QStringLiteral("/proc/%1/root").arg(station.connector.process.processId()) + station.desktop;
    QVERIFY(QFileInfo(seenByConnector).isDir());
    QCOMPARE(entries(seenByConnector), QStringList());
}

void TestHelixInstall::staleUnpackFolderIsRemoved()
{
    Workstation station;
    const QString unpack = station.desktop + QStringLiteral("HelixSetup/");
    QVERIFY(QDir().mkpath(unpack + QStringLiteral("old/deeper")));
    for (const QString &name :
         {QStringLiteral("stale.txt"), QStringLiteral("old/deeper/left.dll"), QStringLiteral("HelixSetup.exe")}) {
        QFile file(unpack + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("from an earlier installation");
    }
    QVERIFY(copyFile(goodArchive, station.archive()));
    QVERIFY(station.start(server->baseUrl()));
    QVERIFY(station.install());

    QCOMPARE(station.frames().last(), messageFrame(1009, {{QStringLiteral("path"), station.installer()}}));
    QCOMPARE(entries(unpack),
             (QStringList{QStringLiteral("HelixSetup.exe"), QStringLiteral("data"), QStringLiteral("readme.txt")}));
    QCOMPARE(readFile(station.installer()), standInInstaller());
    QTRY_VERIFY(QFile::exists(station.record()));
}

void TestHelixInstall::secondRequestJoinsTheRunningInstallation()
{
    Workstation station;
    ArchiveServer holding;
    holding.setFile(largeArchive);
    holding.setMode(ArchiveServer::Mode::Hold);
    QVERIFY(holding.listen());
    QVERIFY(station.start(holding.baseUrl()));

    station.page.sendJson(installCommand());
    const qint64 half = QFileInfo(largeArchive).size() / 2;
    QTRY_COMPARE(holding.heldBytesSent(), half);
    QCOMPARE(holding.requestCount(), 1);

    // While the first download is held, a second request only gets its 0 % (progress steps of the running
    // download may come in between).
    const int before = station.page.frames.size();
    station.page.sendJson(installCommand());
    QVERIFY(station.ping());
    QList<QJsonObject> joined = station.frames(before);
    joined.erase(std::remove_if(joined.begin(), joined.end(),
                                [](const QJsonObject &frame) {
                                    return isProgress(frame) && frame != messageFrame(1002, percent(0));
                                }),
                 joined.end());
    QCOMPARE(joined, (QList<QJsonObject>{messageFrame(1002, percent(0)), errorFrame(2)}));

    holding.release();
    QTRY_VERIFY_WITH_TIMEOUT(station.frames().last().value(QLatin1String("message")).toInt() == 1009, 20000);
    QCOMPARE(holding.requestCount(), 1);
    const QList<QJsonObject> frames = station.frames();
    QCOMPARE(
        std::count_if(frames.cbegin(), frames.cend(),
                      [](const QJsonObject &frame) { return frame.value(QLatin1String("message")).toInt() == 1003; }),
        1);
    QCOMPARE(
        std::count_if(frames.cbegin(), frames.cend(),
                      [](const QJsonObject &frame) { return frame.value(QLatin1String("message")).toInt() == 1009; }),
        1);
    QTRY_COMPARE(readFile(station.record()), (station.desktop + QStringLiteral("HelixSetup|0\n")).toUtf8());

    // Once it is over, a new request starts a new installation, which finds the archive.
    const int next = station.page.frames.size();
    QVERIFY(station.install());
    QCOMPARE(station.frames(next).value(1), messageFrame(1004, percent(0)));
    QCOMPARE(station.frames().last(), messageFrame(1009, {{QStringLiteral("path"), station.installer()}}));
    QCOMPARE(holding.requestCount(), 1);
}

void TestHelixInstall::channelAnswersWhileUnpacking()
{
    Workstation station;
    qint64 unpacker = 0;
    QVERIFY2(station.startUnpacking(largeArchive, server->baseUrl(), &unpacker), "7-Zip was not seen running");

    // Hold the real 7-Zip in the middle of its work; the connector must go on answering.
    QVERIFY(signalProcess(unpacker, SIGSTOP));
    const ResumeOnExit resume{unpacker};

    // 7-Zip is stopped, so an answer at all shows the unpacking does not hold up the channel.
    QVERIFY(station.ping());
    QCOMPARE(station.frames(),
             (QList<QJsonObject>{messageFrame(1002, percent(0)), messageFrame(1004, percent(0)),
                                 messageFrame(1004, {{QStringLiteral("folder"), station.desktop}}), errorFrame(2)}));

    QVERIFY(signalProcess(unpacker, SIGCONT));
    QTRY_COMPARE_WITH_TIMEOUT(station.frames().last(),
                              messageFrame(1009, {{QStringLiteral("path"), station.installer()}}), 20000);
}

void TestHelixInstall::unpackerKilledIsAFailure()
{
    Workstation station;
    qint64 unpacker = 0;
    QVERIFY2(station.startUnpacking(largeArchive, server->baseUrl(), &unpacker), "7-Zip was not seen running");
    QVERIFY(signalProcess(unpacker, SIGKILL));

    QTRY_COMPARE(station.frames().size(), 4);
    QCOMPARE(station.frames().last(), errorFrame(1010));
    QVERIFY(!QFile::exists(station.record()));
}

QTEST_GUILESS_MAIN(TestHelixInstall)
#include "tst_helixinstall.moc"
