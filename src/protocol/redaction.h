// The page's text as the logs may keep it: only what is known to carry no patient value.
#pragma once

#include <QJsonDocument>
#include <QString>

/// The message, parsed as a JSON document, by an allowlist: the names of the keys present, at any depth; the
/// values of "type" and of "command" in "args" only when they are words the connector knows; the text of
/// "appPath". Every other value is replaced by its kind (and a text's or an array's length). Text that is no
/// JSON object gives only its length (messageLength characters), since a patient value could stand anywhere in
/// it. The result is cut after maxRedactedLength characters and says so.
QString redactedMessage(const QJsonDocument &document, int messageLength);

constexpr int maxRedactedLength = 2048;
