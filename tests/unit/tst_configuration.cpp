// Which configuration files let the connector start, and what they set.
#include <QTemporaryDir>
#include <QTest>

#include "connector/configuration.h"

Q_DECLARE_METATYPE(ConfigurationOutcome)
Q_DECLARE_METATYPE(OriginPolicy::Unknown)

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void outcomeOfFileContent_data();
    void outcomeOfFileContent();
    void argumentList();
    void sessionIdsAsText_data();
    void sessionIdsAsText();
    void acceptedFileIsLeftUntouched();
    void optionalKeys();
    void listenAddress_data();
    void listenAddress();
    void unknownOrigins_data();
    void unknownOrigins();
    void applicationFolders_data();
    void applicationFolders();
    void downloadServerRules_data();
    void downloadServerRules();
};

void TestConfiguration::outcomeOfFileContent_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<ConfigurationOutcome>("outcome");
    const auto accepted = ConfigurationOutcome::Accepted;
    const auto notFound = ConfigurationOutcome::NotFound;
    const auto invalid = ConfigurationOutcome::Invalid;
    QTest::addRow("object with sessionids") << QByteArray(R"({"sessionids": "abc"})") << accepted;
    QTest::addRow("array") << QByteArray(R"([{"sessionids": "abc"}])") << notFound;
    QTest::addRow("number") << QByteArray("42") << notFound;
    QTest::addRow("empty file") << QByteArray() << notFound;
    QTest::addRow("malformed JSON") << QByteArray(R"({"sessionids": )") << notFound;
    QTest::addRow("bare string") << QByteArray(R"("sessionids")") << notFound;
    QTest::addRow("key in other case") << QByteArray(R"({"sessionIds": "abc"})") << invalid;
    QTest::addRow("empty object") << QByteArray("{}") << invalid;
    QTest::addRow("sessionids number") << QByteArray(R"({"sessionids": 7})") << accepted;
    QTest::addRow("sessionids null") << QByteArray(R"({"sessionids": null})") << accepted;
    QTest::addRow("extra keys ignored") << QByteArray(R"({"sessionids": "", "theme": "dark", "port": 9})") << accepted;
    QTest::addRow("origins not an array") << QByteArray(R"({"sessionids": "", "allowed_origins": "x"})") << invalid;
    QTest::addRow("origins not strings") << QByteArray(R"({"sessionids": "", "allowed_origins": [1]})") << invalid;
    QTest::addRow("unknown database") << QByteArray(R"({"sessionids": "", "polysomno_database": "mysql"})") << invalid;
    QTest::addRow("listen address garbage")
        << QByteArray(R"({"sessionids": "", "listen_address": "nowhere"})") << invalid;
    QTest::addRow("check_updates as text") << QByteArray(R"({"sessionids": "", "check_updates": "true"})") << invalid;
    QTest::addRow("check_updates as a number") << QByteArray(R"({"sessionids": "", "check_updates": 1})") << invalid;
    QTest::addRow("download server ftp") << QByteArray(R"({"sessionids": "", "download_server": "ftp://example.org"})")
                                         << invalid;
}

void TestConfiguration::outcomeOfFileContent()
{
    QFETCH(QByteArray, content);
    QFETCH(ConfigurationOutcome, outcome);
    QCOMPARE(parseConfiguration(content).outcome, outcome);

    // The same decision through the argument list and a real file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("connector.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(readConfiguration({QStringLiteral("connector"), path}).outcome, outcome);
}

void TestConfiguration::argumentList()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.json"));
    QFile file(good);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"sessionids": "s1"})");
    file.close();

    QCOMPARE(readConfiguration({QStringLiteral("connector")}).outcome, ConfigurationOutcome::NotFound);
    QCOMPARE(readConfiguration({}).outcome, ConfigurationOutcome::NotFound);
    QCOMPARE(readConfiguration({QStringLiteral("connector"), dir.filePath(QStringLiteral("missing.json"))}).outcome,
             ConfigurationOutcome::NotFound);
    QCOMPARE(readConfiguration({QStringLiteral("connector"), dir.path()}).outcome, ConfigurationOutcome::NotFound);
    // Only the first argument is read.
    const ConfigurationResult result =
        readConfiguration({QStringLiteral("connector"), good, dir.filePath(QStringLiteral("missing.json"))});
    QCOMPARE(result.outcome, ConfigurationOutcome::Accepted);
    QCOMPARE(result.configuration.sessionIds, QStringLiteral("s1"));
    QCOMPARE(
        readConfiguration({QStringLiteral("connector"), dir.filePath(QStringLiteral("missing.json")), good}).outcome,
        ConfigurationOutcome::NotFound);
}

void TestConfiguration::sessionIdsAsText_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("sessionIds");
    QTest::addRow("text") << QByteArray(R"({"sessionids": "a,b"})") << QStringLiteral("a,b");
    QTest::addRow("number") << QByteArray(R"({"sessionids": 12})") << QString();
    QTest::addRow("null") << QByteArray(R"({"sessionids": null})") << QString();
    QTest::addRow("array") << QByteArray(R"({"sessionids": ["a"]})") << QString();
    QTest::addRow("non-ASCII") << QByteArray("{\"sessionids\": \"caf\xc3\xa9\"}") << QStringLiteral("caf\u00e9");
}

void TestConfiguration::sessionIdsAsText()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, sessionIds);
    const ConfigurationResult result = parseConfiguration(content);
    QCOMPARE(result.outcome, ConfigurationOutcome::Accepted);
    QCOMPARE(result.configuration.sessionIds, sessionIds);
}

void TestConfiguration::acceptedFileIsLeftUntouched()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("connector.json"));
    const QByteArray content = "{\"sessionids\": \"x\", \"other\": 1}\r\n";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(readConfiguration({QStringLiteral("connector"), path}).outcome, ConfigurationOutcome::Accepted);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void TestConfiguration::optionalKeys()
{
    const ConfigurationResult defaults = parseConfiguration(R"({"sessionids": ""})");
    QCOMPARE(defaults.configuration.downloadServer, defaultDownloadServer());
    QCOMPARE(defaults.configuration.checkUpdates, false);
    QCOMPARE(defaults.configuration.database, defaultDatabaseBackend());
    QVERIFY(!defaults.configuration.allowedOrigins.has_value());

    const ConfigurationResult set = parseConfiguration(R"({"sessionids": "", "check_updates": true,
        "polysomno_database": "odbc", "download_server": "http://127.0.0.1:8080/",
        "allowed_origins": ["https://care.example.org", "http://localhost:3000"]})");
    QCOMPARE(set.outcome, ConfigurationOutcome::Accepted);
    QCOMPARE(set.configuration.checkUpdates, true);
    QCOMPARE(set.configuration.database, std::optional<DatabaseBackend>(DatabaseBackend::Odbc));
    QCOMPARE(set.configuration.downloadServer, QUrl(QStringLiteral("http://127.0.0.1:8080")));
    QCOMPARE(*set.configuration.allowedOrigins,
             QStringList({QStringLiteral("https://care.example.org"), QStringLiteral("http://localhost:3000")}));

    // Only the JSON literal true switches the update check on.
    QCOMPARE(parseConfiguration(R"({"sessionids": "", "check_updates": "true"})").configuration.checkUpdates, false);
    QCOMPARE(parseConfiguration(R"({"sessionids": "", "polysomno_database": "sqlite"})").configuration.database,
             std::optional<DatabaseBackend>(DatabaseBackend::Sqlite));
}

void TestConfiguration::listenAddress_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("addresses");
    QTest::addRow("loopback by default") << QByteArray(R"({"sessionids": ""})")
                                         << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
    QTest::addRow("any") << QByteArray(R"({"sessionids": "", "listen_address": "any"})")
                         << QStringList{QHostAddress(QHostAddress::Any).toString()};
    QTest::addRow("one address") << QByteArray(R"({"sessionids": "", "listen_address": "192.168.1.20"})")
                                 << QStringList{QStringLiteral("192.168.1.20")};
    QTest::addRow("one IPv6 address") << QByteArray(R"({"sessionids": "", "listen_address": "fe80::1"})")
                                      << QStringList{QStringLiteral("fe80::1")};
}

void TestConfiguration::listenAddress()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, addresses);
    QStringList listen;
    for (const QHostAddress &address : parseConfiguration(content).configuration.listenAddresses)
        listen.append(address.toString());
    QCOMPARE(listen, addresses);
}

void TestConfiguration::unknownOrigins_data()
{
    QTest::addColumn<QByteArray>("keys"); // beside "sessionids"
    QTest::addColumn<ConfigurationOutcome>("outcome");
    QTest::addColumn<OriginPolicy::Unknown>("unknown");
    const auto accepted = ConfigurationOutcome::Accepted;
    const auto invalid = ConfigurationOutcome::Invalid;
    const auto ask = OriginPolicy::Unknown::Ask, refuse = OriginPolicy::Unknown::Refuse;
    const auto allow = OriginPolicy::Unknown::Allow;
    const QByteArray listed = R"("allowed_origins": ["https://care.example.org"])";
    QTest::addRow("ask without a list by default") << QByteArray() << accepted << ask;
    QTest::addRow("refuse with a list by default") << listed << accepted << refuse;
    QTest::addRow("empty list counts as a list") << QByteArray(R"("allowed_origins": [])") << accepted << refuse;
    QTest::addRow("ask") << QByteArray(R"("unknown_origins": "ask")") << accepted << ask;
    QTest::addRow("ask with a list") << listed + R"(, "unknown_origins": "ask")" << accepted << ask;
    QTest::addRow("refuse") << QByteArray(R"("unknown_origins": "refuse")") << accepted << refuse;
    QTest::addRow("allow") << QByteArray(R"("unknown_origins": "allow")") << accepted << allow;
    QTest::addRow("allow with a list") << listed + R"(, "unknown_origins": "allow")" << accepted << allow;
    QTest::addRow("in other case") << QByteArray(R"("unknown_origins": "Refuse")") << invalid << ask;
    QTest::addRow("true") << QByteArray(R"("unknown_origins": true)") << invalid << ask;
    QTest::addRow("null") << QByteArray(R"("unknown_origins": null)") << invalid << ask;
}

void TestConfiguration::unknownOrigins()
{
    QFETCH(QByteArray, keys);
    QFETCH(ConfigurationOutcome, outcome);
    QFETCH(OriginPolicy::Unknown, unknown);
    const ConfigurationResult result =
        parseConfiguration("{\"sessionids\": \"\"" + (keys.isEmpty() ? QByteArray() : ", " + keys) + "}");
    QCOMPARE(result.outcome, outcome);
    if (outcome == ConfigurationOutcome::Accepted)
        QCOMPARE(result.configuration.unknownOrigins, unknown);
}

void TestConfiguration::applicationFolders_data()
{
    QTest::addColumn<QByteArray>("keys"); // beside "sessionids"
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<UnknownPolicy>("unknown");
#ifdef Q_OS_WIN
    const QString folder = QStringLiteral("C:\\Helix\\");
    const QByteArray folderJson = R"("C:\\Helix\\")";
#else
    const QString folder = QStringLiteral("/opt/helix/");
    const QByteArray folderJson = R"("/opt/helix/")";
#endif
    const QStringList none;
    const auto ask = UnknownPolicy::Ask;
    QTest::addRow("ask, no folders by default") << QByteArray() << true << none << ask;
    QTest::addRow("a folder") << "\"application_folders\": [" + folderJson + "]" << true << QStringList{folder} << ask;
    QTest::addRow("refuse") << QByteArray(R"("unknown_application_folders": "refuse")") << true << none
                            << UnknownPolicy::Refuse;
    QTest::addRow("allow") << QByteArray(R"("unknown_application_folders": "allow")") << true << none
                           << UnknownPolicy::Allow;
    // Unusable values are refused like those of the other optional keys.
    QTest::addRow("folders not an array") << "\"application_folders\": " + folderJson << false << none << ask;
    QTest::addRow("a folder not text") << QByteArray(R"("application_folders": [7])") << false << none << ask;
    QTest::addRow("a relative folder") << QByteArray(R"("application_folders": ["helix"])") << false << none << ask;
    QTest::addRow("a network share") << QByteArray(R"("application_folders": ["\\\\server\\share\\"])") << false << none
                                     << ask;
    QTest::addRow("a folder with ..") << QByteArray(R"("application_folders": ["/opt/../home"])") << false << none
                                      << ask;
    QTest::addRow("unknown word") << QByteArray(R"("unknown_application_folders": "Allow")") << false << none << ask;
    QTest::addRow("null") << QByteArray(R"("unknown_application_folders": null)") << false << none << ask;
}

void TestConfiguration::applicationFolders()
{
    QFETCH(QByteArray, keys);
    QFETCH(bool, accepted);
    QFETCH(QStringList, folders);
    QFETCH(UnknownPolicy, unknown);
    const ConfigurationResult result =
        parseConfiguration("{\"sessionids\": \"\"" + (keys.isEmpty() ? QByteArray() : ", " + keys) + "}");
    QCOMPARE(result.outcome, accepted ? ConfigurationOutcome::Accepted : ConfigurationOutcome::Invalid);
    if (!accepted)
        return;
    QCOMPARE(result.configuration.applicationFolders, folders);
    QCOMPARE(result.configuration.unknownApplicationFolders, unknown);
}

void TestConfiguration::downloadServerRules_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("acceptable");
    QTest::addRow("https host") << QStringLiteral("https://download.example.org") << true;
    QTest::addRow("https with port") << QStringLiteral("https://download.example.org:8443") << true;
    QTest::addRow("http remote host") << QStringLiteral("http://download.example.org") << false;
    QTest::addRow("http 127.0.0.1") << QStringLiteral("http://127.0.0.1:8080") << true;
    QTest::addRow("http other loopback") << QStringLiteral("http://127.0.0.2:8080") << true;
    QTest::addRow("http ::1") << QStringLiteral("http://[::1]:8080") << true;
    QTest::addRow("http localhost") << QStringLiteral("http://localhost:8080") << true;
    QTest::addRow("http localhost lookalike") << QStringLiteral("http://localhost.example.org") << false;
    QTest::addRow("ftp") << QStringLiteral("ftp://127.0.0.1") << false;
    QTest::addRow("with path") << QStringLiteral("https://example.org/files") << false;
    QTest::addRow("with user") << QStringLiteral("https://user@example.org") << false;
    QTest::addRow("with query") << QStringLiteral("https://example.org?x=1") << false;
    QTest::addRow("no host") << QStringLiteral("https://") << false;
    QTest::addRow("not a URL") << QStringLiteral("download server") << false;
}

void TestConfiguration::downloadServerRules()
{
    QFETCH(QString, server);
    QFETCH(bool, acceptable);
    QCOMPARE(isAcceptableDownloadServer(QUrl(server, QUrl::StrictMode)), acceptable);
    const QByteArray content = "{\"sessionids\": \"\", \"download_server\": \"" + server.toUtf8() + "\"}";
    QCOMPARE(parseConfiguration(content).outcome,
             acceptable ? ConfigurationOutcome::Accepted : ConfigurationOutcome::Invalid);
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
