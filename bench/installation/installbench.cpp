// Installs from a large archive (200 MB by default) served over loopback and reports the connector's resident
// memory against its idle figure and the longest round trip of a ping sent every 20 ms meanwhile.
//   bench_installation [archive size in MB]
// Binds port 1024 like the connector: run it in a private network namespace, for example
//   unshare --net -- sh -c 'ip link set lo up && build/bench/installation/bench_installation'
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "archiveserver.h"
#include "connectorprocess.h"
#include "installationfixture.h"

namespace {

constexpr int pingIntervalMs = 20;
constexpr int installTimeoutMs = 10 * 60 * 1000;

double mebibytes(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

/// A "VmRSS" or "VmHWM" figure of a process, in bytes.
qint64 memoryFigure(qint64 pid, const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

/// Writes size bytes of random data (incompressible, so the archive is as large as its content).
bool writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += block.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        if (file.write(block.constData(), qMin<qint64>(block.size(), size - written)) < 0)
            return false;
    }
    return true;
}

bool makeStoredArchive(const QString &zipPath, qint64 size, QString *error)
{
    QTemporaryDir staging;
    QDir().mkpath(staging.filePath(QStringLiteral("data")));
    QFile installer(staging.filePath(QStringLiteral("HelixSetup.exe")));
    if (!installer.open(QIODevice::WriteOnly) ||
        !writeRandomFile(staging.filePath(QStringLiteral("data/helix.cab")), size)) {
        *error = QStringLiteral("cannot write the archive's content");
        return false;
    }
    installer.write(InstallationFixture::standInInstaller());
    installer.close();
    installer.setPermissions(installer.permissions() | QFileDevice::ExeOwner);

    QProcess zip;
    zip.setWorkingDirectory(staging.path());
    zip.setProcessChannelMode(QProcess::MergedChannels);
    // Stored, not compressed: random data would not shrink, and the download then carries the full size.
    zip.start(InstallationFixture::sevenZip(),
              {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mx0"), zipPath,
               QStringLiteral("HelixSetup.exe"), QStringLiteral("data/helix.cab")});
    if (!zip.waitForFinished(installTimeoutMs) || zip.exitCode() != 0) {
        *error = QString::fromLocal8Bit(zip.readAll());
        return false;
    }
    return true;
}

/// A minimal page: a WebSocket client that writes every frame in one piece with Nagle's algorithm off and
/// acknowledges at once, so a round trip measures the connector and not the coalescing of small TCP segments
/// (a frame written as header and payload apart waits for the peer's delayed acknowledgement, up to 40 ms).
class RawPage : public QObject
{
public:
    std::function<void(const QJsonObject &)> onFrame;

    bool open()
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), 1024);
        if (!socket.waitForConnected(5000))
            return false;
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:1024\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        const bool upgraded = QTest::qWaitFor(
            [&] {
                buffer += socket.readAll();
                return buffer.contains("\r\n\r\n");
            },
            5000);
        if (!upgraded || !buffer.startsWith("HTTP/1.1 101"))
            return false;
        buffer.remove(0, buffer.indexOf("\r\n\r\n") + 4);
        connect(&socket, &QTcpSocket::readyRead, this, &RawPage::readFrames);
        return true;
    }

    void send(const QByteArray &text)
    {
        QByteArray frame;
        frame.append(char(0x81));
        if (text.size() < 126) {
            frame.append(char(0x80 | text.size()));
        } else {
            frame.append(char(0x80 | 126));
            frame.append(char(text.size() >> 8));
            frame.append(char(text.size() & 0xff));
        }
        const char mask[4] = {0x12, 0x34, 0x56, 0x78};
        frame.append(mask, 4);
        for (int i = 0; i < text.size(); ++i)
            frame.append(char(text.at(i) ^ mask[i % 4]));
        socket.write(frame);
        socket.flush();
        acknowledgeAtOnce();
    }

private:
    /// Acknowledges at once instead of after the delayed-acknowledgement timer: the connector writes a frame's
    /// header and payload apart, and the payload waits for that acknowledgement (Nagle's algorithm).
    void acknowledgeAtOnce()
    {
        const int on = 1;
        ::setsockopt(int(socket.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }

    void readFrames()
    {
        buffer += socket.readAll();
        acknowledgeAtOnce();
        for (;;) {
            if (buffer.size() < 2)
                return;
            qint64 length = quint8(buffer.at(1)) & 0x7f;
            int header = 2;
            if (length == 126) {
                if (buffer.size() < 4)
                    return;
                length = (quint8(buffer.at(2)) << 8) | quint8(buffer.at(3));
                header = 4;
            } else if (length == 127) {
                if (buffer.size() < 10)
                    return;
                length = 0;
                for (int i = 2; i < 10; ++i)
                    length = (length << 8) | quint8(buffer.at(i));
                header = 10;
            }
            if (buffer.size() < header + length)
                return;
            const QByteArray payload = buffer.mid(header, int(length));
            buffer.remove(0, header + int(length));
            if (onFrame)
                onFrame(QJsonDocument::fromJson(payload).object());
        }
    }

    QTcpSocket socket;
    QByteArray buffer;
};

/// Figures of one stretch of an installation.
struct Stretch
{
    qint64 longestMs = 0;
    int pings = 0;
    qint64 startedMs = -1;
    qint64 endedMs = -1;
    qint64 highestRss = 0;

    double seconds() const { return (endedMs - startedMs) / 1000.0; }
};

/// Sends "INSTALL_HELIX" and, until the installation ends, a ping 20 ms after each answer; the round trip of a
/// ping is how long the connector's event loop was held. Returns the last frame code (1009 on success).
int measureInstallation(RawPage &page, qint64 pid, Stretch *download, Stretch *unpack)
{
    Stretch *stretch = download;
    QElapsedTimer clock;
    clock.start();
    std::deque<qint64> pending;
    bool over = false;
    int outcome = 0;
    QEventLoop loop;
    QTimer pinger;
    pinger.setSingleShot(true);
    pinger.setInterval(pingIntervalMs);
    QObject::connect(&pinger, &QTimer::timeout, [&] {
        pending.push_back(clock.elapsed());
        page.send("ping");
        stretch->highestRss = qMax(stretch->highestRss, memoryFigure(pid, "VmRSS"));
    });
    page.onFrame = [&](const QJsonObject &frame) {
        const qint64 now = clock.elapsed();
        if (frame.value(QLatin1String("error")).toInt() == 2 && !pending.empty()) {
            stretch->longestMs = qMax(stretch->longestMs, now - pending.front());
            ++stretch->pings;
            pending.pop_front();
            if (over)
                loop.quit();
            else
                pinger.start();
            return;
        }
        const int message = frame.value(QLatin1String("message")).toInt();
        if (message == 1003) {
            download->endedMs = now;
        } else if (message == 1004 && frame.value(QLatin1String("args")).toObject().contains(QLatin1String("folder"))) {
            unpack->startedMs = now;
            stretch = unpack;
        } else if (message == 1009 || frame.contains(QLatin1String("error"))) {
            unpack->endedMs = now;
            outcome = message == 1009 ? 1009 : frame.value(QLatin1String("error")).toInt();
            over = true;
            if (pending.empty())
                loop.quit();
        }
    };

    download->startedMs = clock.elapsed();
    page.send(R"({"type": "AUDIOMETRY", "appPath": "/opt/helix/", "args": {"command": "INSTALL_HELIX"}})");
    pinger.start();
    // A plain event loop: QTest's waiting sleeps between rounds, which would add to every round trip.
    QTimer::singleShot(installTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    page.onFrame = nullptr;
    return over ? outcome : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const qint64 sizeMb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    if (qEnvironmentVariableIsEmpty("CONNECTOR_BIN"))
        qputenv("CONNECTOR_BIN", CONNECTOR_BIN_DEFAULT);
    if (InstallationFixture::sevenZip().isEmpty()) {
        std::fprintf(stderr, "7-Zip (7zz or 7z) is not installed\n");
        return 1;
    }

    QTemporaryDir work;
    const QString home = work.filePath(QStringLiteral("bench operator"));
    const QString desktop = home + QStringLiteral("/Desktop/");
    QDir().mkpath(desktop);
    const QString source = work.filePath(QStringLiteral("version_1.0.zip"));
    QString error;
    if (!makeStoredArchive(source, sizeMb * 1000 * 1000, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    // The server runs in a thread of its own, so its work does not delay the pings measured here.
    QThread serverThread;
    auto *server = new ArchiveServer;
    server->setFile(source);
    server->moveToThread(&serverThread);
    serverThread.start();
    QUrl serverUrl;
    QMetaObject::invokeMethod(
        server,
        [&] {
            if (server->listen())
                serverUrl = server->baseUrl();
        },
        Qt::BlockingQueuedConnection);
    const auto stopServer = [&] {
        QMetaObject::invokeMethod(server, &QObject::deleteLater);
        serverThread.quit();
        serverThread.wait();
    };

    ConnectorProcess connector;
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("download_server"), serverUrl.toString());
    RawPage page;
    if (!serverUrl.isValid() || !connector.start(configuration, InstallationFixture::connectorEnvironment(home)) ||
        !page.open()) {
        std::fprintf(stderr, "The connector did not start (is port 1024 free? run in a private network namespace)\n");
        stopServer();
        return 1;
    }
    const qint64 pid = connector.process.processId();
    QTest::qWait(1000); // let the connector settle before taking its idle figure
    const qint64 idleRss = memoryFigure(pid, "VmRSS");

    Stretch download, unpack, again, reunpack;
    const int first = measureInstallation(page, pid, &download, &unpack);
    const qint64 peakAfterDownload = memoryFigure(pid, "VmHWM");
    // Again with the archive on the desktop: no download, and the unpacked folder of the first run is removed.
    const int second = first == 1009 ? measureInstallation(page, pid, &again, &reunpack) : 0;
    const qint64 peak = memoryFigure(pid, "VmHWM");
    connector.stop();
    stopServer();
    if (first != 1009 || second != 1009) {
        std::fprintf(stderr, "An installation did not end with 1009 (%d, %d)\n%s\n", first, second,
                     qPrintable(connector.log()));
        return 1;
    }

    const double archiveMib = mebibytes(QFileInfo(source).size());
    std::printf("Installation from a %.1f MiB archive (stored, incompressible), local HTTP server\n", archiveMib);
    std::printf("  download            %6.2f s (%.0f MiB/s)  longest ping round trip %4lld ms (%d pings)\n",
                download.seconds(), archiveMib / download.seconds(), download.longestMs, download.pings);
    std::printf("  unpacking           %6.2f s               longest ping round trip %4lld ms (%d pings)\n",
                unpack.seconds(), unpack.longestMs, unpack.pings);
    std::printf("  archive on desktop: %6.2f s, removal of the unpacked folder and unpacking: longest ping round trip "
                "%lld ms (%d pings)\n",
                reunpack.endedMs / 1000.0, qMax(again.longestMs, reunpack.longestMs), again.pings + reunpack.pings);
    std::printf("  target: every round trip under 50 ms (one ping %d ms after each answer)\n", pingIntervalMs);
    std::printf("Resident memory of the connector: idle %.1f MiB; highest sampled during download %.1f MiB, during "
                "unpacking %.1f MiB\n",
                mebibytes(idleRss), mebibytes(download.highestRss), mebibytes(unpack.highestRss));
    std::printf("  peak (VmHWM) after the download %.1f MiB, %+.1f MiB over idle; after both runs %.1f MiB, %+.1f "
                "MiB (target: within 30 MiB)\n",
                mebibytes(peakAfterDownload), mebibytes(peakAfterDownload - idleRss), mebibytes(peak),
                mebibytes(peak - idleRss));
    return 0;
}
