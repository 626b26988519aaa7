// Stand-in for the audiometry application: reads exam requests from its exchange folder and
// answers each with a result file, as the real application does after an exam.
//
// Installed as <folder>/Helix.exe and started without arguments, it watches <folder>/XCHG for
// "hedeprax.gdt" and writes "TEST_DATA.csv" there. Settings come from helix-simulator.json beside
// the executable (all optional):
//   delay_ms           time from reading a request to the first byte of its result   (default 1000)
//   chunks             number of pieces the result is written in                      (default 1)
//   chunk_delay_ms     pause between two pieces, to show a result still being written (default 0)
//   respond            false: read requests but never answer                          (default true)
//   exit_after_result  end once a result is written                                   (default false)
//   idle_exit_ms       end after this long without a request, so no copy lingers      (default 120000)
// Each finished result is also copied to helix-simulator-last-result.csv beside the executable, and the
// patient number of each request read is added as a line to helix-simulator-requests.txt there. A result
// still lying in the folder is not overwritten: the next one waits until the connector has taken it.
#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QSaveFile>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

struct Settings
{
    int delayMs = 1000;
    int chunks = 1;
    int chunkDelayMs = 0;
    bool respond = true;
    bool exitAfterResult = false;
    int idleExitMs = 120000;
};

struct Request
{
    QString patientNumber;
    QString familyName;
    QString givenName;
    QString birthDate;
};

void say(const char *text)
{
    std::fprintf(stderr, "helix-simulator: %s\n", text);
}

Settings readSettings(const QString &path)
{
    Settings settings;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return settings;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    settings.delayMs = object.value(QLatin1String("delay_ms")).toInt(settings.delayMs);
    settings.chunks = qMax(1, object.value(QLatin1String("chunks")).toInt(settings.chunks));
    settings.chunkDelayMs = object.value(QLatin1String("chunk_delay_ms")).toInt(settings.chunkDelayMs);
    settings.respond = object.value(QLatin1String("respond")).toBool(settings.respond);
    settings.exitAfterResult = object.value(QLatin1String("exit_after_result")).toBool(settings.exitAfterResult);
    settings.idleExitMs = object.value(QLatin1String("idle_exit_ms")).toInt(settings.idleExitMs);
    return settings;
}

// GDT lines: a length prefix (3 digits, 4 from 1000 on) that counts the whole line with CR LF,
// a four-digit field identifier, the content.
bool parseRequest(const QByteArray &bytes, Request *request)
{
    const QList<QByteArray> lines = bytes.split('\n');
    bool first = true;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        int prefix = 3;
        if (line.left(3).toInt() != line.size() + 2)
            prefix = 4;
        if (line.size() < prefix + 4 || line.left(prefix).toInt() != line.size() + 2)
            return false;
        const QByteArray field = line.mid(prefix, 4);
        const QString content = QString::fromLatin1(line.mid(prefix + 4));
        if (first) {
            if (field != "8000" || content != QLatin1String("6302"))
                return false;
            first = false;
        } else if (field == "3000") {
            request->patientNumber = content;
        } else if (field == "3101") {
            request->familyName = content;
        } else if (field == "3102") {
            request->givenName = content;
        } else if (field == "3103") {
            request->birthDate = content;
        }
    }
    return !first;
}

QByteArray resultFor(const Request &request)
{
    static const int frequencies[] = {125, 250, 500, 1000, 2000, 3000, 4000, 6000, 8000};
    QString text;
    const QString crlf = QStringLiteral("\r\n");
    text += QStringLiteral("PatientNumber;FamilyName;GivenName;BirthDate;Test;Date") + crlf;
    text += request.patientNumber + QLatin1Char(';') + request.familyName + QLatin1Char(';') + request.givenName +
            QLatin1Char(';') + request.birthDate + QStringLiteral(";TONAL_AUDIOMETRY;") +
            QDate::currentDate().toString(Qt::ISODate) + crlf;
    text += QStringLiteral("Ear;FrequencyHz;ThresholdDbHL") + crlf;
    // Thresholds that rise towards the high frequencies, varied per patient.
    const uint seed = qHash(request.patientNumber);
    for (const char *ear : {"Right", "Left"}) {
        int step = 0;
        for (const int frequency : frequencies) {
            const int base = step < 5 ? 10 : 10 + 5 * (step - 4);
            const int threshold = base + 5 * static_cast<int>((seed >> (step + (ear[0] == 'L' ? 9 : 0))) % 3);
            text += QLatin1String(ear) + QLatin1Char(';') + QString::number(frequency) + QLatin1Char(';') +
                    QString::number(threshold) + crlf;
            ++step;
        }
    }
    return text.toUtf8();
}

class Simulator
{
public:
    Simulator()
        : home(QCoreApplication::applicationDirPath()),
          settings(readSettings(home + QStringLiteral("/helix-simulator.json"))),
          exchange(home + QStringLiteral("/XCHG"))
    {
        idle.setSingleShot(true);
        QObject::connect(&idle, &QTimer::timeout, [] {
            say("idle, ending");
            QCoreApplication::exit(0);
        });
        idle.start(settings.idleExitMs);

        QObject::connect(&poll, &QTimer::timeout, [this] { lookForRequest(); });
        poll.start(100);
    }

private:
    void lookForRequest()
    {
        if (busy)
            return;
        const QFileInfo info(exchange + QStringLiteral("/hedeprax.gdt"));
        if (!info.exists())
            return;
        // The connector leaves the request in place; a new one is a new file.
        const QString stamp =
            QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('/') + QString::number(info.size());
        if (stamp == handled)
            return;
        handled = stamp;

        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return;
        Request request;
        if (!parseRequest(file.readAll(), &request)) {
            say("request ignored: not a 6302 record");
            return;
        }
        say("request read");
        QFile requests(home + QStringLiteral("/helix-simulator-requests.txt"));
        if (requests.open(QIODevice::Append))
            requests.write(request.patientNumber.toUtf8() + '\n');
        idle.start(settings.idleExitMs);
        if (!settings.respond)
            return;

        busy = true;
        const QByteArray result = resultFor(request);
        QTimer::singleShot(settings.delayMs, [this, result] { writeResult(result); });
    }

    void writeResult(const QByteArray &result)
    {
        if (QFileInfo::exists(exchange + QStringLiteral("/TEST_DATA.csv"))) {
            QTimer::singleShot(100, [this, result] { writeResult(result); });
            return;
        }
        auto output = std::make_shared<QFile>(exchange + QStringLiteral("/TEST_DATA.csv"));
        if (!output->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            say("result file cannot be written");
            busy = false;
            return;
        }
        const int pieceSize = (result.size() + settings.chunks - 1) / settings.chunks;
        writePiece(output, result, 0, pieceSize);
    }

    void writePiece(const std::shared_ptr<QFile> &output, const QByteArray &result, int offset, int pieceSize)
    {
        output->write(result.mid(offset, pieceSize));
        output->flush();
        const int next = offset + pieceSize;
        if (next < result.size()) {
            QTimer::singleShot(settings.chunkDelayMs, [this, output, result, next, pieceSize] {
                writePiece(output, result, next, pieceSize);
            });
            return;
        }
        output->close();

        QSaveFile copy(home + QStringLiteral("/helix-simulator-last-result.csv"));
        if (copy.open(QIODevice::WriteOnly)) {
            copy.write(result);
            copy.commit();
        }
        say("result written");
        busy = false;
        idle.start(settings.idleExitMs);
        if (settings.exitAfterResult)
            QCoreApplication::exit(0);
    }

    QString home;
    Settings settings;
    QString exchange;
    QTimer poll;
    QTimer idle;
    QString handled;
    bool busy = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Simulator simulator;
    return application.exec();
}
