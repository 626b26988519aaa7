// The one waiting exam of each exchange folder, remembered across a restart of the connector.
#include "audiometry/examregistry.h"

#include <QDir>
#include <QFileInfo>

#include "audiometry/gdtrequest.h"
#include "audiometry/helixexam.h"
#include "audiometry/rememberedfolders.h"
#include "platform/connectorlog.h"
#include "platform/fileoperations.h"

namespace {

/// The exam the request file in folder asks for, as far as the file tells it.
std::optional<ExamRequest> requestIn(const QString &exchangeFolder, FileOperations &files)
{
    const QString path = exchangeFolder + QStringLiteral("/hedeprax.gdt");
    const std::optional<QByteArray> record = files.read(path);
    if (!record)
        return std::nullopt;
    const std::optional<Patient> patient = gdtRequestPatient(*record);
    if (!patient)
        return std::nullopt;
    return ExamRequest{*patient, QFileInfo(path).fileTime(QFileDevice::FileModificationTime).toUTC()};
}

} // namespace

void ExamRegistry::replace(const QString &exchangeFolder, HelixExam *exam)
{
    QPointer<HelixExam> &entry = exams[key(exchangeFolder)];
    HelixExam *earlier = entry;
    entry = exam;
    QObject::connect(exam, &HelixExam::waitingChanged, exam, [this] { remember(); });
    if (earlier && earlier != exam && earlier->isWaiting()) {
        qCInfo(connectorLog) << "Exam replaced by a newer request in" << exchangeFolder;
        exam->replace(*earlier);
    }
    remember();
}

int ExamRegistry::waiting() const
{
    int count = 0;
    for (const auto &entry : exams)
        count += entry.second && entry.second->isWaiting() ? 1 : 0;
    return count;
}

QList<HelixExam *> ExamRegistry::resume(const AudiometrySettings &settings)
{
    QList<HelixExam *> resumed;
    if (settings.waitingExamsFile.isEmpty())
        return resumed;
    files = settings.files;
    stateFile = settings.waitingExamsFile;
    const std::optional<QByteArray> state = files->read(stateFile);
    for (const RememberedFolder &folder : parseRememberedFolders(state.value_or(QByteArray()))) {
        std::optional<ExamRequest> request;
        if (folder.requestAwaited)
            request = requestIn(folder.exchangeFolder, *files);
        if (!request && !folder.earlierExamsAwaited)
            continue;
        auto *exam = new HelixExam(folder.exchangeFolder, request, settings);
        if (folder.earlierExamsAwaited)
            exam->addUnknownEarlierExam();
        qCInfo(connectorLog) << "Waiting exam resumed in" << folder.exchangeFolder;
        replace(folder.exchangeFolder, exam);
        exam->start();
        resumed.append(exam);
    }
    remember();
    return resumed;
}

void ExamRegistry::remember()
{
    if (stateFile.isEmpty())
        return;
    QList<RememberedFolder> folders;
    for (const auto &entry : exams) {
        const HelixExam *exam = entry.second;
        if (exam && exam->isWaiting())
            folders.append({exam->exchangeFolder(), exam->awaitsOwnResult(), exam->awaitsEarlierResults()});
    }
    QDir().mkpath(QFileInfo(stateFile).absolutePath());
    if (!files->replace(stateFile, rememberedFoldersJson(folders)))
        qCWarning(connectorLog) << "Waiting exams cannot be remembered in" << stateFile;
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
