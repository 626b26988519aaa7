// Patient registration on real SQLite files, with the real SomnoPanel.exe stand-in started detached.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QTest>

#include "platform/programlauncher.h"
#include "polysomnography/patientdatabase.h"
#include "polysomnography/polysomno.h"
#include "somnoinstallation.h"

namespace {

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedMessages.append(message);
}

bool defaultConnectionOpen()
{
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    return QSqlDatabase::contains(name) && QSqlDatabase::database(name, false).isOpen();
}

/// What one command did, as seen from outside the bridge.
struct Outcome
{
    QList<int> errors;
    QList<int> messages;
    QJsonObject reply;
    int finished = 0;
    bool databaseOpenAtReply = true;
    bool startedAtReply = true;
    QStringList log;
};

Outcome runCommand(SomnoInstallation &installation, const QJsonObject &patient,
                   DatabaseBackend backend = DatabaseBackend::Sqlite)
{
    Outcome outcome;
    capturedMessages.clear();
    ProgramLauncher launcher; // the real one: the stand-in records its starts
    Polysomno bridge(AppFolder(installation.appPath()), PolysomnoSettings{backend, &launcher});
    QObject::connect(&bridge, &Polysomno::sendErrorMessage, [&](SocketMessage code) { outcome.errors.append(code); });
    QObject::connect(&bridge, &Polysomno::sendMessage, [&](SocketMessage code, const QJsonObject &args) {
        outcome.messages.append(code);
        outcome.reply = args;
        outcome.databaseOpenAtReply = defaultConnectionOpen();
        outcome.startedAtReply = installation.startedSoFar();
    });
    QObject::connect(&bridge, &Polysomno::finished, [&] { ++outcome.finished; });
    bridge.processCommand(QJsonObject{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")},
                                      {QStringLiteral("patient"), patient}});
    outcome.log = capturedMessages;
    return outcome;
}

QJsonObject withValue(QJsonObject patient, const QString &key, const QJsonValue &value)
{
    patient.insert(key, value);
    return patient;
}

} // namespace

class TestPatientRegistration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(captureMessage); }
    void cleanup();

    void newKey_data();
    void newKey();
    void fixedMeasures_data();
    void fixedMeasures();
    void nonStringValues_data();
    void nonStringValues();
    void emptyTextStaysText();
    void existingCodeIsLeftAlone();
    void failingInsert_data();
    void failingInsert();
    void unusableDatabase_data();
    void unusableDatabase();
    void replyBeforeStart();

private:
};

void TestPatientRegistration::cleanup()
{
    // Whatever the outcome, the connection is released and Qt never warned about one still in use.
    QVERIFY(!QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)));
    for (const QString &message : qAsConst(capturedMessages))
        QVERIFY2(!message.contains(QLatin1String("QSqlDatabasePrivate")), qPrintable(message));
}

void TestPatientRegistration::newKey_data()
{
    QTest::addColumn<QList<int>>("existingKeys");
    QTest::addColumn<int>("expectedKey");
    QTest::addRow("empty table") << QList<int>() << 1;
    QTest::addRow("highest 41") << QList<int>{3, 41, 17} << 42;
    QTest::addRow("gaps below the highest") << QList<int>{1, 2, 9} << 10;
}

void TestPatientRegistration::newKey()
{
    QFETCH(QList<int>, existingKeys);
    QFETCH(int, expectedKey);
    SomnoInstallation installation(QStringLiteral("Somno Panel"));
    QVERIFY(installation.addComplete());
    for (int key : qAsConst(existingKeys))
        QVERIFY(installation.addPatient(key, QStringLiteral("OTHER-%1").arg(key)));

    const QJsonObject patient = completePatient(QStringLiteral("PSG-2024-77"));
    const Outcome outcome = runCommand(installation, patient);
    QCOMPARE(outcome.errors, QList<int>());
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});
    QCOMPARE(outcome.finished, 1);

    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), existingKeys.size() + 1);
    const QVariantMap row = rows.constLast();
    QCOMPARE(row.value(QStringLiteral("PatientID")).toInt(), expectedKey);
    QCOMPARE(row.value(QStringLiteral("IDKrankenhaus")).toString(), QStringLiteral("PSG-2024-77"));
    // "first_name" goes to Name, "last_name" to Vorname, the birth date as received.
    QCOMPARE(row.value(QStringLiteral("Name")).toString(), patient.value(QLatin1String("first_name")).toString());
    QCOMPARE(row.value(QStringLiteral("Vorname")).toString(), patient.value(QLatin1String("last_name")).toString());
    QCOMPARE(row.value(QStringLiteral("Geburtsdatum")).toString(),
             patient.value(QLatin1String("birth_date")).toString());

    // The debug lines in their order: patient checked, database path, database opened.
    const int complete = outcome.log.indexOf(QStringLiteral("Patient complete"));
    const int path = outcome.log.indexOf(QLatin1Char('"') + installation.databasePath() + QLatin1Char('"'));
    const int opened = outcome.log.indexOf(QStringLiteral("Database opened"));
    QVERIFY2(complete >= 0 && complete < path && path < opened, qPrintable(outcome.log.join(QLatin1Char('\n'))));
    QTRY_COMPARE(installation.starts().size(), 1);
}

void TestPatientRegistration::fixedMeasures_data()
{
    QTest::addColumn<QJsonValue>("gender");
    QTest::addColumn<QJsonValue>("height");
    QTest::addColumn<QJsonValue>("weight");
    QTest::addRow("usual values") << QJsonValue(QStringLiteral("M")) << QJsonValue(192) << QJsonValue(95);
    QTest::addRow("numbers as text") << QJsonValue(QStringLiteral("2")) << QJsonValue(QStringLiteral("150"))
                                     << QJsonValue(QStringLiteral("48.5"));
    QTest::addRow("null") << QJsonValue() << QJsonValue() << QJsonValue();
    QTest::addRow("objects and arrays") << QJsonValue(QJsonObject{{QStringLiteral("v"), 1}})
                                        << QJsonValue(QJsonArray{170}) << QJsonValue(false);
}

void TestPatientRegistration::fixedMeasures()
{
    QFETCH(QJsonValue, gender);
    QFETCH(QJsonValue, height);
    QFETCH(QJsonValue, weight);
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    QJsonObject patient = completePatient();
    patient.insert(QStringLiteral("gender"), gender);
    patient.insert(QStringLiteral("height"), height);
    patient.insert(QStringLiteral("weight"), weight);

    QCOMPARE(runCommand(installation, patient).messages, QList<int>{POLYSOMNO_STARTED});
    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.constFirst().value(QStringLiteral("Geschlecht")), QVariant(1));
    QCOMPARE(rows.constFirst().value(QStringLiteral("Groesse")), QVariant(180));
    QCOMPARE(rows.constFirst().value(QStringLiteral("Gewicht")), QVariant(80));
    QTRY_COMPARE(installation.starts().size(), 1);
}

void TestPatientRegistration::nonStringValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QJsonValue>("value");
    QTest::addRow("code a number") << QStringLiteral("code") << QStringLiteral("IDKrankenhaus") << QJsonValue(1001);
    QTest::addRow("code null") << QStringLiteral("code") << QStringLiteral("IDKrankenhaus") << QJsonValue();
    QTest::addRow("first name a number") << QStringLiteral("first_name") << QStringLiteral("Name") << QJsonValue(7);
    QTest::addRow("last name an array") << QStringLiteral("last_name") << QStringLiteral("Vorname")
                                        << QJsonValue(QJsonArray{QStringLiteral("Anna")});
    QTest::addRow("birth date an object") << QStringLiteral("birth_date") << QStringLiteral("Geburtsdatum")
                                          << QJsonValue(QJsonObject{{QStringLiteral("year"), 1975}});
    QTest::addRow("birth date true") << QStringLiteral("birth_date") << QStringLiteral("Geburtsdatum")
                                     << QJsonValue(true);
}

void TestPatientRegistration::nonStringValues()
{
    QFETCH(QString, key);
    QFETCH(QString, column);
    QFETCH(QJsonValue, value);
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    // A stored row without a code must not match a code that is no text.
    QString error;
    QVERIFY2(SomnoDb::execute(installation.databasePath(),
                              QStringLiteral("INSERT INTO Patient (PatientID, IDKrankenhaus) VALUES (5, NULL)"), {},
                              &error),
             qPrintable(error));

    const QJsonObject patient = withValue(completePatient(), key, value);
    const Outcome outcome = runCommand(installation, patient);
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});

    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), 2);
    const QVariantMap row = rows.constLast();
    QCOMPARE(row.value(QStringLiteral("PatientID")).toInt(), 6);
    QVERIFY2(row.value(column).isNull(), qPrintable(row.value(column).toString()));
    // The other text columns keep their text.
    for (const auto &[otherKey, otherColumn] :
         {std::pair{"code", "IDKrankenhaus"}, std::pair{"first_name", "Name"}, std::pair{"last_name", "Vorname"},
          std::pair{"birth_date", "Geburtsdatum"}}) {
        if (key != QLatin1String(otherKey))
            QCOMPARE(row.value(QLatin1String(otherColumn)).toString(),
                     patient.value(QLatin1String(otherKey)).toString());
    }
    // The reply carries exactly the names, a name that is no text as "".
    QCOMPARE(outcome.reply.keys(),
             (QStringList{QStringLiteral("first_name"), QStringLiteral("last_name"), QStringLiteral("statistics")}));
    for (const char *name : {"first_name", "last_name"}) {
        const QJsonValue sent = patient.value(QLatin1String(name));
        QCOMPARE(outcome.reply.value(QLatin1String(name)), QJsonValue(sent.isString() ? sent.toString() : QString()));
    }
    QTRY_COMPARE(installation.starts().size(), 1);
}

void TestPatientRegistration::emptyTextStaysText()
{
    // An empty JSON string is text: stored as '' and matched as '', never as NULL.
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    QJsonObject patient = completePatient(QString());
    patient.insert(QStringLiteral("first_name"), QString());
    QCOMPARE(runCommand(installation, patient).messages, QList<int>{POLYSOMNO_STARTED});
    QCOMPARE(runCommand(installation, patient).messages, QList<int>{POLYSOMNO_STARTED});
    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), 1);
    for (const char *column : {"IDKrankenhaus", "Name"}) {
        QVERIFY(!rows.constFirst().value(QLatin1String(column)).isNull());
        QCOMPARE(rows.constFirst().value(QLatin1String(column)).toString(), QString());
    }
    QTRY_COMPARE(installation.starts().size(), 2);
}

void TestPatientRegistration::existingCodeIsLeftAlone()
{
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    QVERIFY(installation.addPatient(3, QStringLiteral("PSG-7"), QStringLiteral("Meier"), QStringLiteral("Eva")));
    QVERIFY(installation.addPatient(8, QStringLiteral("PSG-8")));
    const QList<QVariantMap> before = installation.patients();

    // Different names under a stored code: nothing is inserted and nothing updated.
    QJsonObject patient = completePatient(QStringLiteral("PSG-7"));
    patient.insert(QStringLiteral("first_name"), QStringLiteral("Meier-Lang"));
    const Outcome outcome = runCommand(installation, patient);
    QCOMPARE(outcome.errors, QList<int>());
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});
    QCOMPARE(outcome.reply.value(QLatin1String("first_name")).toString(), QStringLiteral("Meier-Lang"));
    QCOMPARE(installation.patients(), before);
    QTRY_COMPARE(installation.starts().size(), 1);
}

void TestPatientRegistration::failingInsert_data()
{
    // As root a read-only file is still writable, so the database itself refuses the row.
    QTest::addColumn<QStringList>("schema");
    QTest::addRow("birth date in a form the column refuses") << QStringList{QStringLiteral(
        "CREATE TABLE Patient (PatientID INTEGER PRIMARY KEY, IDKrankenhaus TEXT, Name TEXT, Vorname TEXT, "
        "Geburtsdatum TEXT CHECK (Geburtsdatum GLOB '[0-3][0-9].[01][0-9].[12][0-9][0-9][0-9]'), "
        "Geschlecht INTEGER, Groesse INTEGER, Gewicht INTEGER)")};
    QTest::addRow("table that refuses every new row")
        << QStringList{SomnoDb::patientTableStatement(),
                       QStringLiteral("CREATE TRIGGER readonly BEFORE INSERT ON Patient "
                                      "BEGIN SELECT RAISE(ABORT, 'attempt to write a readonly database'); END")};
    QTest::addRow("table without a Geschlecht column")
        << QStringList{QStringLiteral("CREATE TABLE Patient (PatientID INTEGER, IDKrankenhaus TEXT, Name TEXT, "
                                      "Vorname TEXT, Geburtsdatum TEXT, Groesse INTEGER, Gewicht INTEGER)")};
}

void TestPatientRegistration::failingInsert()
{
    QFETCH(QStringList, schema);
    SomnoInstallation installation;
    QVERIFY(installation.addExecutable());
    QVERIFY(installation.createDatabase(schema));

    const Outcome outcome = runCommand(installation, completePatient());
    QCOMPARE(outcome.errors, QList<int>{POLYSOMNO_INSERT_FAILED});
    QCOMPARE(outcome.messages, QList<int>());
    QCOMPARE(outcome.finished, 1);
    QVERIFY(outcome.log.contains(QLatin1Char('"') + PatientDatabase::insertStatement() + QLatin1Char('"')));
    QVERIFY(!defaultConnectionOpen());
    QCOMPARE(installation.patients(), QList<QVariantMap>());
    // Any start would have happened before processCommand returned.
    QVERIFY(!installation.startedSoFar());
}

void TestPatientRegistration::unusableDatabase_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("schema");
    QTest::addRow("garbage bytes") << QByteArray("\x00\x01Standard Jet DB\x00garbage", 24).repeated(100)
                                   << QStringList();
    QTest::addRow("empty file") << QByteArray("") << QStringList();
    QTest::addRow("text file") << QByteArray("PatientID;Name\n1;Muster\n") << QStringList();
    QTest::addRow("database without Patient table")
        << QByteArray() << QStringList{QStringLiteral("CREATE TABLE Patienten (PatientID INTEGER)")};
}

void TestPatientRegistration::unusableDatabase()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, schema);
    SomnoInstallation installation;
    QVERIFY(installation.addExecutable());
    QVERIFY(schema.isEmpty() ? installation.writeDatabaseBytes(bytes) : installation.createDatabase(schema));
    QFile file(installation.databasePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    const Outcome outcome = runCommand(installation, completePatient());
    QCOMPARE(outcome.errors, QList<int>{POLYSOMNO_DB_OPEN_FAILED});
    QCOMPARE(outcome.messages, QList<int>());
    QCOMPARE(outcome.finished, 1);
    QVERIFY(!outcome.log.contains(QStringLiteral("Database opened")));
    const QStringList failure = outcome.log.filter(QStringLiteral("Failed to open db "));
    QCOMPARE(failure.size(), 1);
    QVERIFY(failure.constFirst().size() > int(qstrlen("Failed to open db ")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    file.close();
    // Any start would have happened before processCommand returned.
    QVERIFY(!installation.startedSoFar());
}

void TestPatientRegistration::replyBeforeStart()
{
    SomnoInstallation installation(QStringLiteral("Somno Panel (x86)"));
    QVERIFY(installation.addComplete());
    QVERIFY(installation.addMeasurementEntry(QStringLiteral("PSG-1001/2024-06-01/")));

    const Outcome outcome = runCommand(installation, completePatient(QStringLiteral("PSG-1001")));
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});
    // At the moment of the reply the database is closed and the application not yet started.
    QVERIFY(!outcome.databaseOpenAtReply);
    QVERIFY(!outcome.startedAtReply);
    QCOMPARE(outcome.reply.value(QLatin1String("statistics")).toArray(),
             (QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("PSG-1001")},
                                     {QStringLiteral("dates"), QJsonArray{QStringLiteral("2024-06-01")}}}}));

    // Started then, from a path with blanks and brackets, with no arguments and the connector's working folder.
    QTRY_COMPARE(installation.starts().size(), 1);
    const QJsonObject start = installation.starts().constFirst();
    QCOMPARE(start.value(QLatin1String("arguments")).toArray(), QJsonArray());
    QCOMPARE(start.value(QLatin1String("cwd")).toString(), QDir::currentPath());
}

QTEST_GUILESS_MAIN(TestPatientRegistration)
#include "tst_patientregistration.moc"
