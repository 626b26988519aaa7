// Why a download from the vendor's server failed, in words the clinic's IT can act on.
#include "platform/networkfailure.h"

#include <QNetworkRequest>

QString networkFailureText(const QNetworkReply &reply, int timeoutMs)
{
    switch (reply.error()) {
    case QNetworkReply::ProxyAuthenticationRequiredError:
        // The system's proxy asked (HTTP 407), and the connector has no credentials to give it.
        return QStringLiteral("the proxy asks for credentials (HTTP 407), which the connector does not give: let ") +
               reply.url().host() + QStringLiteral(" through the proxy without them");
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        // The request's transfer timeout ends a reply that receives nothing for that long.
        return QStringLiteral("no answer from %1 for %2 s").arg(reply.url().host()).arg(timeoutMs / 1000);
    default:
        break;
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return reply.errorString() + (status.isValid() ? QStringLiteral(", HTTP status ") + status.toString() : QString());
}
