// Which TLS implementation the connector's https downloads use.
#pragma once

#include <QString>

/// The TLS backend this platform asks for: "schannel" (Windows' own) on Windows, "openssl" elsewhere. Empty with
/// Qt 5, which has only the one it was built with.
QString preferredTlsBackend();

/// Makes the preferred backend the one every https connection uses, before any is made, and logs which one runs.
/// Qt 6 would otherwise take an OpenSSL that loads from anywhere on the PATH (another product's) over Schannel.
/// Whether the preferred backend is active; when it is not, the log says so and which one Qt took.
bool chooseTlsBackend();
