// The update decision for every kind of manifest, the prompt texts and the addresses on the download server.
#include <QTest>

#include "app/updateprompt.h"
#include "update/updatecheck.h"
#include "update/updatedecision.h"

Q_DECLARE_METATYPE(UpdateDecision)

class TestUpdateDecision : public QObject
{
    Q_OBJECT

private slots:
    void decision_data();
    void decision();
    void promptTexts_data();
    void promptTexts();
    void addresses_data();
    void addresses();
};

void TestUpdateDecision::decision_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<int>("ownVersion");
    QTest::addColumn<UpdateDecision>("expected");

    const auto none = UpdateDecision::NoUpdate;
    const auto optional = UpdateDecision::Optional;
    const auto mandatory = UpdateDecision::Mandatory;

    QTest::addRow("same version") << QByteArray(R"({"version": 2})") << 2 << none;
    QTest::addRow("lower version") << QByteArray(R"({"version": 1, "mandatory": true})") << 2 << none;
    QTest::addRow("higher version") << QByteArray(R"({"version": 3})") << 2 << optional;
    QTest::addRow("higher version, mandatory") << QByteArray(R"({"version": 3, "mandatory": true})") << 2 << mandatory;
    QTest::addRow("whole number written 3.0") << QByteArray(R"({"version": 3.0})") << 2 << optional;
    QTest::addRow("whole number written 3e0") << QByteArray(R"({"version": 3e0, "mandatory": true})") << 2 << mandatory;
    QTest::addRow("fractional version") << QByteArray(R"({"version": 2.5})") << 2 << none;
    QTest::addRow("fractional version above ours") << QByteArray(R"({"version": 3.5})") << 2 << none;
    QTest::addRow("fractional counts as 0") << QByteArray(R"({"version": 3.5})") << -1 << optional;
    QTest::addRow("version as string") << QByteArray(R"({"version": "3"})") << 2 << none;
    QTest::addRow("string counts as 0") << QByteArray(R"({"version": "3"})") << -1 << optional;
    QTest::addRow("version null") << QByteArray(R"({"version": null})") << 2 << none;
    QTest::addRow("version true") << QByteArray(R"({"version": true})") << 2 << none;
    QTest::addRow("version beyond int") << QByteArray(R"({"version": 1e10})") << 2 << none;
    QTest::addRow("negative version") << QByteArray(R"({"version": -3})") << 2 << none;
    QTest::addRow("missing version") << QByteArray(R"({"mandatory": true})") << 2 << none;
    QTest::addRow("missing version is not 0") << QByteArray(R"({"mandatory": true})") << -1 << none;
    QTest::addRow("mandatory as string") << QByteArray(R"({"version": 3, "mandatory": "true"})") << 2 << optional;
    QTest::addRow("mandatory as 1") << QByteArray(R"({"version": 3, "mandatory": 1})") << 2 << optional;
    QTest::addRow("mandatory false") << QByteArray(R"({"version": 3, "mandatory": false})") << 2 << optional;
    QTest::addRow("further keys ignored")
        << QByteArray(R"({"url": "x", "version": 3, "notes": [1, 2], "mandatory": true})") << 2 << mandatory;
    QTest::addRow("not JSON") << QByteArray("<html><body>Not found</body></html>") << 2 << none;
    QTest::addRow("empty body") << QByteArray() << 2 << none;
    QTest::addRow("array") << QByteArray(R"([{"version": 3, "mandatory": true}])") << 2 << none;
    QTest::addRow("number") << QByteArray("3") << 2 << none;
    QTest::addRow("cut short") << QByteArray(R"({"version": 3, "mand)") << 2 << none;
    QTest::addRow("line feeds between tokens")
        << QByteArray("{\n  \"version\"\n:\n3,\n  \"mandatory\": true\n}\n") << 2 << mandatory;
    QTest::addRow("CR LF line ends") << QByteArray("{\r\n  \"version\": 3,\r\n  \"mandatory\": true\r\n}\r\n") << 2
                                     << mandatory;
    // Line feeds go before parsing, so one inside a string no longer breaks the document.
    QTest::addRow("line feed inside a string") << QByteArray("{\"notes\": \"a\nb\", \"version\": 3}") << 2 << optional;
    QTest::addRow("line feed splits a number") << QByteArray("{\"version\": 1\n0}") << 2 << optional;
}

void TestUpdateDecision::decision()
{
    QFETCH(QByteArray, manifest);
    QFETCH(int, ownVersion);
    QFETCH(UpdateDecision, expected);
    QCOMPARE(decideUpdate(manifest, ownVersion), expected);
}

void TestUpdateDecision::promptTexts_data()
{
    QTest::addColumn<UpdateDecision>("decision");
    QTest::addColumn<QString>("text");

    QTest::addRow("mandatory") << UpdateDecision::Mandatory
                               << QStringLiteral("A new version of the Application is available. This version is "
                                                 "<b>mandatory</b>. The application will be closed and the "
                                                 "downloading will be lauched.");
    QTest::addRow("optional") << UpdateDecision::Optional
                              << QStringLiteral("A new version of the Application is available. It's recommanded to "
                                                "update it now. Would you like to download it now?");
    QTest::addRow("no update") << UpdateDecision::NoUpdate << QString();
}

void TestUpdateDecision::promptTexts()
{
    QFETCH(UpdateDecision, decision);
    QFETCH(QString, text);
    QCOMPARE(UpdatePrompt::promptTitle(), QStringLiteral("Update available"));
    QCOMPARE(UpdatePrompt::promptText(decision), text);
}

void TestUpdateDecision::addresses_data()
{
    QTest::addColumn<QUrl>("server");
    QTest::addColumn<QUrl>("manifest");
    QTest::addColumn<QUrl>("setup");

    QTest::addRow("default server") << QUrl(QStringLiteral("https://download.sanvero.com"))
                                    << QUrl(QStringLiteral(
                                           "https://download.sanvero.com/versions/sanvero-connector-windows.json"))
                                    << QUrl(QStringLiteral("https://download.sanvero.com/sanvero-connector-setup.exe"));
    QTest::addRow("loopback with port") << QUrl(QStringLiteral("http://127.0.0.1:8080"))
                                        << QUrl(QStringLiteral(
                                               "http://127.0.0.1:8080/versions/sanvero-connector-windows.json"))
                                        << QUrl(QStringLiteral("http://127.0.0.1:8080/sanvero-connector-setup.exe"));
    QTest::addRow("server with a slash")
        << QUrl(QStringLiteral("https://mirror.example.org:8443/"))
        << QUrl(QStringLiteral("https://mirror.example.org:8443/versions/sanvero-connector-windows.json"))
        << QUrl(QStringLiteral("https://mirror.example.org:8443/sanvero-connector-setup.exe"));
}

void TestUpdateDecision::addresses()
{
    QFETCH(QUrl, server);
    QFETCH(QUrl, manifest);
    QFETCH(QUrl, setup);
    QCOMPARE(UpdateCheck::manifestAddress(server), manifest);
    QCOMPARE(UpdateCheck::setupAddress(server), setup);
}

QTEST_GUILESS_MAIN(TestUpdateDecision)
#include "tst_updatedecision.moc"
