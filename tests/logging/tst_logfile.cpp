// The log file for IT staff: patient values replaced in the page's text, rotation, and an exam and a
// registration through a real page that leave their frame codes in the file but no patient value.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

#include "connector/logfile.h"
#include "connector/logtimestamps.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
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

struct Message
{
    QString category;
    QString text;
};
QList<Message> handled;
QtMessageHandler testHandler = nullptr;

// Stands for the handler the log file finds installed: the messages are kept, then go on to QtTest's.
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    handled.append({QString::fromLatin1(context.category), text});
    testHandler(type, context, text);
}

} // namespace

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void redaction_data();
    void redaction();
    void rotationKeepsTheNewestLines();
    void existingFileCountsTowardsTheSize();
    void timestamps_data();
    void timestamps();
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
                          R"({"birth_date":<text, 10 characters>,"city":<text, 6 characters>,"code":<number>,)"
                          R"("first_name":<text, 3 characters>,"gender":<number>,"last_name":<text, 6 characters>}},)"
                          R"("type":"POLYSOMNO"})");
    // Patient values where no list of patient keys would look for them.
    QTest::addRow("values under other keys")
        << QStringLiteral(
               R"({"Patient":{"firstName":"Zoë"},"dob":"01/02/1990","name":"Zoë Prueba","insurance_no":"X-1",)"
               R"("first_name ":"Zoë","args":{"command":"Zoë Prueba","patient":{"names":["Zoë"]}},"type":"Zoë"})")
        << QStringLiteral(
               R"({"Patient":{"firstName":<text, 3 characters>},"args":{"command":<unknown word, 10 characters>,)"
               R"("patient":{"names":<array, 1 values>}},"dob":<text, 10 characters>,)"
               R"("first_name ":<text, 3 characters>,"insurance_no":<text, 3 characters>,)"
               R"("name":<text, 10 characters>,"type":<unknown word, 3 characters>})");
    QTest::addRow("command words only in args")
        << QStringLiteral(R"({"command":"START_AUDIOMETRY","args":{"x":{"command":"INSTALL_HELIX"},"command":null}})")
        << QStringLiteral(R"({"args":{"command":null,"x":{"command":<text, 13 characters>}},)"
                          R"("command":<text, 16 characters>})");
    QTest::addRow("line breaks escaped") << QStringLiteral("{\"appPath\":\"/a\\nb\",\"k\\u0009y\":true}")
                                         << QStringLiteral(R"({"appPath":"/a\u000ab","k\u0009y":<boolean>})");
    QTest::addRow("array") << QStringLiteral(R"([{"code":"X-1"}])")
                           << QStringLiteral("(no JSON object, 16 characters)");
    QTest::addRow("malformed JSON") << QStringLiteral(R"({"args":{"patient":{"first_name":"Zoë")")
                                    << QStringLiteral("(no JSON object, 38 characters)");
    QTest::addRow("plain text") << QStringLiteral("Zoë Prueba") << QStringLiteral("(no JSON object, 10 characters)");
    const QString longPath = QString(3000, QLatin1Char('a'));
    QTest::addRow("cut when long")
        << QStringLiteral(R"({"appPath":"%1"})").arg(longPath)
        << QStringLiteral(R"({"appPath":"%1... (cut, 3014 characters of JSON))").arg(longPath.left(2036));
}

void TestLogFile::redaction()
{
    QFETCH(QString, message);
    QFETCH(QString, logged);
    QCOMPARE(redactedMessage(QJsonDocument::fromJson(message.toUtf8()), message.size()), logged);
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
        // In the file already, with the log still open: nothing waits in a buffer for an abrupt end to lose.
        QVERIFY(readText(log.filePath()).endsWith(written.last() + QLatin1Char('\n')));
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

void TestLogFile::existingFileCountsTowardsTheSize()
{
    QTemporaryDir dir;
    const QByteArray earlier = QByteArray(280, 'e') + '\n';
    QVERIFY(writeFile(dir.filePath(QStringLiteral("connector.log")), earlier));
    LogFile log(dir.path(), 300, 3);
    log.write(QString(40, QLatin1Char('n')));
    QCOMPARE(readText(log.filePath(1)).toUtf8(), earlier);
    QCOMPARE(readText(log.filePath()), QString(40, QLatin1Char('n')) + QLatin1Char('\n'));
}

void TestLogFile::timestamps_data()
{
    // The clinic's clock goes from +01:00 to +02:00 at switchAt, 2024-03-31 01:00 UTC.
    QTest::addColumn<QList<qint64>>("instants"); // milliseconds from switchAt
    QTest::addColumn<QStringList>("stamps");
    QTest::addColumn<int>("lookups");
    QTest::addRow("lines of one minute") << QList<qint64>{-50000, -30000, -1}
                                         << QStringList{QStringLiteral("2024-03-31T01:59:10.000+01:00"),
                                                        QStringLiteral("2024-03-31T01:59:30.000+01:00"),
                                                        QStringLiteral("2024-03-31T01:59:59.999+01:00")}
                                         << 1;
    QTest::addRow("lines of one second") << QList<qint64>{1000, 1007, 1999}
                                         << QStringList{QStringLiteral("2024-03-31T03:00:01.000+02:00"),
                                                        QStringLiteral("2024-03-31T03:00:01.007+02:00"),
                                                        QStringLiteral("2024-03-31T03:00:01.999+02:00")}
                                         << 1;
    QTest::addRow("daylight saving time begins")
        << QList<qint64>{-1, 0, 59999, 60000}
        << QStringList{QStringLiteral("2024-03-31T01:59:59.999+01:00"), QStringLiteral("2024-03-31T03:00:00.000+02:00"),
                       QStringLiteral("2024-03-31T03:00:59.999+02:00"), QStringLiteral("2024-03-31T03:01:00.000+02:00")}
        << 3;
}

void TestLogFile::timestamps()
{
    QFETCH(QList<qint64>, instants);
    QFETCH(QStringList, stamps);
    QFETCH(int, lookups);
    const qint64 switchAt = QDateTime(QDate(2024, 3, 31), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    int looked = 0;
    LogTimestamps timestamps([&](qint64 utcMsecs) {
        ++looked;
        return utcMsecs < switchAt ? 3600 : 7200;
    });
    QStringList stamped;
    for (const qint64 instant : std::as_const(instants))
        stamped.append(timestamps.stamp(switchAt + instant));
    QCOMPARE(stamped, stamps);
    // Asked once per minute of lines, not per line.
    QCOMPARE(looked, lookups);
}

void TestLogFile::examAndRegistrationLeaveNoPatientValue()
{
    QTemporaryDir dir;
    handled.clear();
    testHandler = qInstallMessageHandler(recordMessage);
    const auto restore = qScopeGuard([] { qInstallMessageHandler(testHandler); });
    auto log = std::make_unique<LogFile>(dir.filePath(QStringLiteral("logs")));
    log->install();
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    const QString helix = dir.filePath(QStringLiteral("Helix"));
    const QString somno = dir.filePath(QStringLiteral("SomnoPanel"));
    QString error;
    QVERIFY(writeFile(helix + QStringLiteral("/Helix.exe"), {}) &&
            writeFile(somno + QStringLiteral("/bin/SomnoPanel.exe"), {}));
    QVERIFY(QDir().mkpath(somno + QStringLiteral("/SomnoDB")));
    QVERIFY2(SomnoDb::create(somno + QStringLiteral("/SomnoDB/SomnoDB.mdb"), &error), qPrintable(error));
    const QString patient = QStringLiteral(
        R"({"first_name":"Zoëlinde","last_name":"Pruebamann","birth_date":"03/04/1951","code":"T-4711-X","gender":1,)"
        R"("height":172,"weight":64,"city":"Villaconejos","address":"Calle Olmo 9"})");
    const QString command = QStringLiteral(R"({"type":"%1","appPath":"%2/","args":{"command":"%3","patient":%4}})");

    page.send(command.arg(QStringLiteral("AUDIOMETRY"), helix, QStringLiteral("START_AUDIOMETRY"), patient));
    QVERIFY(page.waitForFrames(1));
    // The result, dated after the request and settled by the connector's clock.
    const QByteArray results = "Hz;L;R\r\n1000;17;23\r\nAudiogramm-Befund-Unikat\r\n";
    QFile result(helix + QStringLiteral("/XCHG/TEST_DATA.csv"));
    QVERIFY(result.open(QIODevice::WriteOnly) && result.write(results) == results.size() && result.flush());
    QVERIFY(result.setFileTime(QFileInfo(helix + QStringLiteral("/XCHG/hedeprax.gdt")).lastModified().addSecs(1),
                               QFileDevice::FileModificationTime));
    result.close();
    connector.clock.offsetMs = 10000;
    QVERIFY(page.waitForFrames(2));
    page.send(command.arg(QStringLiteral("POLYSOMNO"), somno, QStringLiteral("START_POLYSOMNO"), patient));
    QVERIFY(page.waitForFrames(3));
    QCOMPARE(page.codes(), (QList<int>{1008, 1005, 2010}));
    QVERIFY(page.frames.at(1).contains(QLatin1String("Audiogramm-Befund-Unikat")));
    // The same values where no list of patient keys would look: under other keys, as the command word, in an
    // array. (An unknown command gets no answer; the array gets 2.)
    page.send(QStringLiteral(R"({"type":"AUDIOMETRY","appPath":"%1/","Patient":{"dob":"03/04/1951"},)"
                             R"("name ":"Villaconejos","insurance_no":"T-4711-X","args":{"command":"Pruebamann",)"
                             R"("firstName":"Zoëlinde"}})")
                  .arg(helix));
    page.send(QStringLiteral(R"([{"first_name":"Zoëlinde","address":"Calle Olmo 9"}])"));
    QVERIFY(page.waitForFrames(4));
    QCOMPARE(page.codes().last(), 2);

    const QString text = readText(log->filePath());
    // Only the log category's lines, each with its time and level; none of the debug lines.
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z) )"
                                               R"((info|warning) [^\n]+\n)+$)"))
                 .match(text)
                 .hasMatch(),
             qPrintable(text));
    for (const QString &logged :
         {QStringLiteral(R"("command":"START_AUDIOMETRY")"), QStringLiteral(R"("command":"START_POLYSOMNO")"),
          QStringLiteral(R"("type":"AUDIOMETRY")"), QStringLiteral(R"("type":"POLYSOMNO")"),
          QStringLiteral("Message 1008 sent"), QStringLiteral("Message 1005 sent"), QStringLiteral("Message 2010 sent"),
          QStringLiteral(R"("first_name":<text, 8 characters>)"),
          QStringLiteral(R"("insurance_no":<text, 8 characters>)"),
          QStringLiteral("(no JSON object, 52 characters) -> refused: no usable envelope (error 2 sent)")})
        QVERIFY2(text.contains(logged), qPrintable(logged + QStringLiteral(" missing in:\n") + text));
    QStringList values{QStringLiteral("Audiogramm-Befund-Unikat"), QStringLiteral("1000;17;23")};
    const QJsonObject record = QJsonDocument::fromJson(patient.toUtf8()).object();
    for (const QJsonValue &value : record)
        if (value.isString())
            values.append(value.toString());
    QCOMPARE(values.size(), 8);
    for (const QString &value : values)
        QVERIFY2(!text.contains(value), qPrintable(value + QStringLiteral(" found in:\n") + text));

    // The handler installed before still gets every other message and the log category's warnings, not its
    // routine lines. The debug output (readable by any program of the session on Windows) carries no patient
    // value either.
    log.reset();
    for (const Message &message : std::as_const(handled)) {
        for (const QString &value : values)
            QVERIFY2(!message.text.contains(value), qPrintable(value + QStringLiteral(" found in: ") + message.text));
    }
    const auto of = [](const char *category) {
        return std::count_if(handled.cbegin(), handled.cend(),
                             [&](const Message &message) { return message.category == QLatin1String(category); });
    };
    QCOMPARE(of("sanvero.log"), text.count(QLatin1String(" warning ")));
    QVERIFY(of("default") > 0);
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
