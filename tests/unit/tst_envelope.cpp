// Which command envelopes reach a device bridge, and which are answered with INVALID_ARGUMENTS.
#include <QTest>

#include "protocol/envelope.h"

namespace {

// An application folder this system accepts, as text and as it stands in JSON.
QString localFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Clinic Apps\\Helix\\");
#else
    return QStringLiteral("/opt/clinic apps/helix/");
#endif
}

QString localFolderJson()
{
    return localFolder().replace(QLatin1Char('\\'), QLatin1String("\\\\"));
}

// The envelope of a text message, parsed as the router parses it.
std::optional<Envelope> envelopeOf(const QString &message)
{
    return parseEnvelope(QJsonDocument::fromJson(message.toUtf8()));
}

} // namespace

class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void refused_data();
    void refused();
    void accepted_data();
    void accepted();
    void nonAsciiTextArrivesUnchanged();
};

void TestEnvelope::refused_data()
{
    QTest::addColumn<QString>("message");
    QTest::addRow("malformed") << QStringLiteral(R"({"type": "AUDIOMETRY", )");
    QTest::addRow("empty text") << QString();
    QTest::addRow("array") << QStringLiteral(R"([{"type": "AUDIOMETRY", "appPath": "", "args": {"command": 1}}])");
    QTest::addRow("bare string") << QStringLiteral(R"("AUDIOMETRY")");
    QTest::addRow("number") << QStringLiteral("2");
    QTest::addRow("type absent") << QStringLiteral(R"({"appPath": "/x/", "args": {"command": "START_AUDIOMETRY"}})");
    QTest::addRow("args absent") << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/x/"})");
    QTest::addRow("args array") << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/x/", "args": ["command"]})");
    QTest::addRow("args string") << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/x/", "args": "command"})");
    QTest::addRow("args empty object") << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/x/", "args": {}})");
    QTest::addRow("appPath absent") << QStringLiteral(R"({"type": "POLYSOMNO", "args": {"command": "x"}})");
    QTest::addRow("type lower case") << QStringLiteral(
        R"({"type": "audiometry", "appPath": "/x/", "args": {"command": "x"}})");
    QTest::addRow("type number") << QStringLiteral(R"({"type": 1, "appPath": "/x/", "args": {"command": "x"}})");
    QTest::addRow("type null") << QStringLiteral(R"({"type": null, "appPath": "/x/", "args": {"command": "x"}})");
    QTest::addRow("type with blank") << QStringLiteral(
        R"({"type": "POLYSOMNO ", "appPath": "/x/", "args": {"command": "x"}})");
    QTest::addRow("share with backslashes") << QStringLiteral(
        "{\"type\": \"AUDIOMETRY\", \"appPath\": \"\\\\\\\\host\\\\share\\\\\", \"args\": {\"command\": \"x\"}}");
    QTest::addRow("share with slashes") << QStringLiteral(
        "{\"type\": \"POLYSOMNO\", \"appPath\": \"//host/share/\", \"args\": {\"command\": \"x\"}}");
    QTest::addRow("share with mixed separators") << QStringLiteral(
        "{\"type\": \"POLYSOMNO\", \"appPath\": \"\\\\/host/share/\", \"args\": {\"command\": \"x\"}}");
    QTest::addRow("share mixed the other way") << QStringLiteral(
        "{\"type\": \"AUDIOMETRY\", \"appPath\": \"/\\\\host\\\\share\\\\\", \"args\": {\"command\": \"x\"}}");
    // The folder rule itself is AppFolder's; these show that the envelope applies it.
    QTest::addRow("appPath null: no folder")
        << QStringLiteral(R"({"type": "POLYSOMNO", "appPath": null, "args": {"command": "START_POLYSOMNO"}})");
    QTest::addRow("appPath a number") << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": 5, "args": {"x": 1}})");
    QTest::addRow("appPath relative") << QStringLiteral(
        R"({"type": "AUDIOMETRY", "appPath": "Helix/", "args": {"x": 1}})");
}

void TestEnvelope::refused()
{
    QFETCH(QString, message);
    QVERIFY(!envelopeOf(message).has_value());
}

void TestEnvelope::accepted_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("appPath");
    const int audiometry = int(Device::Audiometry);
    const int polysomno = int(Device::Polysomnography);
    const auto envelope = [](const char *type, const QString &args) {
        return QStringLiteral(R"({"id": 9, "type": "%1", "appPath": "%2", "args": %3})")
            .arg(QLatin1String(type), localFolderJson(), args);
    };
    QTest::addRow("audiometry") << envelope("AUDIOMETRY", QStringLiteral(R"({"command": "START_AUDIOMETRY"})"))
                                << audiometry << localFolder();
    QTest::addRow("polysomno") << envelope("POLYSOMNO", QStringLiteral(R"({"command": "START_POLYSOMNO"})"))
                               << polysomno << localFolder();
    QTest::addRow("args without command")
        << envelope("AUDIOMETRY", QStringLiteral(R"({"x": 1})")) << audiometry << localFolder();
}

void TestEnvelope::accepted()
{
    QFETCH(QString, message);
    QFETCH(int, device);
    QFETCH(QString, appPath);
    const std::optional<Envelope> envelope = envelopeOf(message);
    QVERIFY(envelope.has_value());
    QCOMPARE(int(envelope->device), device);
    QCOMPARE(envelope->appFolder.path(), appPath);
    QVERIFY(!envelope->args.isEmpty());
}

void TestEnvelope::nonAsciiTextArrivesUnchanged()
{
    const QString expected = QStringLiteral("Jos\u00e9 \u0141uk\u00e1\u0161 \u6d4b\u8bd5");
    const QString raw = QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "%1", "args": {"name": "%2"}})")
                            .arg(localFolderJson(), expected);
    const QString escaped =
        QStringLiteral(
            R"({"type": "AUDIOMETRY", "appPath": "%1", "args": {"name": "Jos\u00e9 \u0141uk\u00e1\u0161 \u6d4b\u8bd5"}})")
            .arg(localFolderJson());
    QCOMPARE(envelopeOf(raw)->args.value(QLatin1String("name")).toString(), expected);
    QCOMPARE(envelopeOf(escaped)->args.value(QLatin1String("name")).toString(), expected);
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"
