// Which TLS implementation the connector's https downloads use.
#include "platform/tlsbackend.h"

#include <QSslSocket>
#include <QStringList>

#include "platform/connectorlog.h"

QString preferredTlsBackend()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QString();
#elif defined(Q_OS_WIN)
    return QStringLiteral("schannel");
#else
    return QStringLiteral("openssl");
#endif
}

bool chooseTlsBackend()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    qCInfo(connectorLog).noquote() << "TLS:" << QSslSocket::sslLibraryVersionString();
    return QSslSocket::supportsSsl();
#else
    const QString preferred = preferredTlsBackend();
    const QStringList available = QSslSocket::availableBackends();
    if (!available.contains(preferred) || !QSslSocket::setActiveBackend(preferred)) {
        qCWarning(connectorLog).noquote()
            << "TLS backend" << preferred << "is not available; available:" << available.join(QStringLiteral(", "));
        qCInfo(connectorLog).noquote() << "TLS backend:" << QSslSocket::activeBackend();
        return false;
    }
    qCInfo(connectorLog).noquote() << QStringLiteral("TLS backend: %1 (%2)")
                                          .arg(QSslSocket::activeBackend(), QSslSocket::sslLibraryVersionString());
    return true;
#endif
}
