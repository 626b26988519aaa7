// Which command envelopes reach a device bridge, and which are answered with INVALID_ARGUMENTS.
#include <QTest>

#include "protocol/envelope.h"

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
}

void TestEnvelope::refused()
{
    QFETCH(QString, message);
    QVERIFY(!parseEnvelope(message).has_value());
}

void TestEnvelope::accepted_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("appPath");
    const int audiometry = int(Device::Audiometry);
    const int polysomno = int(Device::Polysomnography);
    QTest::addRow("audiometry") << QStringLiteral("{\"type\": \"AUDIOMETRY\", \"appPath\": \"C:\\\\Helix\\\\\", "
                                                  "\"args\": {\"command\": \"START_AUDIOMETRY\"}}")
                                << audiometry << QStringLiteral("C:\\Helix\\");
    QTest::addRow("polysomno")
        << QStringLiteral(R"({"type": "POLYSOMNO", "appPath": "/opt/somno/", "args": {"command": "START_POLYSOMNO"}})")
        << polysomno << QStringLiteral("/opt/somno/");
    QTest::addRow("appPath null counts as present")
        << QStringLiteral(R"({"type": "POLYSOMNO", "appPath": null, "args": {"command": "START_POLYSOMNO"}})")
        << polysomno << QString();
    QTest::addRow("appPath number gives empty text")
        << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": 5, "args": {"x": 1}})") << audiometry << QString();
    QTest::addRow("args without command")
        << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "", "args": {"x": 1}})") << audiometry << QString();
    QTest::addRow("extra keys ignored")
        << QStringLiteral(R"({"id": 9, "type": "AUDIOMETRY", "appPath": "/a b/", "args": {"command": "X"}})")
        << audiometry << QStringLiteral("/a b/");
    QTest::addRow("single leading slash is local")
        << QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "/srv/helix/", "args": {"command": "X"}})") << audiometry
        << QStringLiteral("/srv/helix/");
}

void TestEnvelope::accepted()
{
    QFETCH(QString, message);
    QFETCH(int, device);
    QFETCH(QString, appPath);
    const std::optional<Envelope> envelope = parseEnvelope(message);
    QVERIFY(envelope.has_value());
    QCOMPARE(int(envelope->device), device);
    QCOMPARE(envelope->appFolder.path(), appPath);
    QVERIFY(!envelope->args.isEmpty());
}

void TestEnvelope::nonAsciiTextArrivesUnchanged()
{
    const QString expected = QStringLiteral("Jos\u00e9 \u0141uk\u00e1\u0161 \u6d4b\u8bd5");
    const QString raw =
        QStringLiteral(R"({"type": "AUDIOMETRY", "appPath": "", "args": {"name": "%1"}})").arg(expected);
    const QString escaped = QStringLiteral(
        R"({"type": "AUDIOMETRY", "appPath": "", "args": {"name": "Jos\u00e9 \u0141uk\u00e1\u0161 \u6d4b\u8bd5"}})");
    QCOMPARE(parseEnvelope(raw)->args.value(QLatin1String("name")).toString(), expected);
    QCOMPARE(parseEnvelope(escaped)->args.value(QLatin1String("name")).toString(), expected);
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"
