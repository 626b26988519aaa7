// One audiometry exam waiting for its result in the exchange folder.
#include "audiometry/helixexam.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>
#else
#include <QTextCodec>
#endif

#include "platform/clock.h"
#include "platform/connectorlog.h"
#include "platform/fileoperations.h"

namespace {

const QLatin1String resultFileName("TEST_DATA.csv");

/// A free name in folder for a result file of that time: "TEST_DATA-<time>.csv", numbered when taken.
QString freeResultName(const QString &folder, const QDateTime &modified)
{
    const QString stem =
        QStringLiteral("TEST_DATA-") + modified.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    QString name = folder + QLatin1Char('/') + stem + QStringLiteral(".csv");
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = folder + QLatin1Char('/') + stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".csv");
    return name;
}

/// Whether bytes are valid UTF-8 throughout: no stray, overlong or cut sequence, no surrogate half.
bool isValidUtf8(const QByteArray &bytes)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Stateless: a sequence cut off at the end is an error, not the start of more input.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    Q_UNUSED(text)
    return !decoder.hasError();
#else
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state); // 106: UTF-8
    return state.invalidChars == 0 && state.remainingChars == 0;
#endif
}

/// A result file's text. An application that writes its result in the Windows code page instead of UTF-8
/// gets it read as ISO 8859-1, the request file's own encoding, rather than with a replacement character
/// for every umlaut.
QString resultText(const QByteArray &bytes)
{
    return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QDateTime modificationTime(const QString &path)
{
    return QFileInfo(path).fileTime(QFileDevice::FileModificationTime).toUTC();
}

} // namespace

QJsonObject examPayload(const Patient &patient)
{
    // The texts written into the request file, so the page can tell whose exam a frame is about.
    return QJsonObject{{QStringLiteral("code"), QJsonValue(patient.code)},
                       {QStringLiteral("first_name"), QJsonValue(patient.firstName)},
                       {QStringLiteral("last_name"), QJsonValue(patient.lastName)}};
}

HelixExam::HelixExam(const QString &exchangeFolder, const ExamRequest &request, const AudiometrySettings &settings,
                     QObject *parent)
    : QObject(parent), folder(exchangeFolder), own(request), settings(settings)
{
    pollTimer.setInterval(pollIntervalMs);
    connect(&pollTimer, &QTimer::timeout, this, &HelixExam::watchHelixFolder);
}

void HelixExam::start()
{
    waiting = true;
    pollTimer.start();
}

void HelixExam::stop()
{
    if (!waiting)
        return;
    waiting = false;
    pollTimer.stop();
    emit finished();
}

QString HelixExam::resultFilePath() const
{
    return folder + QLatin1Char('/') + resultFileName;
}

bool HelixExam::resultFileSettled(const QString &path)
{
    const QFileInfo info(path);
    const qint64 modified = info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    const qint64 now = settings.clock->now().toMSecsSinceEpoch();
    if (modified <= now) {
        seenSize = seenModified = -1;
        return now - modified >= resultSettleMs;
    }
    // A time stamp ahead of the clock (the clock was set back) would never grow old enough:
    // such a file counts as settled once a whole poll interval has left it unchanged.
    const bool unchanged = info.size() == seenSize && modified == seenModified;
    seenSize = info.size();
    seenModified = modified;
    return unchanged;
}

void HelixExam::watchHelixFolder()
{
    const bool pageConnected = !settings.pageConnected || settings.pageConnected();
    if (!claimedPath.isEmpty()) {
        // Taken at an earlier tick but not reported yet.
        if (pageConnected)
            deliverClaimed();
        return;
    }

    const QString path = resultFilePath();
    if (!QFile::exists(path) || !resultFileSettled(path))
        return;

    // Request and result are dated by the same clock, the file system's.
    const QDateTime modified = modificationTime(path);
    const bool ownResult = modified > own.writtenAt;
    if (!ownResult && !(replaced && modified > replaced->writtenAt)) {
        setAside(path, modified);
        return;
    }
    // Read into a frame that no page receives, the result would be lost; it waits for the next page.
    if (!pageConnected)
        return;
    if (!claim(path, modified))
        return; // held by its writer: tried again at the next tick
    claimedIsOwn = ownResult;
    deliverClaimed();
}

void HelixExam::setAside(const QString &path, const QDateTime &modified)
{
    const QString unclaimed = folder + QStringLiteral("/unclaimed");
    QDir().mkpath(unclaimed);
    const QString target = freeResultName(unclaimed, modified);
    if (settings.files->rename(path, target))
        qCWarning(connectorLog) << "Result file older than the exam's request set aside:" << target;
}

bool HelixExam::claim(const QString &path, const QDateTime &modified)
{
    const QString claimed = folder + QStringLiteral("/claimed");
    QDir().mkpath(claimed);
    const QString target = freeResultName(claimed, modified);
    if (!settings.files->rename(path, target))
        return false;
    claimedPath = target;
    return true;
}

bool HelixExam::deliverClaimed()
{
    QFile file(claimedPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    const auto zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);

    QJsonObject payload = examPayload(claimedIsOwn ? own.patient : replaced->patient);
    payload.insert(QStringLiteral("results"), resultText(bytes));
    emit sendMessage(HELIX_RESULTS, payload);

    // A copy that cannot be deleted stays in "claimed", where nothing picks it up again.
    if (!settings.files->remove(claimedPath))
        qCWarning(connectorLog) << "Reported result file could not be deleted:" << claimedPath;
    claimedPath.clear();
    if (claimedIsOwn)
        stop();
    else
        replaced.reset();
    return true;
}

void ExamRegistry::replace(const QString &exchangeFolder, HelixExam *exam)
{
    QPointer<HelixExam> &entry = exams[key(exchangeFolder)];
    if (entry && entry != exam && entry->isWaiting()) {
        exam->setReplaced(entry->request());
        qCInfo(connectorLog) << "Exam replaced by a newer request in" << exchangeFolder;
        entry->stop();
    }
    entry = exam;
}

int ExamRegistry::waiting() const
{
    int count = 0;
    for (const auto &entry : exams)
        count += entry.second && entry.second->isWaiting() ? 1 : 0;
    return count;
}

QString ExamRegistry::key(const QString &exchangeFolder)
{
    const QString canonical = QFileInfo(exchangeFolder).canonicalFilePath();
    const QString path =
        canonical.isEmpty() ? QDir::cleanPath(QFileInfo(exchangeFolder).absoluteFilePath()) : canonical;
#ifdef Q_OS_WIN
    return path.toLower(); // one folder, however the page spells its letters
#else
    return path;
#endif
}
