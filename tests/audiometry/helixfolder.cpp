// An audiometry application folder for the tests: Helix.exe (simulator or dummy), XCHG, its processes.
#include "helixfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <functional>
#ifndef Q_OS_WIN
#include <csignal>
#include <sys/types.h>
#endif

HelixFolder::HelixFolder(const QString &folder) : path(folder)
{
    QDir().mkpath(path);
    // /proc names executables by their resolved path.
    path = QFileInfo(path).canonicalFilePath();
}

bool HelixFolder::installSimulator(const QJsonObject &settings)
{
    const QString exe = path + QStringLiteral("/Helix.exe");
    QFile::remove(exe);
    if (!QFile::copy(QStringLiteral(HELIX_SIMULATOR_BIN), exe))
        return false;
    QFile::setPermissions(exe,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    QFile file(path + QStringLiteral("/helix-simulator.json"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QJsonObject withBound = settings;
    // Never let a simulator outlive the test by much, even when the cleanup is skipped.
    if (!withBound.contains(QLatin1String("idle_exit_ms")))
        withBound.insert(QStringLiteral("idle_exit_ms"), 30000);
    file.write(QJsonDocument(withBound).toJson());
    return true;
}

bool HelixFolder::installDummy()
{
    QFile file(path + QStringLiteral("/Helix.exe"));
    return file.open(QIODevice::WriteOnly);
}

bool HelixFolder::writeResult(const QByteArray &bytes, qint64 ageMs) const
{
    QDir().mkpath(exchange());
    QFile file(resultFile());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    // Flushed first: a later flush would date the file now.
    return file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addMSecs(-ageMs), QFileDevice::FileModificationTime);
}

namespace {

QList<qint64> liveProcesses(const std::function<bool(const QString &exe)> &match)
{
    QList<qint64> result;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        // A zombie has no executable link any more.
        const QString exe = QFileInfo(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")).symLinkTarget();
        if (!exe.isEmpty() && match(exe))
            result.append(pid);
    }
    return result;
}

} // namespace

QList<qint64> HelixFolder::processes() const
{
    const QString prefix = path + QLatin1Char('/');
    return liveProcesses([&](const QString &exe) { return exe.startsWith(prefix); });
}

void HelixFolder::killProcesses() const
{
#ifndef Q_OS_WIN // the processes are found in /proc: none on Windows
    for (const qint64 pid : processes())
        ::kill(static_cast<pid_t>(pid), SIGKILL);
#endif
}

QList<qint64> foreignHelixProcesses(const QString &folder)
{
    const QString prefix = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    return liveProcesses([&](const QString &exe) {
        return QFileInfo(exe).fileName() == QLatin1String("Helix.exe") && !exe.startsWith(prefix);
    });
}

QJsonObject startEnvelope(const QString &appPath, const QJsonObject &patient)
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
        {QStringLiteral("appPath"), appPath},
        {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("START_AUDIOMETRY")},
                                             {QStringLiteral("patient"), patient}}}};
}
