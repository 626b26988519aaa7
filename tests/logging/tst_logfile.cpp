// The log file for IT staff: patient values replaced in the page's text, rotation, and an exam and a
// registration through a real page that leave their frame codes in the file but no patient value.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "app/logfile.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "platform/connectorlog.h"
#include "protocol/redaction.h"
#include "somnodb.h"

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void redaction_data();
    void redaction();
    void rotationKeepsTheNewestLines();
    void onlyTheLogCategoryReachesTheFile();
    void examAndRegistrationLeaveNoPatientValue();
};

void TestLogFile::redaction_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");
    QTest::addRow("envelope")
        << QStringLiteral(
               R"({"type":"POLYSOMNO","appPath":"C:\\Somno\\","args":{"command":"START_POLYSOMNO","patient":)"
               R"({"first_name":"Zoë","last_name":"Prueba","birth_date":"01/02/1990","code":4711,"gender":1,"city":"Málaga"}}})")
        << QStringLiteral(R"({"appPath":"C:\\Somno\\","args":{"command":"START_POLYSOMNO","patient":)"
                          R"({"birth_date":"***","city":"***","code":"***","first_name":"***",)"
                          R"("gender":"***","last_name":"***"}},"type":"POLYSOMNO"})");
    QTest::addRow("nested under patient") << QStringLiteral(R"({"args":{"patient":{"names":["Zoë",{"x":"Prueba"}]}}})")
                                          << QStringLiteral(R"({"args":{"patient":{"names":["***",{"x":"***"}]}}})");
    QTest::addRow("patient keys elsewhere")
        << QStringLiteral(R"([{"results":"Hz;L;R","address":{"street":"Calle Mayor"}},{"code":null}])")
        << QStringLiteral(R"([{"address":{"street":"***"},"results":"***"},{"code":"***"}])");
    QTest::addRow("patient as text") << QStringLiteral(R"({"args":{"patient":"Zoë Prueba"}})")
                                     << QStringLiteral(R"({"args":{"patient":"***"}})");
    QTest::addRow("malformed JSON") << QStringLiteral(R"({"args":{"patient":{"first_name":"Zoë")")
                                    << QStringLiteral("(no JSON object, 38 characters)");
    QTest::addRow("plain text") << QStringLiteral("Zoë Prueba") << QStringLiteral("(no JSON object, 10 characters)");
    const QString longPath = QString(3000, QLatin1Char('a'));
    QTest::addRow("cut when long") << QStringLiteral(R"({"appPath":"%1"})").arg(longPath)
                                   << QStringLiteral(R"({"appPath":"%1... (3014 characters))").arg(longPath.left(2036));
}

void TestLogFile::redaction()
{
    QFETCH(QString, message);
    QFETCH(QString, logged);
    QCOMPARE(redactedMessage(message), logged);
}

void TestLogFile::rotationKeepsTheNewestLines()
{
    QTemporaryDir dir;
    constexpr qint64 maxBytes = 300;
    QStringList written;
    {
        LogFile log(dir.path(), maxBytes, 3);
        for (int i = 0; i < 30; ++i) {
            written.append(
                QStringLiteral("line %1 ").arg(i, 2, 10, QLatin1Char('0')).leftJustified(40, QLatin1Char('.')));
            log.write(written.last());
        }
    }
    QStringList kept;
    for (int index = 2; index >= 0; --index) {
        const QString path =
            dir.filePath(index == 0 ? QStringLiteral("connector.log") : QStringLiteral("connector.%1.log").arg(index));
        // Only a nearly full file is moved up: one rotated at every line would be a few bytes long.
        const qint64 size = QFileInfo(path).size();
        QVERIFY2(size > (index == 0 ? 0 : maxBytes / 2) && size <= maxBytes, qPrintable(path));
        kept += readText(path).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("connector.3.log"))));
    // The files hold the newest lines in order, and only the oldest are gone.
    QVERIFY(kept.size() < written.size());
    QCOMPARE(kept, written.mid(written.size() - kept.size()));
}

void TestLogFile::onlyTheLogCategoryReachesTheFile()
{
    QTemporaryDir dir;
    LogFile log(dir.path());
    log.install();
    // Both reach the handler installed before, QtTest's own, as they always did.
    QTest::ignoreMessage(QtDebugMsg, "a debug line");
    QTest::ignoreMessage(QtInfoMsg, "Message 1008 sent");
    qDebug() << "a debug line";
    qCInfo(connectorLog) << "Message 1008 sent";
    const QString text = readText(log.filePath());
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z) info )"
                                               R"(Message 1008 sent\n$)"))
                 .match(text)
                 .hasMatch(),
             qPrintable(text));
}

void TestLogFile::examAndRegistrationLeaveNoPatientValue()
{
    QTemporaryDir dir;
    LogFile log(dir.filePath(QStringLiteral("logs")));
    log.install();
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));

    const QString helix = dir.filePath(QStringLiteral("Helix"));
    const QString somno = dir.filePath(QStringLiteral("SomnoPanel"));
    QString error;
    QVERIFY(writeFile(helix + QStringLiteral("/Helix.exe"), QByteArray()));
    QVERIFY(writeFile(somno + QStringLiteral("/bin/SomnoPanel.exe"), QByteArray()));
    QVERIFY(QDir().mkpath(somno + QStringLiteral("/SomnoDB")));
    QVERIFY2(SomnoDb::create(somno + QStringLiteral("/SomnoDB/SomnoDB.mdb"), &error), qPrintable(error));

    const QJsonObject patient{{QStringLiteral("first_name"), QStringLiteral("Zoëlinde")},
                              {QStringLiteral("last_name"), QStringLiteral("Pruebamann")},
                              {QStringLiteral("birth_date"), QStringLiteral("03/04/1951")},
                              {QStringLiteral("code"), QStringLiteral("T-4711-X")},
                              {QStringLiteral("gender"), 1},
                              {QStringLiteral("height"), 172},
                              {QStringLiteral("weight"), 64},
                              {QStringLiteral("city"), QStringLiteral("Villaconejos")},
                              {QStringLiteral("address"), QStringLiteral("Calle Olmo 9")}};
    const auto command = [&](const QString &type, const QString &folder, const QString &word) {
        return QJsonObject{{QStringLiteral("type"), type},
                           {QStringLiteral("appPath"), folder + QLatin1Char('/')},
                           {QStringLiteral("args"),
                            QJsonObject{{QStringLiteral("command"), word}, {QStringLiteral("patient"), patient}}}};
    };

    page.sendJson(command(QStringLiteral("AUDIOMETRY"), helix, QStringLiteral("START_AUDIOMETRY")));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.codes(), QList<int>{1008});
    // The result, dated after the request and settled by the connector's clock.
    const QString request = helix + QStringLiteral("/XCHG/hedeprax.gdt");
    const QString result = helix + QStringLiteral("/XCHG/TEST_DATA.csv");
    const QByteArray resultText = "Hz;L;R\r\n1000;17;23\r\nAudiogramm-Befund-Unikat\r\n";
    QVERIFY(writeFile(result, resultText));
    QFile resultFile(result);
    QVERIFY(resultFile.open(QIODevice::ReadWrite));
    QVERIFY(resultFile.setFileTime(QFileInfo(request).lastModified().addSecs(1), QFileDevice::FileModificationTime));
    resultFile.close();
    connector.clock.offsetMs = 10000;
    QVERIFY(page.waitForFrames(2));

    page.sendJson(command(QStringLiteral("POLYSOMNO"), somno, QStringLiteral("START_POLYSOMNO")));
    QVERIFY(page.waitForFrames(3));
    QCOMPARE(page.codes(), (QList<int>{1008, 1005, 2010}));
    QVERIFY(page.frames.at(1).contains(QLatin1String("Audiogramm-Befund-Unikat")));

    const QString text = readText(log.filePath());
    for (const QString &logged : {QStringLiteral("Command AUDIOMETRY \"START_AUDIOMETRY\""),
                                  QStringLiteral("Command POLYSOMNO \"START_POLYSOMNO\""),
                                  QStringLiteral("Message 1008 sent"), QStringLiteral("Message 1005 sent"),
                                  QStringLiteral("Message 2010 sent"), QStringLiteral(R"("first_name":"***")")})
        QVERIFY2(text.contains(logged), qPrintable(logged + QStringLiteral(" missing in:\n") + text));
    for (const QString &value :
         {QStringLiteral("Zoëlinde"), QStringLiteral("Pruebamann"), QStringLiteral("03/04/1951"),
          QStringLiteral("T-4711-X"), QStringLiteral("Villaconejos"), QStringLiteral("Calle Olmo"),
          QStringLiteral("Audiogramm-Befund-Unikat"), QStringLiteral("1000;17;23")})
        QVERIFY2(!text.contains(value), qPrintable(value + QStringLiteral(" found in:\n") + text));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
