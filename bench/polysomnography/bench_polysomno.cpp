// Measures START_POLYSOMNO to 2010 over a real WebSocket against the real connector, and its memory use.
//
// Binds port 1024: run it inside a private network namespace, for instance
//   unshare --net -- sh -c 'ip link set lo up && build/bench/polysomnography/bench_polysomno'
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/programlauncher.h"
#include "polysomnography/polysomno.h"
#include "somnodb.h"

namespace {

constexpr int existingPatients = 5000;

void fail(const QString &what)
{
    std::fprintf(stderr, "bench_polysomno: %s\n", qPrintable(what));
    std::exit(1);
}

/// Runs the event loop until done() holds or the time is up.
template<typename Condition>
bool waitFor(Condition done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

/// VmRSS of a process in KiB, from /proc (0 where there is none).
long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

struct Figures
{
    double median = 0, p90 = 0, min = 0, max = 0;
};

Figures figures(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return {median, samples[std::min(n - 1, n * 9 / 10)], samples.front(), samples.back()};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int iterations = qMax(10, QCoreApplication::arguments().value(1, QStringLiteral("200")).toInt());
    const int memoryCommands = qMax(iterations, QCoreApplication::arguments().value(2, QStringLiteral("1000")).toInt());

    // A stand-in installation the size of a busy clinic's: thousands of patients, a full measurement folder.
    QTemporaryDir dir;
    const QString appPath = dir.filePath(QStringLiteral("Somno Panel")) + QLatin1Char('/');
    const QString database = appPath + QStringLiteral("SomnoDB/SomnoDB.mdb");
    QString error;
    if (!QDir().mkpath(appPath + QStringLiteral("bin")) ||
        !QFile::copy(QStringLiteral(SOMNOPANEL_EXE), appPath + QStringLiteral("bin/SomnoPanel.exe")) ||
        !SomnoDb::create(database, &error) ||
        !SomnoDb::execute(database,
                          QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                                         "INSERT INTO Patient SELECT i, 'EXIST-' || i, 'Name' || i, 'Vorname' || i, "
                                         "'1970-01-01', 1, 180, 80 FROM n"),
                          {existingPatients}, &error))
        fail(QStringLiteral("cannot set up the installation: ") + error);
    for (int patient = 0; patient < 60; ++patient) {
        for (int night = 1; night <= 4; ++night) {
            if (!QDir().mkpath(appPath + QStringLiteral("measurement/EXIST-%1/2024-0%2-01").arg(patient).arg(night)))
                fail(QStringLiteral("cannot create the measurement folder"));
        }
    }

    QFile config(dir.filePath(QStringLiteral("connector.json")));
    if (!config.open(QIODevice::WriteOnly) || config.write("{\"sessionids\": \"bench\"}") <= 0)
        fail(QStringLiteral("cannot write the configuration"));
    config.close();

    QProcess connector;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    connector.setProcessEnvironment(environment);
    connector.setWorkingDirectory(dir.path());
    // The connector still writes its debug log; it goes nowhere.
    connector.setStandardOutputFile(QProcess::nullDevice());
    connector.setStandardErrorFile(QProcess::nullDevice());
    connector.start(QStringLiteral(CONNECTOR_EXE), {config.fileName()});
    if (!connector.waitForStarted())
        fail(QStringLiteral("the connector did not start"));
    QWebSocket page;
    QStringList frames;
    QObject::connect(&page, &QWebSocket::textMessageReceived, [&](const QString &frame) { frames.append(frame); });
    const bool connected = waitFor(
        [&] {
            if (page.state() == QAbstractSocket::ConnectedState)
                return true;
            if (page.state() == QAbstractSocket::UnconnectedState)
                page.open(QUrl(QStringLiteral("ws://127.0.0.1:1024")));
            return false;
        },
        10000);
    if (!connected)
        fail(QStringLiteral("no connection to port 1024 (is another connector running outside a namespace?)"));

    int sent = 0;
    auto registration = [&](const QString &code) {
        const QJsonObject patient{{QStringLiteral("first_name"), QStringLiteral("Bench")},
                                  {QStringLiteral("last_name"), QStringLiteral("Mark")},
                                  {QStringLiteral("birth_date"), QStringLiteral("1980-02-02")},
                                  {QStringLiteral("code"), code},
                                  {QStringLiteral("gender"), QStringLiteral("M")},
                                  {QStringLiteral("height"), 180},
                                  {QStringLiteral("weight"), 80}};
        const QJsonObject envelope{
            {QStringLiteral("type"), QStringLiteral("POLYSOMNO")},
            {QStringLiteral("appPath"), appPath},
            {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")},
                                                 {QStringLiteral("patient"), patient}}}};
        const QString text = QString::fromUtf8(QJsonDocument(envelope).toJson(QJsonDocument::Compact));
        const int before = frames.size();
        QElapsedTimer timer;
        timer.start();
        page.sendTextMessage(text);
        if (!waitFor([&] { return frames.size() > before; }, 10000))
            fail(QStringLiteral("no answer to command %1").arg(sent));
        const double ms = timer.nsecsElapsed() / 1e6;
        if (QJsonDocument::fromJson(frames.at(before).toUtf8()).object().value(QLatin1String("message")).toInt() !=
            2010)
            fail(QStringLiteral("unexpected answer: ") + frames.at(before));
        ++sent;
        return ms;
    };

    for (int i = 0; i < 5; ++i)
        registration(QStringLiteral("WARM-%1").arg(i));
    const long rssStart = residentKiB(connector.processId());

    std::vector<double> inserted, existing;
    for (int i = 0; i < iterations; ++i) {
        inserted.push_back(registration(QStringLiteral("NEW-%1").arg(i)));
        existing.push_back(registration(QStringLiteral("EXIST-%1").arg(1 + i % existingPatients)));
    }
    const long rssMiddle = residentKiB(connector.processId());
    const int middle = sent;
    while (sent < memoryCommands + 5)
        registration(QStringLiteral("MORE-%1").arg(sent));
    const long rssEnd = residentKiB(connector.processId());

    const Figures newFigures = figures(inserted);
    const Figures oldFigures = figures(existing);
    std::printf("START_POLYSOMNO to 2010 over WebSocket, SQLite stand-in with %d patients, 240 measurement "
                "entries, %d commands each:\n",
                existingPatients, iterations);
    std::printf("  new patient (lookup, highest key, insert): median %.2f ms  p90 %.2f ms  min %.2f ms  max %.2f ms\n",
                newFigures.median, newFigures.p90, newFigures.min, newFigures.max);
    std::printf("  known patient (lookup only):               median %.2f ms  p90 %.2f ms  min %.2f ms  max %.2f ms\n",
                oldFigures.median, oldFigures.p90, oldFigures.min, oldFigures.max);
    std::printf("Connector resident memory: %ld KiB after 5 commands, %ld KiB after %d, %ld KiB after %d\n", rssStart,
                rssMiddle, middle, rssEnd, sent);

    page.close();
    connector.terminate();
    connector.waitForFinished(5000);

    // The same command inside this process, without socket and debug output: where the time goes.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::vector<double> toReply, whole;
    for (int i = 0; i < iterations; ++i) {
        ProgramLauncher launcher;
        Polysomno bridge(AppFolder(appPath), PolysomnoSettings{DatabaseBackend::Sqlite, &launcher});
        QElapsedTimer timer;
        double replyMs = -1;
        QObject::connect(&bridge, &Polysomno::sendMessage, [&] { replyMs = timer.nsecsElapsed() / 1e6; });
        const QJsonObject patient{{QStringLiteral("first_name"), QStringLiteral("Bench")},
                                  {QStringLiteral("last_name"), QStringLiteral("Mark")},
                                  {QStringLiteral("birth_date"), QStringLiteral("1980-02-02")},
                                  {QStringLiteral("code"), QStringLiteral("INPROC-%1").arg(i)},
                                  {QStringLiteral("gender"), QStringLiteral("M")},
                                  {QStringLiteral("height"), 180},
                                  {QStringLiteral("weight"), 80}};
        timer.start();
        bridge.processCommand(QJsonObject{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")},
                                          {QStringLiteral("patient"), patient}});
        whole.push_back(timer.nsecsElapsed() / 1e6);
        if (replyMs < 0)
            fail(QStringLiteral("no reply in process"));
        toReply.push_back(replyMs);
    }
    const Figures replyFigures = figures(toReply);
    const Figures wholeFigures = figures(whole);
    std::printf("In process, new patient: processCommand to the 2010 signal median %.2f ms (p90 %.2f ms); "
                "whole command with the detached start median %.2f ms (p90 %.2f ms)\n",
                replyFigures.median, replyFigures.p90, wholeFigures.median, wholeFigures.p90);
    return 0;
}
