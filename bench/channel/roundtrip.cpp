// Round trip of an invalid envelope over loopback, against the connector and against a reference echo server.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

#ifdef Q_OS_LINUX
#include <QDir>
#include <sched.h>
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

// On a machine with two processors or more, the benchmark's page runs on the first and every thread of the
// servers on the last: each server gets a processor of its own, as a connector beside a browser has.
void separateProcessors(const QList<qint64> &servers)
{
#ifdef Q_OS_LINUX
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    if (processors < 2)
        return;
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(0, &first);
    sched_setaffinity(0, sizeof first, &first);
    cpu_set_t last;
    CPU_ZERO(&last);
    CPU_SET(int(processors - 1), &last);
    for (const qint64 server : servers) {
        const QStringList threads =
            QDir(QStringLiteral("/proc/%1/task").arg(server)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &thread : threads)
            sched_setaffinity(pid_t(thread.toLongLong()), sizeof last, &last);
    }
#else
    Q_UNUSED(servers)
#endif
}

// A page that stays connected to one server for every round.
class Page
{
public:
    bool open(const QUrl &url)
    {
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
        return socket.state() == QAbstractSocket::ConnectedState;
    }

    // Sends the next message only after the answer to the previous one arrived; false when answers stop.
    bool measure(int count, Figures *figures)
    {
        std::vector<qint64> latencies;
        latencies.reserve(count);
        QElapsedTimer clock;
        qint64 sentAt = 0;
        int answered = 0;
        const QString message = QStringLiteral("{\"type\": \"AUDIOMETRY\", \"args\": {}}");
        const QMetaObject::Connection answer =
            QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &) {
                latencies.push_back(clock.nsecsElapsed() - sentAt);
                if (++answered < count) {
                    sentAt = clock.nsecsElapsed();
                    socket.sendTextMessage(message);
                }
            });
        clock.start();
        sentAt = clock.nsecsElapsed();
        socket.sendTextMessage(message);
        const bool ok = waitFor([&] { return answered >= count; }, 120000);
        const double total = double(clock.nsecsElapsed()) / 1e9;
        QObject::disconnect(answer);
        if (!ok)
            return false;
        std::sort(latencies.begin(), latencies.end());
        figures->messagesPerSecond = count / total;
        figures->medianMicroseconds = latencies[latencies.size() / 2] / 1000.0;
        figures->p99Microseconds = latencies[latencies.size() * 99 / 100] / 1000.0;
        return true;
    }

private:
    QWebSocket socket;
};

// The round whose rate is the median, so one round shaken by other load on the machine does not decide.
Figures median(std::vector<Figures> rounds)
{
    std::sort(rounds.begin(), rounds.end(),
              [](const Figures &a, const Figures &b) { return a.messagesPerSecond < b.messagesPerSecond; });
    return rounds[rounds.size() / 2];
}

void print(const char *name, const Figures &figures)
{
    std::printf("%-28s %10.0f msg/s   median %8.1f us   p99 %8.1f us\n", name, figures.messagesPerSecond,
                figures.medianMicroseconds, figures.p99Microseconds);
}

} // namespace

int main(int argc, char *argv[])
{
    // The page's side of each round trip costs as little as Qt can make it, so the figures compare the two
    // servers: Qt's own event loop, as the connector runs it, not GLib's with its extra wakeups. QT_NO_GLIB set
    // empty keeps GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
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
    // The connector chooses its event loop itself, as in a clinic.
    env.remove(QStringLiteral("QT_NO_GLIB"));
    // The log file is on, as in a clinic, but in the benchmark's own folder.
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
    // The connector writes every message to its debug log; the figures measure the channel, not the terminal.
    connector.setProcessEnvironment(env);
    connector.setStandardOutputFile(QProcess::nullDevice());
    connector.setStandardErrorFile(QProcess::nullDevice());
    connector.start(args.at(1), {config.fileName()});
    QProcess reference;
    reference.start(QStringLiteral("node"),
                    {QStringLiteral(CONNECTOR_SOURCE_DIR "/bench/channel/echo-server.mjs"), QStringLiteral("1025")});

    Page ourPage;
    Page theirPage;
    bool oursOk = ourPage.open(QUrl(QStringLiteral("ws://127.0.0.1:1024")));
    bool theirsOk = theirPage.open(QUrl(QStringLiteral("ws://127.0.0.1:1025")));
    separateProcessors({connector.processId(), reference.processId()});
    // Both warmed up, then measured in turns: a spell of load on the machine falls on both alike.
    constexpr int rounds = 7;
    const int perRound = qMax(1, count / rounds);
    Figures unused;
    oursOk = oursOk && ourPage.measure(qMin(perRound, 1000), &unused);
    theirsOk = theirsOk && theirPage.measure(qMin(perRound, 1000), &unused);
    std::vector<Figures> ours;
    std::vector<Figures> theirs;
    std::vector<double> ratios;
    const double cpuBefore = cpuSeconds(connector.processId());
    for (int round = 0; round < rounds && (oursOk || theirsOk); ++round) {
        Figures our;
        Figures their;
        oursOk = oursOk && ourPage.measure(perRound, &our);
        theirsOk = theirsOk && theirPage.measure(perRound, &their);
        if (oursOk)
            ours.push_back(our);
        if (theirsOk)
            theirs.push_back(their);
        if (oursOk && theirsOk)
            ratios.push_back(our.messagesPerSecond / their.messagesPerSecond);
    }
    const double cpuAfter = cpuSeconds(connector.processId());
    connector.terminate();
    connector.waitForFinished();
    reference.kill();
    reference.waitForFinished();

    std::printf("Round trip of an invalid envelope, %d rounds of %d messages in turns, sequential, loopback\n", rounds,
                perRound);
    std::printf("(the round with the median rate of each)\n");
    if (oursOk) {
        print("connector (error frame 2)", median(ours));
        // Less shaken by other load on the machine than the times above.
        if (cpuBefore >= 0 && cpuAfter >= 0)
            std::printf("connector processor time per message: %.1f us\n",
                        (cpuAfter - cpuBefore) * 1e6 / (perRound * rounds));
    } else
        std::printf("connector: no answer\n");
    if (theirsOk)
        print("reference (Node ws echo)", median(theirs));
    else
        std::printf("reference: not available (npm ci --prefix bench installs ws)\n");
    std::printf("log file on: connector.log holds %lld bytes\n",
                QFileInfo(dir.filePath(QStringLiteral("SANvero/SANvero Connector/connector.log"))).size());
    if (oursOk && theirsOk) {
        std::sort(ratios.begin(), ratios.end());
        std::printf("connector / reference throughput: %.2f (median of the rounds; lowest %.2f, highest %.2f)\n",
                    ratios[ratios.size() / 2], ratios.front(), ratios.back());
    }
    return oursOk ? 0 : 1;
}
