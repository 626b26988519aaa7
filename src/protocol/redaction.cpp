// The page's text as the logs may keep it: only what is known to carry no patient value.
#include "protocol/redaction.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

// Longer key names are cut: a key is the page's text too.
constexpr int maxKeyLength = 64;

bool isKnownType(const QString &word)
{
    return word == QLatin1String("AUDIOMETRY") || word == QLatin1String("POLYSOMNO");
}

bool isKnownCommand(const QString &word)
{
    return word == QLatin1String("START_AUDIOMETRY") || word == QLatin1String("INSTALL_HELIX") ||
           word == QLatin1String("START_POLYSOMNO");
}

/// Written in one pass over the parsed document; stops once the line is long enough.
class RedactedWriter
{
public:
    QString text;

    bool full() const { return text.size() > maxRedactedLength; }

    void quoted(const QString &value, int maxLength)
    {
        text += QLatin1Char('"');
        for (const QChar c : value.left(maxLength)) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                text += QLatin1Char('\\');
            // No line break or other control character of the page's reaches a log line.
            if (c.unicode() < 0x20 || c.category() == QChar::Other_Format || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator)
                text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                text += c;
        }
        if (value.size() > maxLength)
            text += QStringLiteral("...(%1)").arg(value.size());
        text += QLatin1Char('"');
    }

    void placeholder(const QJsonValue &value)
    {
        switch (value.type()) {
        case QJsonValue::Null:
            text += QLatin1String("null");
            break;
        case QJsonValue::Bool:
            text += QLatin1String("<boolean>");
            break;
        case QJsonValue::Double:
            text += QLatin1String("<number>");
            break;
        case QJsonValue::String:
            text += QStringLiteral("<text, %1 characters>").arg(value.toString().size());
            break;
        case QJsonValue::Array:
            text += QStringLiteral("<array, %1 values>").arg(value.toArray().size());
            break;
        default:
            text += QLatin1String("<other>");
            break;
        }
    }

    void word(const QJsonValue &value, bool (*known)(const QString &))
    {
        if (value.isString() && known(value.toString()))
            quoted(value.toString(), maxKeyLength);
        else if (value.isString())
            text += QStringLiteral("<unknown word, %1 characters>").arg(value.toString().size());
        else
            placeholder(value);
    }

    enum class Level
    {
        Envelope, // "type", "appPath" and "args" are read here
        Args,     // "command" is read here
        Inner,
    };

    void object(const QJsonObject &object, Level level)
    {
        text += QLatin1Char('{');
        bool first = true;
        for (auto it = object.constBegin(); it != object.constEnd() && !full(); ++it) {
            if (!first)
                text += QLatin1Char(',');
            first = false;
            const QString key = it.key();
            quoted(key, maxKeyLength);
            text += QLatin1Char(':');
            const QJsonValue value = it.value();
            if (level == Level::Envelope && key == QLatin1String("type"))
                word(value, isKnownType);
            else if (level == Level::Args && key == QLatin1String("command"))
                word(value, isKnownCommand);
            else if (level == Level::Envelope && key == QLatin1String("appPath") && value.isString())
                quoted(value.toString(), maxRedactedLength);
            else if (value.isObject())
                this->object(value.toObject(),
                             level == Level::Envelope && key == QLatin1String("args") ? Level::Args : Level::Inner);
            else
                placeholder(value);
        }
        text += QLatin1Char('}');
    }
};

} // namespace

QString redactedMessage(const QJsonDocument &document, int messageLength)
{
    if (!document.isObject())
        return QStringLiteral("(no JSON object, %1 characters)").arg(messageLength);
    RedactedWriter writer;
    writer.object(document.object(), RedactedWriter::Level::Envelope);
    if (!writer.full())
        return writer.text;
    return writer.text.left(maxRedactedLength) + QStringLiteral("... (cut, %1 characters of JSON)").arg(messageLength);
}
