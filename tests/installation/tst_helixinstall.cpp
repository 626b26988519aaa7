// "INSTALL_HELIX" in the test process: a real page socket, a local download server, the real 7-Zip, and a
// launcher that records the installer's start instead of running it.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

#include "archiveserver.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "installationfixture.h"
#include "platform/unpacker.h"

using namespace InstallationFixture;

namespace {

const QString archivePath = QStringLiteral("/audiometry/helix/version_1.0.zip");
const QJsonObject started = messageFrame(1002, {{QStringLiteral("percent"), 0}});

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

InProcessConnector::Options withServer(const QUrl &server)
{
    InProcessConnector::Options options;
    options.configuration.insert(QStringLiteral("download_server"), server.toString());
    return options;
}

/// The connector in the test process with a desktop of its own, and a page connected to it.
struct Station
{
    explicit Station(const QUrl &server) : connector(withServer(server)) {}

    bool open() { return connector.listening && page.open(connector.url()); }
    QString desktop() const { return connector.desktopFolder() + QLatin1Char('/'); }
    QString archive(const QString &name = QStringLiteral("HelixSetup.zip")) const { return desktop() + name; }
    QString unpacked(const QString &name = QStringLiteral("HelixSetup/")) const { return desktop() + name; }
    QJsonObject folder() const { return {{QStringLiteral("folder"), desktop()}}; }

    /// The frames of an installation, up to the unpacking, without the steps.
    QList<QJsonObject> downloading() const
    {
        return {started, messageFrame(1003, folder()), messageFrame(1004), messageFrame(1004, folder())};
    }
    QJsonObject setupStarted(const QString &unpackedAs = QStringLiteral("HelixSetup/")) const
    {
        return messageFrame(1009, {{QStringLiteral("path"), unpacked(unpackedAs) + QStringLiteral("HelixSetup.exe")}});
    }

    QList<QJsonObject> frames(int from = 0) const
    {
        QList<QJsonObject> result;
        for (int i = from; i < page.frames.size(); ++i)
            result.append(page.frame(i));
        return result;
    }

    /// Sends an unusable envelope and waits for its answer, so every frame sent before it has arrived; the
    /// frames from `from` up to that answer. (A missing answer shows in the frames the test compares.)
    QList<QJsonObject> settle(int from = 0)
    {
        const int sent = page.frames.size();
        page.send(QStringLiteral("not an envelope"));
        int answer = -1;
        (void)QTest::qWaitFor([&] { return (answer = frames().indexOf(errorFrame(2), sent)) >= 0; }, 5000);
        return frames(from).mid(0, answer < 0 ? -1 : answer - from);
    }

    /// Sends "INSTALL_HELIX" and returns its frames once one of them ends the installation (1006, 1010, 1009).
    QList<QJsonObject> install()
    {
        const int from = page.frames.size();
        page.sendJson(installCommand());
        (void)QTest::qWaitFor(
            [&] {
                const QList<int> codes = page.codes().mid(from);
                return codes.contains(1006) || codes.contains(1010) || codes.contains(1009);
            },
            20000);
        return settle(from);
    }

    /// Expects the debug line the system defines for 7-Zip's command.
    void expectUnpackerStart(const QString &program, const QString &archiveName, const QString &unpackedAs) const
    {
        const QString line = QStringLiteral("Start command: ") + program + QStringLiteral(" x ") +
                             archive(archiveName) + QStringLiteral(" -o") + unpacked(unpackedAs) +
                             QStringLiteral(" -r -y");
        QTest::ignoreMessage(QtDebugMsg, line.toUtf8().constData());
    }

    InProcessConnector connector;
    PageClient page;
};

} // namespace

class TestHelixInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installs_data();
    void installs();
    void downloadsOverHttps_data();
    void downloadsOverHttps();
    void failedDownloadLeavesNoArchive_data();
    void failedDownloadLeavesNoArchive();
    void brokenArchiveStartsNothing_data();
    void brokenArchiveStartsNothing();
    void proxyAsksForCredentials();
    void installerThatCannotStart();
    void unpackerMissing();
    void archiveCannotBeWritten();
    void fullDiskDuringDownload();
    void secondRequestJoinsTheRunningInstallation();
    void whileUnpacking_data();
    void whileUnpacking();

private:
    QTemporaryDir shared;
    QString goodArchive;  // the stand-in installer and two further files
    QString largeArchive; // the stand-in, 1 MiB that does not shrink, and a large file that keeps 7-Zip busy
    ArchiveServer server;
};

void TestHelixInstall::initTestCase()
{
    if (sevenZip().isEmpty())
        QSKIP("7-Zip (7zz or 7z) is not installed");
    // Temporary folders, so the desktops, then hold a blank: 7-Zip and the installer must get them as one argument.
    QCoreApplication::setApplicationName(QStringLiteral("helix install"));

    const auto random = [](int size) {
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
        return data;
    };
    const ArchiveEntry readme{QStringLiteral("readme.txt"), "Helix setup\n", false, 0};
    const ArchiveEntry payload{QStringLiteral("data/helix.cab"), random(64 * 1024), false, 0};
    QString error;
    const auto make = [&](const QString &name, const QList<ArchiveEntry> &entries, const QStringList &options) {
        return makeArchive(shared.filePath(name), entries, &error, options);
    };
    QVERIFY2(make(QStringLiteral("good.zip"), {installerEntry(), readme, payload}, {}), qPrintable(error));
    QVERIFY2(make(QStringLiteral("large.zip"),
                  {installerEntry(),
                   {QStringLiteral("data/random.cab"), random(1024 * 1024), false, 0},
                   {QStringLiteral("data/large.cab"), {}, false, qint64(64) * 1024 * 1024}},
                  {}),
             qPrintable(error));
    QVERIFY2(make(QStringLiteral("no installer.zip"), {readme, payload}, {}), qPrintable(error));
    QVERIFY2(make(QStringLiteral("encrypted.zip"), {installerEntry(), readme}, {QStringLiteral("-psecret")}),
             qPrintable(error));
    goodArchive = shared.filePath(QStringLiteral("good.zip"));
    largeArchive = shared.filePath(QStringLiteral("large.zip"));
    const QByteArray good = readFile(goodArchive);
    QVERIFY(writeFile(shared.filePath(QStringLiteral("truncated.zip")), good.left(good.size() / 2)));
    QVERIFY(writeFile(shared.filePath(QStringLiteral("garbage.zip")),
                      QByteArray("<html>this is no archive</html>").repeated(100)));
    QVERIFY(writeFile(shared.filePath(QStringLiteral("empty.zip")), {}));
    QVERIFY(server.listen());
}

void TestHelixInstall::installs_data()
{
    QTest::addColumn<ArchiveServer::Mode>("mode");
    QTest::addColumn<bool>("planted");           // an archive of someone else's is on the desktop under the name
    QTest::addColumn<QString>("unpackedBefore"); // "HelixSetup/" before: none, "ours" or "the user's"

    QTest::addRow("downloaded in pieces") << ArchiveServer::Mode::Slow << false << QString();
    QTest::addRow("downloaded without a size") << ArchiveServer::Mode::NoLength << false << QString();
    // Only an archive the connector downloaded itself is unpacked and run.
    QTest::addRow("a planted archive") << ArchiveServer::Mode::Serve << true << QString();
    QTest::addRow("over an earlier unpacking of ours") << ArchiveServer::Mode::Serve << false << QStringLiteral("ours");
    QTest::addRow("beside a folder of the user's")
        << ArchiveServer::Mode::Serve << false << QStringLiteral("the user's");
}

void TestHelixInstall::installs()
{
    QFETCH(ArchiveServer::Mode, mode);
    QFETCH(bool, planted);
    QFETCH(QString, unpackedBefore);

    Station station(server.baseUrl());
    server.setFile(goodArchive);
    server.setMode(mode);
    QVERIFY(station.open());
    QString error;
    if (planted)
        QVERIFY2(makeArchive(station.archive(), {{QStringLiteral("HelixSetup.exe"), "planted", true, 0}}, &error),
                 qPrintable(error));
    const QByteArray plantedBytes = readFile(station.archive());
    if (unpackedBefore == QLatin1String("ours")) {
        // What an earlier installation of this connector left: the folder with its marker, and its archive.
        QVERIFY(station.install().endsWith(station.setupStarted()));
        QVERIFY(QFile::remove(station.archive()));
        station.connector.launcher.starts.clear();
    }
    const QStringList before{QStringLiteral("stale.txt"), QStringLiteral("old/left.dll"),
                             QStringLiteral("HelixSetup.exe")};
    for (const QString &name : before) {
        if (!unpackedBefore.isEmpty())
            QVERIFY(writeFile(station.unpacked() + name, "from before"));
    }
    const QString archiveName = planted ? QStringLiteral("HelixSetup-2.zip") : QStringLiteral("HelixSetup.zip");
    const QString unpackedAs =
        unpackedBefore == QLatin1String("the user's") ? QStringLiteral("HelixSetup-2/") : QStringLiteral("HelixSetup/");
    // The installation's own debug lines: 7-Zip's command and its exit status.
    station.expectUnpackerStart(unpackerProgram(), archiveName, unpackedAs);
    QTest::ignoreMessage(QtDebugMsg, "Zip extraction status: 0");
    const int requestsBefore = server.requestCount();
    const QList<QJsonObject> frames = station.install();

    QCOMPARE(withoutSteps(frames), station.downloading() << station.setupStarted(unpackedAs));
    QCOMPARE(server.requestCount(), requestsBefore + 1);
    QCOMPARE(server.requestedPaths().last(), archivePath);
    const QList<int> percents = steps(frames);
    if (mode == ArchiveServer::Mode::NoLength) {
        // Without a size there is no percentage while the data arrives, only the whole at the end.
        QVERIFY(std::all_of(percents.cbegin(), percents.cend(), [](int step) { return step == 100; }));
    } else if (mode == ArchiveServer::Mode::Slow) {
        // Several steps, rising, ending at 100.
        QVERIFY2(percents.size() >= 3, qPrintable(QString::number(percents.size())));
        QVERIFY(std::is_sorted(percents.cbegin(), percents.cend()) && percents.first() >= 0);
        QCOMPARE(percents.last(), 100);
        QVERIFY(std::any_of(percents.cbegin(), percents.cend(), [](int step) { return step > 0 && step < 100; }));
    }

    // The downloaded installer is started in its own folder, without arguments.
    QCOMPARE(station.connector.launcher.starts.size(), 1);
    const RecordingLauncher::Start start = station.connector.launcher.starts.first();
    QCOMPARE(start.program, station.unpacked(unpackedAs) + QStringLiteral("HelixSetup.exe"));
    QCOMPARE(start.arguments, QStringList());
    QCOMPARE(QDir::cleanPath(start.workingDirectory), QDir::cleanPath(station.unpacked(unpackedAs)));
    QCOMPARE(readFile(start.program), standInInstaller());
    QCOMPARE(readFile(station.archive(archiveName)), readFile(goodArchive));
    QCOMPARE(entries(station.unpacked(unpackedAs)),
             (QStringList{QStringLiteral(".sanvero-connector-unpacked"), QStringLiteral("HelixSetup.exe"),
                          QStringLiteral("data"), QStringLiteral("readme.txt")}));
    // Someone else's archive and folder are left as they were.
    if (planted)
        QCOMPARE(readFile(station.archive()), plantedBytes);
    if (unpackedBefore == QLatin1String("the user's")) {
        for (const QString &name : before)
            QCOMPARE(readFile(station.unpacked() + name), QByteArray("from before"));
    }
}

void TestHelixInstall::downloadsOverHttps_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addRow("certificate trusted by the workstation") << true;
    QTest::addRow("unknown certificate") << false;
}

void TestHelixInstall::downloadsOverHttps()
{
    QFETCH(bool, trusted);

    QTemporaryDir certificates;
    TestTls tls;
    QString error;
    QVERIFY2(makeTls(certificates.path(), &tls, &error), qPrintable(error));
    ArchiveServer secure;
    secure.setTls(tls.certificate, tls.key);
    secure.setFile(goodArchive);
    QVERIFY(secure.listen());
    QCOMPARE(secure.baseUrl().scheme(), QStringLiteral("https"));

    Station station(secure.baseUrl());
    QVERIFY(station.open());
    // The connector trusts the authorities of the process's default TLS configuration: the system's, and here
    // the test server's certificate too.
    const QSslConfiguration system = QSslConfiguration::defaultConfiguration();
    QSslConfiguration workstation = system;
    if (trusted)
        workstation.addCaCertificate(tls.certificate);
    QSslConfiguration::setDefaultConfiguration(workstation);
    const QList<QJsonObject> frames = station.install();
    QSslConfiguration::setDefaultConfiguration(system);

    if (trusted) {
        QCOMPARE(withoutSteps(frames), station.downloading() << station.setupStarted());
        QCOMPARE(readFile(station.archive()), readFile(goodArchive));
    } else {
        QCOMPARE(frames, (QList<QJsonObject>{started, errorFrame(1006)}));
        QCOMPARE(entries(station.desktop()), QStringList());
    }
    QCOMPARE(station.connector.launcher.starts.size(), trusted ? 1 : 0);
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

    Station station(server.baseUrl());
    server.setFile(goodArchive);
    server.setMode(mode);
    const int requestsBefore = server.requestCount();
    QVERIFY(station.open());
    const QList<QJsonObject> frames = station.install();

    // 1006 ends the installation: nothing saved, unpacked or started. Only the archive shows progress, no
    // error page.
    QCOMPARE(withoutSteps(frames), (QList<QJsonObject>{started, errorFrame(1006)}));
    QCOMPARE(steps(frames).isEmpty(), mode != ArchiveServer::Mode::CutShort);
    // Only the archive's address is asked for: a redirect is not followed. (Qt itself asks once more when a
    // connection closes before any answer.)
    const int requestsAfterFailure = server.requestCount();
    QVERIFY(requestsAfterFailure > requestsBefore);
    QCOMPARE(server.requestedPaths().mid(requestsBefore).filter(archivePath).size(),
             requestsAfterFailure - requestsBefore);
    QCOMPARE(entries(station.desktop()), QStringList());
    QCOMPARE(station.connector.launcher.starts.size(), 0);

    // The next request downloads again instead of reusing anything of the failed one.
    server.setMode(ArchiveServer::Mode::Serve);
    QCOMPARE(withoutSteps(station.install()), station.downloading() << station.setupStarted());
    QCOMPARE(server.requestCount(), requestsAfterFailure + 1);
    QCOMPARE(readFile(station.archive()), readFile(goodArchive));
}

void TestHelixInstall::brokenArchiveStartsNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addRow("garbage") << QStringLiteral("garbage.zip");
    QTest::addRow("empty file") << QStringLiteral("empty.zip");
    QTest::addRow("truncated archive") << QStringLiteral("truncated.zip");
    QTest::addRow("archive without the installer") << QStringLiteral("no installer.zip");
    // 7-Zip asks for the password; with nothing to read from it gives up instead of waiting forever.
    QTest::addRow("archive behind a password") << QStringLiteral("encrypted.zip");
}

void TestHelixInstall::brokenArchiveStartsNothing()
{
    QFETCH(QString, file);

    Station station(server.baseUrl());
    server.setFile(shared.filePath(file));
    server.setMode(ArchiveServer::Mode::Serve);
    QVERIFY(station.open());

    // 7-Zip may have written part of the files before it gave up; none of them is started.
    QCOMPARE(withoutSteps(station.install()), station.downloading() << errorFrame(1010));
    QCOMPARE(station.connector.launcher.starts.size(), 0);
}

// The workstation's proxy wants credentials the connector does not have: the download fails, and the log says why.
void TestHelixInstall::proxyAsksForCredentials()
{
    ArchiveServer proxy;
    proxy.setMode(ArchiveServer::Mode::ProxyWantsCredentials);
    QVERIFY(proxy.listen());
    Station station(QUrl(QStringLiteral("https://download.example.org")));
    station.page.socket.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(station.open());
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.serverPort()));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "^Download of .* failed: the proxy asks for credentials \\(HTTP 407\\)")));
    const QList<QJsonObject> frames = station.install();
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    QCOMPARE(frames, (QList<QJsonObject>{started, errorFrame(1006)}));
    QCOMPARE(proxy.requestedPaths().value(0), QStringLiteral("download.example.org:443"));
    QCOMPARE(entries(station.desktop()), QStringList());
}

void TestHelixInstall::installerThatCannotStart()
{
    Station station(server.baseUrl());
    server.setFile(goodArchive);
    server.setMode(ArchiveServer::Mode::Serve);
    station.connector.launcher.result = false;
    QVERIFY(station.open());

    // 1009 goes out just before the start is tried; the failed start follows as 1010.
    QCOMPARE(withoutSteps(station.install()), station.downloading() << station.setupStarted() << errorFrame(1010));
    QCOMPARE(station.connector.launcher.starts.size(), 1);
}

void TestHelixInstall::unpackerMissing()
{
    Station station(server.baseUrl());
    server.setFile(goodArchive);
    server.setMode(ArchiveServer::Mode::Serve);
    QVERIFY(station.open());
    // No 7-Zip beside the test program and none on this PATH: the place it should be is tried.
    const QTemporaryDir emptyFolder;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", emptyFolder.path().toLocal8Bit());
    const QString tried = unpackerProgram();
    const QList<QJsonObject> frames = station.install();
    qputenv("PATH", path);
    QCOMPARE(tried, QCoreApplication::applicationDirPath() + QStringLiteral("/7-Zip/7z"));

    QCOMPARE(withoutSteps(frames), station.downloading() << errorFrame(1010));
    QCOMPARE(station.connector.launcher.starts.size(), 0);
}

void TestHelixInstall::archiveCannotBeWritten()
{
    Station station(server.baseUrl());
    // A file where the desktop folder should be: nothing can be written there (even as root).
    const QString desktop = station.connector.desktopFolder();
    QVERIFY(QDir(desktop).removeRecursively() && writeFile(desktop, "not a folder"));
    const int requestsBefore = server.requestCount();
    QVERIFY(station.open());

    const QList<QJsonObject> frames = station.install();
    QVERIFY(QFile::remove(desktop));
    QCOMPARE(frames, (QList<QJsonObject>{started, errorFrame(1010)}));
    QCOMPARE(server.requestCount(), requestsBefore);
}

void TestHelixInstall::fullDiskDuringDownload()
{
    Station station(server.baseUrl());
    server.setFile(largeArchive);
    server.setMode(ArchiveServer::Mode::Slow);
    QVERIFY(station.open());

    // While the installation runs, no file of this process may grow beyond half the archive: writing it fails as
    // on a full disk (and does not end the process with SIGXFSZ).
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit full = saved;
    full.rlim_cur = QFileInfo(largeArchive).size() / 2;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &full);
    const QList<QJsonObject> frames = station.install();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);

    // The installation ends at once: no 1003, no unpacking, and the partial archive is gone.
    QCOMPARE(withoutSteps(frames), (QList<QJsonObject>{started, errorFrame(1010)}));
    QCOMPARE(entries(station.desktop()), QStringList());
}

void TestHelixInstall::secondRequestJoinsTheRunningInstallation()
{
    ArchiveServer holding;
    holding.setFile(goodArchive);
    holding.setMode(ArchiveServer::Mode::Hold);
    QVERIFY(holding.listen());
    Station station(holding.baseUrl());
    QVERIFY(station.open());
    station.page.sendJson(installCommand());
    QTRY_COMPARE(holding.heldBytesSent(), QFileInfo(goodArchive).size() / 2);

    // While the rest is held, a second request only gets its 0 % (steps of the running download, above 0 by
    // now, may come in between).
    const int second = station.page.frames.size();
    station.page.sendJson(installCommand());
    const QList<QJsonObject> joined = station.settle(second);
    QCOMPARE(joined.count(started), 1);
    QVERIFY(std::all_of(joined.cbegin(), joined.cend(), [](const QJsonObject &frame) {
        return frame.value(QLatin1String("message")).toInt() == 1002;
    }));

    // The first installation goes on to its end, once.
    holding.release();
    QTRY_VERIFY_WITH_TIMEOUT(station.frames().contains(station.setupStarted()), 20000);
    QList<QJsonObject> all = station.settle();
    all.removeAll(errorFrame(2));
    QCOMPARE(withoutSteps(all), station.downloading() << station.setupStarted());
    QCOMPARE(station.connector.launcher.starts.size(), 1);

    // Once it is over, a new request starts a new installation, which downloads afresh beside the first archive
    // and unpacks into the folder it made before.
    holding.setMode(ArchiveServer::Mode::Serve);
    QCOMPARE(withoutSteps(station.install()), station.downloading() << station.setupStarted());
    QCOMPARE(station.connector.launcher.starts.size(), 2);
    QCOMPARE(holding.requestCount(), 2);
    QCOMPARE(readFile(station.archive(QStringLiteral("HelixSetup-2.zip"))), readFile(goodArchive));
}

void TestHelixInstall::whileUnpacking_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addRow("7-Zip goes on") << false;
    QTest::addRow("7-Zip killed") << true;
}

void TestHelixInstall::whileUnpacking()
{
    QFETCH(bool, killed);

    ArchiveServer large;
    large.setFile(largeArchive);
    QVERIFY(large.listen());
    Station station(large.baseUrl());
    QVERIFY(station.open());
    station.page.sendJson(installCommand());
    QProcess *unpacker = nullptr;
    QVERIFY(QTest::qWaitFor([&] { return (unpacker = station.connector.router->findChild<QProcess *>()) != nullptr; },
                            10000));
    const auto pid = static_cast<pid_t>(unpacker->processId());

    // Hold the real 7-Zip in the middle of its work: an answer at all shows the unpacking does not hold up
    // the channel.
    QVERIFY(::kill(pid, SIGSTOP) == 0);
    QCOMPARE(withoutSteps(station.settle()), station.downloading());
    if (killed)
        unpacker->kill();
    ::kill(pid, SIGCONT);

    QTRY_VERIFY_WITH_TIMEOUT(station.page.codes().contains(killed ? 1010 : 1009), 20000);
    QCOMPARE(withoutSteps(station.settle()),
             station.downloading() << errorFrame(2) << (killed ? errorFrame(1010) : station.setupStarted()));
    QCOMPARE(station.connector.launcher.starts.size(), killed ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestHelixInstall)
#include "tst_helixinstall.moc"
