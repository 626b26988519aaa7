// Elsewhere: an exclusive lock on a file in the per-user data folder, released by the system when the process ends.
#include "platform/sessionclaim.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/connectorlog.h"

SessionClaim::SessionClaim(const QString &dataFolder)
{
    QDir().mkpath(dataFolder);
    const QByteArray path = QFile::encodeName(dataFolder + QStringLiteral("/connector.lock"));
    // Close-on-exec: a program the connector starts must not keep the claim after the connector ended.
    descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        claimed = true;
        return;
    }
    // Held by another connector; any other failure leaves this one running, and says why.
    const int error = errno;
    claimed = descriptor < 0 || error != EWOULDBLOCK;
    if (claimed)
        qCWarning(connectorLog).noquote() << "Cannot claim the session:" << QString::fromLocal8Bit(path)
                                          << QString::fromLocal8Bit(std::strerror(error));
}

SessionClaim::~SessionClaim()
{
    if (descriptor >= 0)
        ::close(descriptor);
}
