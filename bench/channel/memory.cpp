// Resident memory of the real connector over a burst of failing messages, over many page connections, and under a
// flood of pages that wait for the operator.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>

#include <QNetworkRequest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "benchwait.h"

namespace {

// Resident memory of a process in kB, now (VmRSS) or at its peak (VmHWM), from /proc (Linux only).
qint64 residentKb(qint64 pid, const char *field = "VmRSS")
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("%1:\\s+(\\d+) kB").arg(QLatin1String(field)))
            .match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool open(QWebSocket &page, const QString &origin = QString())
{
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:1024")));
    if (!origin.isEmpty())
        request.setRawHeader("Origin", origin.toUtf8());
    page.open(request);
    return waitFor([&] { return page.state() != QAbstractSocket::ConnectingState; }, 5000) &&
           page.state() == QAbstractSocket::ConnectedState;
}

// One page sends the messages in turn, all at once, and waits for every answer.
bool burst(int count)
{
    // Each fails somewhere else: the envelope, the routing, a bridge's checks.
    const QStringList messages{
        QStringLiteral("not json"),
        QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/nowhere/", "args": {"patient": {}}})"),
        QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/nowhere/", "args": {"command": "START_AUDIOMETRY"}})"),
        QStringLiteral(R"({"type": "POLYSOMNO", "appPath": "/nowhere/", "args": {"command": "START_POLYSOMNO"}})"),
    };
    QWebSocket page;
    int answered = 0;
    QObject::connect(&page, &QWebSocket::textMessageReceived, [&] { ++answered; });
    if (!open(page))
        return false;
    for (int i = 0; i < count; ++i)
        page.sendTextMessage(messages.at(i % messages.size()));
    return waitFor([&] { return answered == count; }, 300000);
}

// Pages that connect, get an answer and leave, one after the other.
bool cycles(int count)
{
    for (int i = 0; i < count; ++i) {
        QWebSocket page;
        bool answered = false;
        QObject::connect(&page, &QWebSocket::textMessageReceived, [&] { answered = true; });
        if (!open(page))
            return false;
        page.sendTextMessage(QStringLiteral("[]"));
        if (!waitFor([&] { return answered; }, 5000))
            return false;
        page.close();
        if (!waitFor([&] { return page.state() == QAbstractSocket::UnconnectedState; }, 5000))
            return false;
    }
    return true;
}

// Starts the connector with a configuration of its own; false when it does not listen on port 1024.
bool start(QProcess &connector, const QTemporaryDir &dir, const QString &executable)
{
    QFile config(dir.filePath(QStringLiteral("connector.json")));
    if (!config.open(QIODevice::WriteOnly) || config.write("{\"sessionids\": \"bench\"}") <= 0)
        return false;
    config.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    connector.setProcessEnvironment(env);
    // Its debug log is not read; kept in a pipe it would only slow the connector down.
    connector.setStandardOutputFile(QProcess::nullDevice());
    connector.setStandardErrorFile(QProcess::nullDevice());
    connector.start(executable, {config.fileName()});
    QWebSocket probe;
    if (!waitFor([&] { return open(probe); }, 10000)) {
        std::printf("connector: not listening on port 1024\n");
        return false;
    }
    probe.close();
    return true;
}

void stop(QProcess &connector)
{
    connector.terminate();
    connector.waitForFinished();
}

// Prints the growth of a fresh connector's resident memory over a run that follows a warm-up run of the same size:
// the warm-up sets the peak the heap keeps, and a fresh connector keeps memory freed by one kind of run from
// hiding growth in the other.
bool measure(const char *name, const QString &executable, const std::function<bool(int)> &run, int count)
{
    QTemporaryDir dir;
    QProcess connector;
    if (!start(connector, dir, executable))
        return false;
    const bool ok = run(count);
    const qint64 before = residentKb(connector.processId());
    QElapsedTimer timer;
    timer.start();
    if (!ok || !run(count)) {
        std::printf("%s: the connector stopped answering\n", name);
        return false;
    }
    const double seconds = timer.elapsed() / 1000.0;
    const qint64 after = residentKb(connector.processId());
    std::printf("%-9s %6d  %7lld kB -> %7lld kB   growth %6lld kB   %6.1f bytes each   %6.2f s\n", name, count, before,
                after, after - before, 1024.0 * (after - before) / count, seconds);
    stop(connector);
    return true;
}

// Pages from origins nobody decided about, which wait for the operator: eight that each send 70 messages of 1 MiB,
// then 300 origins, one page each. Prints the connector's resident memory when idle, at its peak and after.
bool flood(const QString &executable)
{
    QTemporaryDir dir;
    QProcess connector;
    if (!start(connector, dir, executable))
        return false;
    waitFor([] { return false; }, 500);
    const qint64 idle = residentKb(connector.processId());
    const QString message(1024 * 1024, QLatin1Char('x'));
    std::vector<std::unique_ptr<QWebSocket>> pages;
    for (int i = 0; i < 8; ++i) {
        pages.push_back(std::make_unique<QWebSocket>());
        if (!open(*pages.back(), QStringLiteral("https://flood%1.example").arg(i)))
            return false;
    }
    for (int n = 0; n < 70; ++n) {
        for (const auto &page : pages)
            page->sendTextMessage(message);
    }
    // Done when each page has sent everything or was closed.
    waitFor(
        [&] {
            return std::all_of(pages.begin(), pages.end(), [](const auto &page) {
                return page->state() != QAbstractSocket::ConnectedState || page->bytesToWrite() == 0;
            });
        },
        300000);
    int closed = 0;
    for (const auto &page : pages)
        closed += page->state() != QAbstractSocket::ConnectedState;
    int waiting = 0;
    std::vector<std::unique_ptr<QWebSocket>> origins;
    for (int i = 0; i < 300; ++i) {
        origins.push_back(std::make_unique<QWebSocket>());
        waiting += open(*origins.back(), QStringLiteral("https://origin%1.example").arg(i));
    }
    waitFor([] { return false; }, 1000);
    const qint64 after = residentKb(connector.processId());
    const qint64 peak = residentKb(connector.processId(), "VmHWM");
    std::printf("flood     8 pages x 70 MiB (%d closed), 300 origins (%d wait)\n", closed, waiting);
    std::printf("          idle %7lld kB   peak %7lld kB   after %7lld kB   peak - idle %6lld kB (bound 50000 kB)\n",
                idle, peak, after, peak - idle);
    stop(connector);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_channel_memory CONNECTOR_BINARY [MESSAGES] [CONNECTIONS]\n");
        return 2;
    }
    const int messages = args.size() > 2 ? args.at(2).toInt() : 10000;
    const int connections = args.size() > 3 ? args.at(3).toInt() : 500;

    std::printf("Resident memory of the connector, measured after a warm-up run\n");
    const bool ok = measure("messages", args.at(1), burst, messages) &&
                    measure("pages", args.at(1), cycles, connections) && flood(args.at(1));
    return ok ? 0 : 1;
}
