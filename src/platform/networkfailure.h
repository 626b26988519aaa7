// Why a download from the vendor's server failed, in words the clinic's IT can act on.
#pragma once

#include <QNetworkReply>
#include <QString>

/// The reason of a failed reply for the log: a proxy that asks for credentials and a server that stopped answering
/// within timeoutMs are named as such; otherwise Qt's text with the HTTP status, if one came.
QString networkFailureText(const QNetworkReply &reply, int timeoutMs);
