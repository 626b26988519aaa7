// The polysomnography command end to end: the real connector, a real WebSocket page, real files.
#include <QDir>
#include <QJsonArray>
#include <QTest>

#include <memory>

#include "connectorprocess.h"
#include "somnoinstallation.h"

namespace {

QJsonObject envelope(const QString &appPath, const QJsonObject &args)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("POLYSOMNO")},
                       {QStringLiteral("appPath"), appPath},
                       {QStringLiteral("args"), args}};
}

QJsonObject startCommand(const QJsonValue &patient)
{
    QJsonObject args{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")}};
    if (!patient.isUndefined())
        args.insert(QStringLiteral("patient"), patient);
    return args;
}

QJsonObject without(QJsonObject object, const QString &key)
{
    object.remove(key);
    return object;
}

QJsonObject errorFrame(int code)
{
    return QJsonObject{{QStringLiteral("error"), code}};
}

/// The statistics as entry name to sorted names inside, so that the directory order does not matter.
QMap<QString, QStringList> byName(const QJsonArray &statistics)
{
    QMap<QString, QStringList> result;
    for (const QJsonValue &value : statistics) {
        QStringList dates;
        const QJsonArray array = value.toObject().value(QLatin1String("dates")).toArray();
        for (const QJsonValue &date : array)
            dates.append(date.toString());
        dates.sort();
        result.insert(value.toObject().value(QLatin1String("name")).toString(), dates);
    }
    return result;
}

} // namespace

class TestPolysomnoEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void errorPrecedence_data();
    void errorPrecedence();
    void silentCommands_data();
    void silentCommands();
    void registrationErrors_data();
    void registrationErrors();
    void nullValuesPassTheCheck();
    void fullRegistration();
    // Restarts the connector with other configurations; kept last.
    void configuredBackend_data();
    void configuredBackend();

private:
    bool startConnector(const QJsonObject &configuration = ConnectorProcess::defaultConfiguration());
    /// Sends one envelope and returns the one frame it is answered with (empty when none came).
    QJsonObject exchange(const QJsonObject &message);
    /// The connector's debug log written since the last call.
    QString newLog();

    std::unique_ptr<ConnectorProcess> connector;
    std::unique_ptr<PageClient> page;
    int logSeen = 0;
};

bool TestPolysomnoEndToEnd::startConnector(const QJsonObject &configuration)
{
    page.reset();
    connector = std::make_unique<ConnectorProcess>();
    if (!connector->start(configuration))
        return false;
    page = std::make_unique<PageClient>();
    logSeen = 0;
    return page->open();
}

void TestPolysomnoEndToEnd::initTestCase()
{
    QVERIFY2(QFileInfo::exists(ConnectorProcess::executable()), "CONNECTOR_BIN names no built connector");
    QVERIFY(startConnector());
}

void TestPolysomnoEndToEnd::cleanupTestCase()
{
    page.reset();
    if (connector)
        QVERIFY(connector->stop());
}

QJsonObject TestPolysomnoEndToEnd::exchange(const QJsonObject &message)
{
    const int before = page->frames.size();
    page->sendJson(message);
    if (!page->waitForFrames(before + 1))
        return {};
    return page->frame(before);
}

QString TestPolysomnoEndToEnd::newLog()
{
    const QString log = connector->log();
    const QString fresh = log.mid(logSeen);
    logSeen = log.size();
    return fresh;
}

void TestPolysomnoEndToEnd::errorPrecedence_data()
{
    QTest::addColumn<QStringList>("installed"); // "exe", "db", "lock"
    QTest::addColumn<QJsonObject>("args");
    QTest::addColumn<bool>("trailingSeparator");
    QTest::addColumn<int>("expected");

    const QStringList all{QStringLiteral("exe"), QStringLiteral("db")};
    const QJsonObject patient = completePatient();
    QTest::addRow("command absent, nothing installed")
        << QStringList() << QJsonObject{{QStringLiteral("patient"), patient}} << true << 1;
    QTest::addRow("nothing installed") << QStringList() << startCommand(patient) << true << 2001;
    QTest::addRow("executable missing, database and lock present")
        << QStringList{QStringLiteral("db"), QStringLiteral("lock")} << startCommand(patient) << true << 2001;
    QTest::addRow("database missing") << QStringList{QStringLiteral("exe")} << startCommand(patient) << true << 2000;
    QTest::addRow("database missing, lock present")
        << QStringList{QStringLiteral("exe"), QStringLiteral("lock")} << startCommand(patient) << true << 2000;
    QTest::addRow("lock file present") << all + QStringList{QStringLiteral("lock")} << startCommand(patient) << true
                                       << 2009;
    QTest::addRow("lock file present, patient absent")
        << all + QStringList{QStringLiteral("lock")} << startCommand(QJsonValue::Undefined) << true << 2009;
    QTest::addRow("lock file present, patient incomplete")
        << all + QStringList{QStringLiteral("lock")} << startCommand(without(patient, QStringLiteral("code"))) << true
        << 2009;
    QTest::addRow("patient absent") << all << startCommand(QJsonValue::Undefined) << true << 2;
    QTest::addRow("patient empty object") << all << startCommand(QJsonObject()) << true << 2;
    QTest::addRow("patient a text") << all << startCommand(QStringLiteral("text")) << true << 2;
    QTest::addRow("patient null") << all << startCommand(QJsonValue::Null) << true << 2;
    QTest::addRow("weight absent") << all << startCommand(without(patient, QStringLiteral("weight"))) << true << 100;
    QTest::addRow("first name absent") << all << startCommand(without(patient, QStringLiteral("first_name"))) << true
                                       << 100;
    QTest::addRow("application path without trailing separator") << all << startCommand(patient) << false << 2001;
}

void TestPolysomnoEndToEnd::errorPrecedence()
{
    QFETCH(QStringList, installed);
    QFETCH(QJsonObject, args);
    QFETCH(bool, trailingSeparator);
    QFETCH(int, expected);

    SomnoInstallation installation;
    if (installed.contains(QLatin1String("exe")))
        QVERIFY(installation.addExecutable());
    if (installed.contains(QLatin1String("db")))
        QVERIFY(installation.createDatabase());
    if (installed.contains(QLatin1String("lock")))
        QVERIFY(installation.addLockFile());
    QString appPath = installation.appPath();
    if (!trailingSeparator)
        appPath.chop(1);

    newLog();
    QCOMPARE(exchange(envelope(appPath, args)), errorFrame(expected));
    // One frame only, and the database was never reached.
    const QString log = newLog();
    QVERIFY2(!log.contains(QLatin1String("Patient complete")) && !log.contains(QLatin1String("SomnoDB.mdb")),
             qPrintable(log));
    const int frames = page->frames.size();
    QCOMPARE(exchange(envelope(appPath, QJsonObject{{QStringLiteral("marker"), true}})), errorFrame(1));
    QCOMPARE(page->frames.size(), frames + 1);
    if (installed.contains(QLatin1String("db")))
        QCOMPARE(installation.patients(), QList<QVariantMap>());
}

void TestPolysomnoEndToEnd::silentCommands_data()
{
    QTest::addColumn<QJsonValue>("command");
    QTest::addRow("other case") << QJsonValue(QStringLiteral("start_polysomno"));
    QTest::addRow("null") << QJsonValue();
    QTest::addRow("a number") << QJsonValue(7);
    QTest::addRow("empty text") << QJsonValue(QString());
    QTest::addRow("the audiometry command") << QJsonValue(QStringLiteral("START_AUDIOMETRY"));
}

void TestPolysomnoEndToEnd::silentCommands()
{
    QFETCH(QJsonValue, command);
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    const QJsonObject args{{QStringLiteral("command"), command}, {QStringLiteral("patient"), completePatient()}};

    // The page sends the ignored command, then one answered with 1; only that answer arrives.
    const int frames = page->frames.size();
    page->sendJson(envelope(installation.appPath(), args));
    QCOMPARE(exchange(envelope(installation.appPath(), QJsonObject{{QStringLiteral("marker"), true}})), errorFrame(1));
    QCOMPARE(page->frames.size(), frames + 1);
    QCOMPARE(installation.patients(), QList<QVariantMap>());
    QVERIFY(!installation.startedSoFar());
}

void TestPolysomnoEndToEnd::registrationErrors_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<QStringList>("schema");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("logLine");
    QTest::addRow("garbage database") << QByteArray("MSISAM Database garbage\n").repeated(64) << QStringList() << 2007
                                      << QStringLiteral("Failed to open db ");
    QTest::addRow("database refusing the row")
        << QByteArray()
        << QStringList{SomnoDb::patientTableStatement(),
                       QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Patient "
                                      "BEGIN SELECT RAISE(ABORT, 'refused'); END")}
        << 2008 << QStringLiteral("INSERT INTO `Patient`");
}

void TestPolysomnoEndToEnd::registrationErrors()
{
    QFETCH(QByteArray, garbage);
    QFETCH(QStringList, schema);
    QFETCH(int, expected);
    QFETCH(QString, logLine);
    SomnoInstallation installation;
    QVERIFY(installation.addExecutable());
    QVERIFY(schema.isEmpty() ? installation.writeDatabaseBytes(garbage) : installation.createDatabase(schema));

    newLog();
    QCOMPARE(exchange(envelope(installation.appPath(), startCommand(completePatient()))), errorFrame(expected));
    QVERIFY(connector->waitForLog(logLine));
    // Only a refused row comes after the database was opened.
    QCOMPARE(newLog().contains(QLatin1String("Database opened")), expected == 2008);

    // Once the next message is answered the command is over: had it started the stand-in, it would show.
    QCOMPARE(exchange(envelope(installation.appPath(), QJsonObject{{QStringLiteral("marker"), true}})), errorFrame(1));
    QVERIFY(!installation.startedSoFar());
}

void TestPolysomnoEndToEnd::nullValuesPassTheCheck()
{
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    QJsonObject patient = completePatient();
    for (const QString &key : {QStringLiteral("height"), QStringLiteral("gender"), QStringLiteral("code")})
        patient.insert(key, QJsonValue::Null);
    const QJsonObject frame = exchange(envelope(installation.appPath(), startCommand(patient)));
    QCOMPARE(frame.value(QLatin1String("message")).toInt(), 2010);
    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows.constFirst().value(QStringLiteral("IDKrankenhaus")).isNull());
    QCOMPARE(rows.constFirst().value(QStringLiteral("Groesse")), QVariant(180));
    QTRY_COMPARE(installation.starts().size(), 1);
}

void TestPolysomnoEndToEnd::fullRegistration()
{
    SomnoInstallation installation(QStringLiteral("Somno Panel Clínica"));
    QVERIFY(installation.addComplete());
    QVERIFY(installation.addPatient(41, QStringLiteral("PSG-0041")));
    for (const QString &entry :
         {QStringLiteral("PSG-0041/2024-02-01/"), QStringLiteral("PSG-0041/2024-02-08/"),
          QStringLiteral("PSG-0041/2024-02-08/eeg.edf"), QStringLiteral("export.csv"), QStringLiteral(".sync/")})
        QVERIFY(installation.addMeasurementEntry(entry));

    QJsonObject patient = completePatient(QStringLiteral("PSG-0099"));
    patient.insert(QStringLiteral("first_name"), QStringLiteral("Ibáñez Núñez"));
    patient.insert(QStringLiteral("last_name"), QStringLiteral("María José"));
    newLog();
    const QJsonObject frame = exchange(envelope(installation.appPath(), startCommand(patient)));

    // Exactly {"message": 2010, "args": {"first_name", "last_name", "statistics"}}.
    QCOMPARE(frame.keys(), (QStringList{QStringLiteral("args"), QStringLiteral("message")}));
    QCOMPARE(frame.value(QLatin1String("message")), QJsonValue(2010));
    const QJsonObject args = frame.value(QLatin1String("args")).toObject();
    QCOMPARE(args.keys(),
             (QStringList{QStringLiteral("first_name"), QStringLiteral("last_name"), QStringLiteral("statistics")}));
    QCOMPARE(args.value(QLatin1String("first_name")), QJsonValue(QStringLiteral("Ibáñez Núñez")));
    QCOMPARE(args.value(QLatin1String("last_name")), QJsonValue(QStringLiteral("María José")));
    const QJsonArray statistics = args.value(QLatin1String("statistics")).toArray();
    QCOMPARE(statistics.size(), 2);
    QCOMPARE(byName(statistics),
             (QMap<QString, QStringList>{
                 {QStringLiteral("PSG-0041"), {QStringLiteral("2024-02-01"), QStringLiteral("2024-02-08")}},
                 {QStringLiteral("export.csv"), {}},
             }));

    // The row with the next key, names in their columns, accents intact.
    QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.constLast().value(QStringLiteral("PatientID")), QVariant(42));
    QCOMPARE(rows.constLast().value(QStringLiteral("IDKrankenhaus")), QVariant(QStringLiteral("PSG-0099")));
    QCOMPARE(rows.constLast().value(QStringLiteral("Name")), QVariant(QStringLiteral("Ibáñez Núñez")));
    QCOMPARE(rows.constLast().value(QStringLiteral("Vorname")), QVariant(QStringLiteral("María José")));

    // The debug lines in order, then the stand-in, started from the path with blanks, with no arguments,
    // in the connector's working folder.
    const QString log = newLog();
    const int complete = log.indexOf(QLatin1String("Patient complete"));
    const int path = log.indexOf(QLatin1String("SomnoDB.mdb"));
    const int opened = log.indexOf(QLatin1String("Database opened"));
    QVERIFY2(complete >= 0 && complete < path && path < opened, qPrintable(log));
    QTRY_COMPARE(installation.starts().size(), 1);
    const QJsonObject start = installation.starts().constFirst();
    QCOMPARE(start.value(QLatin1String("arguments")).toArray(), QJsonArray());
    QCOMPARE(QDir(start.value(QLatin1String("cwd")).toString()).canonicalPath(),
             QDir(connector->dir()).canonicalPath());

    // The same code again, other names: nothing inserted, nothing changed, answered and started all the same.
    rows = installation.patients();
    patient.insert(QStringLiteral("first_name"), QStringLiteral("Ibáñez"));
    const QJsonObject again = exchange(envelope(installation.appPath(), startCommand(patient)));
    QCOMPARE(again.value(QLatin1String("message")), QJsonValue(2010));
    QCOMPARE(again.value(QLatin1String("args")).toObject().value(QLatin1String("first_name")),
             QJsonValue(QStringLiteral("Ibáñez")));
    QCOMPARE(installation.patients(), rows);
    QTRY_COMPARE(installation.starts().size(), 2);
}

void TestPolysomnoEndToEnd::configuredBackend_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("expected");
    // This machine has no Access ODBC driver, so the configured ODBC backend cannot open the file.
    QTest::addRow("odbc") << QStringLiteral("odbc") << 2007;
    QTest::addRow("sqlite") << QStringLiteral("sqlite") << 2010;
}

void TestPolysomnoEndToEnd::configuredBackend()
{
    QFETCH(QString, backend);
    QFETCH(int, expected);
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("polysomno_database"), backend);
    QVERIFY(connector->stop());
    QVERIFY(startConnector(configuration));

    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    const QJsonObject frame = exchange(envelope(installation.appPath(), startCommand(completePatient())));
    QCOMPARE(frame.contains(QLatin1String("error")) ? frame.value(QLatin1String("error")).toInt()
                                                    : frame.value(QLatin1String("message")).toInt(),
             expected);
    QCOMPARE(installation.patients().size(), expected == 2010 ? 1 : 0);
    if (expected == 2007)
        QVERIFY(connector->waitForLog(QStringLiteral("Failed to open db ")));
}

QTEST_GUILESS_MAIN(TestPolysomnoEndToEnd)
#include "tst_polysomnoendtoend.moc"
