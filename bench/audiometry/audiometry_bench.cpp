// Measures audiometry exams against the real connector: START_AUDIOMETRY to 1008 with the application
// running and not running, result pickup after the file's last write, and memory and wake-ups of a
// connector with one waiting exam against one after a thousand more exams in the same folder.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "connectorprocess.h"
#include "helixfolder.h"

namespace {

/// A page that timestamps every frame the moment it arrives.
class TimedPage
{
public:
    TimedPage()
    {
        clock.start();
        QObject::connect(&page.socket, &QWebSocket::textMessageReceived, [this](const QString &) {
            arrivals.push_back(clock.nsecsElapsed());
            if (waiting && page.frames.size() + 1 >= waitingFor)
                waiting->quit();
        });
    }

    bool open() { return page.open(); }
    qint64 now() const { return clock.nsecsElapsed(); }
    int count() const { return page.frames.size(); }

    /// Runs the event loop until frame number count (1-based) has arrived; false after the timeout.
    bool waitFor(int count, int timeoutMs = 10000)
    {
        if (page.frames.size() >= count)
            return true;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        waiting = &loop;
        waitingFor = count;
        loop.exec();
        waiting = nullptr;
        // The frame list is appended after our handler; let it catch up.
        QCoreApplication::processEvents();
        return page.frames.size() >= count;
    }

    PageClient page;
    std::vector<qint64> arrivals;

private:
    QElapsedTimer clock;
    QEventLoop *waiting = nullptr;
    int waitingFor = 0;
};

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

void printFigures(const char *label, std::vector<double> values, const char *unit)
{
    if (values.empty()) {
        std::printf("%-48s no samples\n", label);
        return;
    }
    std::sort(values.begin(), values.end());
    const double median = values[values.size() / 2];
    const double p95 = values[std::min(values.size() - 1, values.size() * 95 / 100)];
    std::printf("%-48s n=%-4zu median %8.1f %s   p95 %8.1f %s   max %8.1f %s\n", label, values.size(), median, unit,
                p95, unit, values.back(), unit);
}

qint64 statusValue(qint64 pid, const char *key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

/// Wake-ups of the connector per second while idle, from its voluntary context switches.
double wakeupsPerSecond(qint64 pid, int windowMs = 3000)
{
    const qint64 before = statusValue(pid, "voluntary_ctxt_switches:");
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer::singleShot(windowMs, &loop, &QEventLoop::quit);
    loop.exec();
    const qint64 after = statusValue(pid, "voluntary_ctxt_switches:");
    return double(after - before) * 1000.0 / double(timer.elapsed());
}

/// Waits for the condition; says so on the error output when it never holds.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs, const char *what)
{
    if (QTest::qWaitFor(condition, timeoutMs))
        return true;
    std::fprintf(stderr, "gave up waiting: %s\n", what);
    return false;
}

/// Ends the simulators of a folder however the measurement ends.
struct KillOnExit
{
    const HelixFolder &helix;
    ~KillOnExit() { helix.killProcesses(); }
};

bool startConnector(ConnectorProcess &connector)
{
    if (!connector.start()) {
        std::fprintf(stderr, "the connector did not start:\n%s\n", qPrintable(connector.log()));
        return false;
    }
    return true;
}

void startToExamStarted(const QString &root, bool running, int exams)
{
    ConnectorProcess connector;
    if (!startConnector(connector))
        return;
    HelixFolder helix(root + (running ? QStringLiteral("/running") : QStringLiteral("/stopped")));
    const KillOnExit guard{helix};
    QDir().mkpath(helix.exchange());
    // Running: answers nothing, so every exam stays open. Not running: a Helix.exe that ends at once.
    helix.installSimulator(running ? QJsonObject{{QStringLiteral("respond"), false}}
                                   : QJsonObject{{QStringLiteral("idle_exit_ms"), 0}});
    if (running) {
        QProcess::startDetached(helix.folder() + QStringLiteral("/Helix.exe"), QStringList());
        waitUntil([&] { return !helix.processes().isEmpty(); }, 5000, "the application to run");
    }

    TimedPage page;
    page.open();
    std::vector<double> latencies;
    for (int i = 0; i < exams; ++i) {
        if (!running && !waitUntil([&] { return helix.processes().isEmpty(); }, 5000, "the application to end"))
            break;
        const qint64 sent = page.now();
        page.page.sendJson(startEnvelope(helix.appPath(), examplePatient()));
        if (!page.waitFor(i + 1))
            break;
        latencies.push_back(ms(page.arrivals.at(size_t(i)) - sent));
    }
    const int launches = connector.log().count(QLatin1String("Helix not started."));
    printFigures(running ? "START_AUDIOMETRY -> 1008, application running"
                         : "START_AUDIOMETRY -> 1008, application not running",
                 latencies, "ms");
    std::printf("%-48s %d of %zu exams launched the application\n", "", launches, latencies.size());
}

void resultPickup(const QString &root, int exams)
{
    ConnectorProcess connector;
    if (!startConnector(connector))
        return;
    HelixFolder helix(root + QStringLiteral("/pickup"));
    helix.installDummy();
    QDir().mkpath(helix.exchange());

    TimedPage page;
    page.open();
    std::vector<double> plain;
    std::vector<double> pieces;
    for (int i = 0; i < exams; ++i) {
        page.page.sendJson(startEnvelope(helix.appPath(), examplePatient()));
        if (!page.waitFor(page.count() + 1))
            break;
        // A result dated like its request would count as left from before; real exams take minutes.
        QTest::qWait(20);
        // Odd exams write the file in two pieces 300 ms apart, as a slow application would.
        QFile file(helix.resultFile());
        file.open(QIODevice::WriteOnly);
        file.write("Ear;FrequencyHz;ThresholdDbHL\r\n");
        file.flush();
        if (i % 2 == 1)
            QTest::qWait(300);
        file.write("Right;1000;20\r\nLeft;1000;25\r\n");
        file.close();
        const qint64 lastWrite = page.now();
        if (!page.waitFor(page.count() + 1))
            break;
        (i % 2 == 1 ? pieces : plain).push_back(ms(page.arrivals.back() - lastWrite));
        waitUntil([&] { return !QFile::exists(helix.resultFile()); }, 2000, "the result file to go");
    }
    printFigures("result last write -> 1005, written at once", plain, "ms");
    printFigures("result last write -> 1005, written in two pieces", pieces, "ms");
}

void thousandExams(const QString &root, int exams)
{
    ConnectorProcess connector;
    if (!startConnector(connector))
        return;
    const qint64 pid = connector.process.processId();
    HelixFolder helix(root + QStringLiteral("/bulk"));
    const KillOnExit guard{helix};
    QDir().mkpath(helix.exchange());
    helix.installSimulator(QJsonObject{{QStringLiteral("respond"), false}, {QStringLiteral("idle_exit_ms"), 600000}});
    QProcess::startDetached(helix.folder() + QStringLiteral("/Helix.exe"), QStringList());
    waitUntil([&] { return !helix.processes().isEmpty(); }, 5000, "the application to run");

    TimedPage page;
    page.open();
    // One exam waiting: the figures every further exam in the same folder is compared with.
    page.page.sendJson(startEnvelope(helix.appPath(), examplePatient()));
    page.waitFor(1);
    QTest::qWait(1000);
    const qint64 rssOne = statusValue(pid, "VmRSS:");
    const double wakeOne = wakeupsPerSecond(pid);

    // One after the other, as an operator would; none gets a result, each replaces the one before.
    for (int i = 0; i < exams; ++i) {
        page.page.sendJson(startEnvelope(helix.appPath(), examplePatient()));
        if (!page.waitFor(i + 2))
            break;
    }
    const int started = page.count() - 1;
    // Replaced bridges are deleted from the event loop; give it a moment, then look.
    QTest::qWait(1000);
    const qint64 rssMany = statusValue(pid, "VmRSS:");
    const double wakeMany = wakeupsPerSecond(pid);

    // The result of the last exam: exactly one 1005, whatever was started before.
    QTest::qWait(20); // a file system time stamp later than the last request's
    helix.writeResult("Ear;FrequencyHz;ThresholdDbHL\r\nRight;1000;20\r\n", 0);
    page.waitFor(started + 2, 5000);
    QTest::qWait(1500);
    const int results = page.count() - started - 1;

    const QByteArray label = QByteArray::number(exams) + " exams without results, one folder";
    std::printf("%-48s %d started (1008), %d result frame(s) for the last one\n", label.constData(), started, results);
    std::printf("%-48s one waiting %lld kB, after %d more %lld kB (%+lld kB)\n", "  connector resident memory", rssOne,
                started, rssMany, rssMany - rssOne);
    std::printf("%-48s one waiting %.1f/s, after %d more %.1f/s (%+.0f%%)\n", "  connector wake-ups while idle",
                wakeOne, started, wakeMany, wakeOne > 0 ? 100.0 * (wakeMany - wakeOne) / wakeOne : 0.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("CONNECTOR_BIN"))
        qputenv("CONNECTOR_BIN", CONNECTOR_BIN_PATH);
    qputenv("QT_QPA_PLATFORM", "offscreen");

    const QStringList arguments = application.arguments();
    const int exams = arguments.size() > 1 ? arguments.at(1).toInt() : 100;
    const bool bulkOnly = exams == 0;
    const int bulk = arguments.size() > 2 ? arguments.at(2).toInt() : 1000;

    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    if (!foreignHelixProcesses(root.path()).isEmpty()) {
        std::fprintf(stderr, "another Helix.exe runs on this machine; the running check would see it\n");
        return 1;
    }
    std::printf("audiometry bench: %d exams per latency figure, %d exams for memory\n\n", exams, bulk);
    if (!bulkOnly) {
        startToExamStarted(root.path(), true, exams);
        startToExamStarted(root.path(), false, exams);
        resultPickup(root.path(), std::max(2, exams / 5));
    }
    if (bulk > 0)
        thousandExams(root.path(), bulk);
    return 0;
}
