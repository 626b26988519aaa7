// The database backends: statement texts, connection string, and how the SQLite stand-in opens files.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTest>

#include "polysomnography/accesspatientdatabase.h"
#include "polysomnography/sqlitepatientdatabase.h"
#include "somnoinstallation.h"

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPatientDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { captureDebugLines(); }
    void init() { debugLines().clear(); }
    // Nothing stays registered between commands, and Qt never complained about a connection in use.
    void cleanup() { QVERIFY2(sqlConnectionReleased(), qPrintable(debugLines().join(QLatin1Char('\n')))); }

    void accessStatementTexts();
    void sqliteStatementTexts_data();
    void sqliteStatementTexts();
    void sqliteRefusesUnusableFiles_data();
    void sqliteRefusesUnusableFiles();
    void sqliteOpensAwkwardPaths_data();
    void sqliteOpensAwkwardPaths();
    void earlierDefaultConnectionIsReplaced();
};

void TestPatientDatabase::accessStatementTexts()
{
    QCOMPARE(PatientDatabase::lookupStatement(),
             QStringLiteral("SELECT PatientID FROM Patient WHERE IDKrankenhaus = :code "));
    QCOMPARE(PatientDatabase::namesStatement(),
             QStringLiteral("SELECT `Name`, `Vorname` FROM `Patient` WHERE `PatientID` = ?"));
    QCOMPARE(PatientDatabase::highestKeyStatement(),
             QStringLiteral("SELECT TOP 1 PatientID FROM Patient ORDER BY PatientID DESC"));
    QCOMPARE(PatientDatabase::insertStatement(),
             QStringLiteral("INSERT INTO `Patient` (`PatientID`, `IDKrankenhaus`, `Name`, `Vorname`, "
                            "`Geburtsdatum`, `Geschlecht`, `Groesse`, `Gewicht`) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    QCOMPARE(AccessPatientDatabase::connectionString(QStringLiteral("C:\\Somno Panel\\SomnoDB\\SomnoDB.mdb")),
             QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};FIL={MS Access};"
                            "DBQ=C:\\Somno Panel\\SomnoDB\\SomnoDB.mdb"));

    // The Access driver receives the statements exactly as written.
    const AccessPatientDatabase access;
    for (const QString &statement : {PatientDatabase::lookupStatement(), PatientDatabase::namesStatement(),
                                     PatientDatabase::highestKeyStatement(), PatientDatabase::insertStatement()})
        QCOMPARE(access.driverStatement(statement), statement);
}

void TestPatientDatabase::sqliteStatementTexts_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("expected");
    QTest::addRow("highest key") << PatientDatabase::highestKeyStatement()
                                 << QStringLiteral("SELECT PatientID FROM Patient ORDER BY PatientID DESC LIMIT 1");
    // Codes compared without regard to case, as Access compares text.
    QTest::addRow("lookup") << PatientDatabase::lookupStatement()
                            << QStringLiteral(
                                   "SELECT PatientID FROM Patient WHERE IDKrankenhaus = :code COLLATE NOCASE");
    QTest::addRow("names unchanged") << PatientDatabase::namesStatement() << PatientDatabase::namesStatement();
    QTest::addRow("insert unchanged") << PatientDatabase::insertStatement() << PatientDatabase::insertStatement();
    QTest::addRow("lower case, larger count")
        << QStringLiteral("select top 25 Name from Patient") << QStringLiteral("SELECT Name from Patient LIMIT 25");
}

void TestPatientDatabase::sqliteStatementTexts()
{
    QFETCH(QString, statement);
    QFETCH(QString, expected);
    QCOMPARE(SqlitePatientDatabase().driverStatement(statement), expected);
}

void TestPatientDatabase::sqliteRefusesUnusableFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("missing file") << QStringLiteral("missing");
    QTest::addRow("garbage bytes") << QStringLiteral("garbage");
    QTest::addRow("empty file") << QStringLiteral("empty");
    QTest::addRow("database without Patient table") << QStringLiteral("other table");
}

void TestPatientDatabase::sqliteRefusesUnusableFiles()
{
    QFETCH(QString, kind);
    SomnoInstallation installation;
    // The folder exists, so only the driver's own restraint keeps a missing file from being created.
    QVERIFY(QDir().mkpath(QFileInfo(installation.databasePath()).absolutePath()));
    if (kind == QLatin1String("garbage"))
        QVERIFY(installation.writeDatabaseBytes(QByteArray("Standard Jet DB\0garbage", 23).repeated(200)));
    else if (kind == QLatin1String("empty"))
        QVERIFY(installation.writeDatabaseBytes(QByteArray()));
    else if (kind == QLatin1String("other table"))
        QVERIFY(installation.createDatabase({QStringLiteral("CREATE TABLE Termine (Datum TEXT)")}));
    const bool existed = QFileInfo::exists(installation.databasePath());
    const QByteArray before = fileBytes(installation.databasePath());

    SqlitePatientDatabase database;
    QVERIFY(!database.open(installation.databasePath()));
    QVERIFY(!database.isOpen());
    QVERIFY(!database.errorText().isEmpty());
    // The file is left as it was: a missing one is not created, an existing one not written.
    QCOMPARE(QFileInfo::exists(installation.databasePath()), existed);
    QCOMPARE(fileBytes(installation.databasePath()), before);
}

void TestPatientDatabase::sqliteOpensAwkwardPaths_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addRow("plain") << QStringLiteral("SomnoPanel");
    QTest::addRow("blanks") << QStringLiteral("Somno Panel 4");
    QTest::addRow("hash, percent and question mark") << QStringLiteral("Somno#1 100% ok?");
    QTest::addRow("accented letters") << QStringLiteral("Polisomnografía Señora");
}

void TestPatientDatabase::sqliteOpensAwkwardPaths()
{
    QFETCH(QString, folder);
    SomnoInstallation installation(folder);
    QVERIFY(installation.createDatabase());
    QVERIFY(installation.addPatient(41, QStringLiteral("PSG-41")));

    SqlitePatientDatabase database;
    QVERIFY2(database.open(installation.databasePath()), qPrintable(database.errorText()));
    const auto stored = database.patientsWithCode(QStringLiteral("PSG-41"));
    QVERIFY(stored && stored->size() == 1);
    QCOMPARE(stored->first().name.toString(), QStringLiteral("Muster"));
    QCOMPARE(database.nextPatientId().value_or(0), 42);
    database.close();
    QVERIFY(!database.isOpen());
}

void TestPatientDatabase::earlierDefaultConnectionIsReplaced()
{
    SomnoInstallation installation;
    QVERIFY(installation.createDatabase());
    {
        QSqlDatabase earlier = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        earlier.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(earlier.open());
    }
    SqlitePatientDatabase database;
    QVERIFY2(database.open(installation.databasePath()), qPrintable(database.errorText()));
    const QSqlDatabase current = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    QVERIFY(current.isOpen());
    QVERIFY(current.databaseName() != QLatin1String(":memory:"));
    const auto stored = database.patientsWithCode(QStringLiteral("PSG-1"));
    QVERIFY(stored && stored->isEmpty());
}

QTEST_GUILESS_MAIN(TestPatientDatabase)
#include "tst_patientdatabase.moc"
