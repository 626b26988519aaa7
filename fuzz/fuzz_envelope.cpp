// Feeds arbitrary page messages through the log's redaction, the envelope reading and routing decision, and the
// frame writers.
#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

#include "protocol/envelope.h"
#include "protocol/frames.h"
#include "protocol/redaction.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString message = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    // The log's form of the message is one bounded line, whatever the page sent.
    const QString logged = redactedMessage(document, message.size());
    if (logged.contains(QLatin1Char('\n')) || logged.contains(QLatin1Char('\r')) ||
        logged.size() > 2 * maxRedactedLength)
        std::abort();
    const std::optional<Envelope> envelope = parseEnvelope(document);
    if (envelope) {
        // An accepted envelope never names a network location and always carries a command object.
        if (!envelope->appFolder.isAcceptable() || envelope->args.isEmpty())
            std::abort();
        // A frame built from whatever the page sent is always a JSON object again.
        const QByteArray frame = messageFrame(HELIX_EXAM_STARTED, envelope->args);
        if (!QJsonDocument::fromJson(frame).isObject() || !frame.endsWith("}\n"))
            std::abort();
    }
    return 0;
}
