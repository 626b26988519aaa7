// Elsewhere a file can be renamed while a writer holds it open: the settle time of the exam keeps half-written
// results out.
#include "platform/fileoperations.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

/// Renames without replacing and without copying; the reason when it does not.
QString renameProblem(const QString &from, const QString &to)
{
    const QByteArray target = QFile::encodeName(to);
    struct stat info;
    if (::lstat(target.constData(), &info) == 0)
        return QStringLiteral("the target exists");
    if (std::rename(QFile::encodeName(from).constData(), target.constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

} // namespace

bool FileOperations::rename(const QString &from, const QString &to)
{
    return renameProblem(from, to).isEmpty();
}

FileOperations::Taken FileOperations::take(const QString &from, const QString &to)
{
    const QString problem = renameProblem(from, to);
    if (!problem.isEmpty())
        return {false, std::nullopt, problem};
    return {true, read(to), QString()};
}
