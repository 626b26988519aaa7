// One audiometry exam waiting for its result in the exchange folder, with the exams it replaced there.
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

#include <algorithm>
#include <utility>

#include "platform/clock.h"
#include "platform/connectorlog.h"
#include "platform/fileoperations.h"
#include "platform/runningprograms.h"

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
    return QJsonObject{{QStringLiteral("code"), QJsonValue(patient.code)},
                       {QStringLiteral("first_name"), QJsonValue(patient.firstName)},
                       {QStringLiteral("last_name"), QJsonValue(patient.lastName)}};
}

QString helixExecutableName()
{
    return QStringLiteral("Helix.exe");
}

HelixExam::HelixExam(const QString &exchangeFolder, const std::optional<ExamRequest> &own,
                     const AudiometrySettings &settings, QObject *parent)
    : QObject(parent), folder(exchangeFolder), own(own), settings(settings)
{
    pollTimer.setInterval(pollIntervalMs);
    connect(&pollTimer, &QTimer::timeout, this, &HelixExam::watchHelixFolder);
}

HelixExam::~HelixExam()
{
    logUnreadClaim();
}

void HelixExam::replace(HelixExam &earlierExam)
{
    earlier = earlierExam.owners();
    earlierExam.own.reset();
    earlierExam.earlier.clear();
    claimedPath = std::exchange(earlierExam.claimedPath, QString());
    claimedModified = earlierExam.claimedModified;
    earlierExam.stop();
}

void HelixExam::addUnknownEarlierExam()
{
    earlier.prepend(ExamRequest());
}

void HelixExam::applicationNotRunning()
{
    // A result the application left before it ended, or one already taken, may still be the earlier exams'.
    if (earlier.isEmpty() || !claimedPath.isEmpty() || QFile::exists(resultFilePath()))
        return;
    earlier.clear();
    qCInfo(connectorLog) << "Helix.exe is not running: results of replaced exams are no longer awaited in" << folder;
    emit waitingChanged();
    if (!isWaiting())
        stop();
}

void HelixExam::start()
{
    pollTimer.start();
}

void HelixExam::stop()
{
    if (stopped)
        return;
    stopped = true;
    pollTimer.stop();
    logUnreadClaim();
    claimedPath.clear();
    emit waitingChanged();
    emit finished();
}

bool HelixExam::isWaiting() const
{
    return !stopped && (own || !earlier.isEmpty());
}

QList<ExamRequest> HelixExam::owners() const
{
    QList<ExamRequest> all = earlier;
    if (own)
        all.append(*own);
    return all;
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
        // Taken at an earlier tick but not read yet.
        if (pageConnected)
            deliverClaimed(std::nullopt);
        return;
    }

    // Asked before the folder is looked at: an application that has ended has left its last result there.
    if (!earlier.isEmpty() && settings.programs && !settings.programs->runs(helixExecutableName())) {
        applicationNotRunning();
        if (stopped)
            return;
    }

    const QString path = resultFilePath();
    if (!QFile::exists(path)) {
        failedTakes = 0;
        return;
    }
    if (!resultFileSettled(path))
        return;

    // Requests and results are dated by the same clock, the file system's.
    const QDateTime modified = modificationTime(path);
    const QList<ExamRequest> requests = owners();
    if (std::none_of(requests.begin(), requests.end(),
                     [&](const ExamRequest &request) { return !request.isKnown() || modified > request.writtenAt; })) {
        setAside(path, modified, "Result file older than the waiting exams' requests set aside:");
        return;
    }
    // Read into a frame that no page receives, the result would be lost; it waits for the next page.
    if (pageConnected)
        take(path, modified);
}

bool HelixExam::setAside(const QString &path, const QDateTime &modified, const char *why)
{
    const QString unclaimed = folder + QStringLiteral("/unclaimed");
    QDir().mkpath(unclaimed);
    const QString target = freeResultName(unclaimed, modified);
    if (!settings.files->rename(path, target))
        return false;
    qCWarning(connectorLog).noquote() << why << target;
    return true;
}

bool HelixExam::take(const QString &path, const QDateTime &modified)
{
    const QString claimed = folder + QStringLiteral("/claimed");
    QDir().mkpath(claimed);
    const QString target = freeResultName(claimed, modified);
    const FileOperations::Taken taken = settings.files->take(path, target);
    if (!taken.moved) {
        // Held by its writer: tried again at the next tick.
        ++failedTakes;
        if (failedTakes == failedTakesBeforeLog || failedTakes % failedTakesBetweenLogs == 0)
            qCWarning(connectorLog).noquote()
                << "Result file" << path << "cannot be taken yet, tried" << failedTakes << "times:" << taken.error;
        return false;
    }
    failedTakes = 0;
    claimedPath = target;
    claimedModified = modified;
    return deliverClaimed(taken.bytes);
}

bool HelixExam::deliverClaimed(std::optional<QByteArray> bytes)
{
    if (!bytes)
        bytes = settings.files->read(claimedPath);
    if (!bytes)
        return false;
    const auto zero = bytes->indexOf('\0');
    if (zero >= 0)
        bytes->truncate(zero);
    const QString text = resultText(*bytes);

    const QList<ExamRequest> requests = owners();
    const Attribution attribution = attributeResult(requests, claimedModified, text);
    if (attribution.kind == Attribution::Owner) {
        QJsonObject payload = examPayload(requests.at(attribution.owner).patient);
        payload.insert(QStringLiteral("results"), text);
        emit sendMessage(HELIX_RESULTS, payload);
        // A copy that cannot be deleted stays in "claimed", where nothing picks it up again.
        if (!settings.files->remove(claimedPath))
            qCWarning(connectorLog) << "Reported result file could not be deleted:" << claimedPath;
        removeOwner(attribution.owner);
    } else {
        // Guessing could give one patient another's result: the operator imports it by hand.
        if (!setAside(claimedPath, claimedModified,
                      "Result file names none or several of the waiting exams' patients, set aside:"))
            qCWarning(connectorLog) << "Result file names none or several of the waiting exams' patients, left in:"
                                    << claimedPath;
        emit sendErrorMessage(HELIX_RESULT_UNATTRIBUTED);
    }
    claimedPath.clear();
    if (!isWaiting())
        stop();
    return true;
}

void HelixExam::removeOwner(int index)
{
    if (index == earlier.size())
        own.reset();
    else
        earlier.removeAt(index);
    emit waitingChanged();
}

void HelixExam::logUnreadClaim()
{
    if (!claimedPath.isEmpty())
        qCWarning(connectorLog) << "Result file taken but never read; it stays in" << claimedPath;
}
