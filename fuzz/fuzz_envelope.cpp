// Feeds arbitrary page messages through the envelope reading and routing decision, and the frame writers.
#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

#include "protocol/envelope.h"
#include "protocol/frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString message = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const std::optional<Envelope> envelope = parseEnvelope(QJsonDocument::fromJson(message.toUtf8()));
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
