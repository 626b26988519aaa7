// Round trip of an invalid envelope over loopback, against the connector and against a reference echo server.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

#include "benchwait.h"

namespace {

struct Figures
{
    double messagesPerSecond = 0;
    double medianMicroseconds = 0;
    double p99Microseconds = 0;
};

// Processor time (user and system) a process has used so far, in seconds; -1 where /proc does not tell.
double cpuSeconds(qint64 pid)
{
#ifdef Q_OS_LINUX
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the parenthesised name: state is the first, utime the 12th, stime the 13th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
#else
    Q_UNUSED(pid)
    return -1;
#endif
}

// Sends the next message only after the answer to the previous one arrived; started runs once connected.
bool measure(const QUrl &url, int count, Figures *figures, const std::function<void()> &started = {})
{
    QWebSocket socket;
    std::vector<qint64> latencies;
    latencies.reserve(count);
    QElapsedTimer clock;
    qint64 sentAt = 0;
    int answered = 0;
    const QString message = QStringLiteral("{\"type\": \"AUDIOMETRY\", \"args\": {}}");
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &) {
        latencies.push_back(clock.nsecsElapsed() - sentAt);
        if (++answered < count) {
            sentAt = clock.nsecsElapsed();
            socket.sendTextMessage(message);
        }
    });
    for (int attempt = 0; attempt < 50 && socket.state() != QAbstractSocket::ConnectedState; ++attempt) {
        socket.open(url);
        waitFor(
            [&] {
                return socket.state() == QAbstractSocket::ConnectedState ||
                       socket.state() == QAbstractSocket::UnconnectedState;
            },
            2000);
        if (socket.state() != QAbstractSocket::ConnectedState)
            waitFor([] { return false; }, 100);
    }
    if (socket.state() != QAbstractSocket::ConnectedState)
        return false;
    if (started)
        started();
    clock.start();
    sentAt = clock.nsecsElapsed();
    socket.sendTextMessage(message);
    if (!waitFor([&] { return answered >= count; }, 120000))
        return false;
    const double total = double(clock.nsecsElapsed()) / 1e9;
    std::sort(latencies.begin(), latencies.end());
    figures->messagesPerSecond = count / total;
    figures->medianMicroseconds = latencies[latencies.size() / 2] / 1000.0;
    figures->p99Microseconds = latencies[latencies.size() * 99 / 100] / 1000.0;
    return true;
}

void print(const char *name, const Figures &figures)
{
    std::printf("%-28s %10.0f msg/s   median %8.1f us   p99 %8.1f us\n", name, figures.messagesPerSecond,
                figures.medianMicroseconds, figures.p99Microseconds);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_roundtrip CONNECTOR_BINARY [MESSAGES]\n");
        return 2;
    }
    const int count = args.size() > 2 ? args.at(2).toInt() : 20000;

    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("connector.json")));
    config.open(QIODevice::WriteOnly);
    config.write("{\"sessionids\": \"bench\"}");
    config.close();

    QProcess connector;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The log file is on, as in a clinic, but in the benchmark's own folder.
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
    // The connector writes every message to its debug log; the figures measure the channel, not the terminal.
    connector.setProcessEnvironment(env);
    connector.setStandardOutputFile(QProcess::nullDevice());
    connector.setStandardErrorFile(QProcess::nullDevice());
    connector.start(args.at(1), {config.fileName()});
    Figures ours;
    double cpuBefore = -1;
    const bool oursOk = measure(QUrl(QStringLiteral("ws://127.0.0.1:1024")), count, &ours,
                                [&] { cpuBefore = cpuSeconds(connector.processId()); });
    const double cpuAfter = cpuSeconds(connector.processId());
    connector.terminate();
    connector.waitForFinished();

    QProcess reference;
    reference.start(QStringLiteral("node"),
                    {QStringLiteral(CONNECTOR_SOURCE_DIR "/bench/channel/echo-server.mjs"), QStringLiteral("1025")});
    Figures theirs;
    const bool theirsOk = measure(QUrl(QStringLiteral("ws://127.0.0.1:1025")), count, &theirs);
    reference.kill();
    reference.waitForFinished();

    std::printf("Round trip of an invalid envelope, %d messages, sequential, loopback\n", count);
    if (oursOk) {
        print("connector (error frame 2)", ours);
        // Less shaken by other load on the machine than the times above.
        if (cpuBefore >= 0 && cpuAfter >= 0)
            std::printf("connector processor time per message: %.1f us\n", (cpuAfter - cpuBefore) * 1e6 / count);
    } else
        std::printf("connector: no answer\n");
    if (theirsOk)
        print("reference (Node ws echo)", theirs);
    else
        std::printf("reference: not available (npm ci --prefix bench installs ws)\n");
    std::printf("log file on: connector.log holds %lld bytes\n",
                QFileInfo(dir.filePath(QStringLiteral("SANvero/SANvero Connector/connector.log"))).size());
    if (oursOk && theirsOk)
        std::printf("connector / reference throughput: %.2f\n", ours.messagesPerSecond / theirs.messagesPerSecond);
    return oursOk ? 0 : 1;
}
