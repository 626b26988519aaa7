// The exact bytes of the frames sent to the page.
#include <QJsonArray>
#include <QTest>

#include "protocol/frames.h"

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void frameBytes_data();
    void frameBytes();
    void nonAsciiIsUtf8();
};

void TestFrames::frameBytes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::addRow("error frame for 2") << errorFrame(INVALID_ARGUMENTS) << QByteArray("{\n    \"error\": 2\n}\n");
    QTest::addRow("error frame for 2009")
        << errorFrame(POLYSOMNO_DB_IN_USE) << QByteArray("{\n    \"error\": 2009\n}\n");
    QTest::addRow("message without payload")
        << messageFrame(HELIX_EXTRACTION_STARTED, {}) << QByteArray("{\n    \"message\": 1004\n}\n");
    QTest::addRow("payload sorted before message")
        << messageFrame(HELIX_EXAM_STARTED, {{QStringLiteral("last_name"), QStringLiteral("Patient")},
                                             {QStringLiteral("first_name"), QStringLiteral("Sample")}})
        << QByteArray("{\n    \"args\": {\n        \"first_name\": \"Sample\",\n        \"last_name\": \"Patient\"\n"
                      "    },\n    \"message\": 1008\n}\n");
    const QJsonArray statistics{QJsonObject{{QStringLiteral("name"), QStringLiteral("night1")},
                                            {QStringLiteral("dates"), QJsonArray{QStringLiteral("2024-01-02")}}}};
    QTest::addRow("nested members")
        << messageFrame(POLYSOMNO_STARTED, {{QStringLiteral("statistics"), statistics}})
        << QByteArray("{\n    \"args\": {\n        \"statistics\": [\n            {\n                \"dates\": [\n"
                      "                    \"2024-01-02\"\n                ],\n                \"name\": \"night1\"\n"
                      "            }\n        ]\n    },\n    \"message\": 2010\n}\n");
    QTest::addRow("percent as number")
        << messageFrame(HELIX_INSTALL_PROGRESS, {{QStringLiteral("percent"), 33}})
        << QByteArray("{\n    \"args\": {\n        \"percent\": 33\n    },\n    \"message\": 1002\n}\n");
    QTest::addRow("CR LF kept escaped")
        << messageFrame(HELIX_RESULTS, {{QStringLiteral("results"), QStringLiteral("a;b\r\n1;2\r\n")}})
        << QByteArray(
               "{\n    \"args\": {\n        \"results\": \"a;b\\r\\n1;2\\r\\n\"\n    },\n    \"message\": 1005\n}\n");
}

void TestFrames::frameBytes()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame, expected);
}

void TestFrames::nonAsciiIsUtf8()
{
    const QByteArray frame =
        messageFrame(HELIX_EXAM_STARTED, {{QStringLiteral("first_name"), QStringLiteral("J\u00f6rg \u6d4b")}});
    QVERIFY(frame.contains("\"J\xc3\xb6rg \xe6\xb5\x8b\""));
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
