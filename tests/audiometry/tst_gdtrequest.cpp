// The exam request record, byte for byte.
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include "audiometry/gdtrequest.h"
#include "gdtexample.h"

namespace {

QJsonObject basePatient()
{
    return QJsonObject{{QStringLiteral("code"), QStringLiteral("P0042")},
                       {QStringLiteral("first_name"), QStringLiteral("Sample")},
                       {QStringLiteral("last_name"), QStringLiteral("Patient")},
                       {QStringLiteral("birth_date"), QStringLiteral("07/03/1985")},
                       {QStringLiteral("gender"), 1},
                       {QStringLiteral("height"), 170},
                       {QStringLiteral("weight"), 65}};
}

QJsonObject withValue(const QString &key, const QJsonValue &value)
{
    QJsonObject patient = basePatient();
    if (value.isUndefined())
        patient.remove(key);
    else
        patient.insert(key, value);
    return patient;
}

QList<QByteArray> linesOf(const QByteArray &record)
{
    QList<QByteArray> lines = record.split('\n');
    lines.removeLast(); // after the last CR LF
    for (QByteArray &line : lines)
        line.chop(1); // the CR
    return lines;
}

} // namespace

class TestGdtRequest : public QObject
{
    Q_OBJECT

private slots:
    void workedExample();
    void patientLine_data();
    void patientLine();
    void lengthPrefix_data();
    void lengthPrefix();
    void recordLengthIsFileSize_data();
    void recordLengthIsFileSize();
    void recordLengthCountsLineEndsTwice();
    void patientReadBack_data();
    void patientReadBack();
};

void TestGdtRequest::workedExample()
{
    const QByteArray expected = exampleRequest();
    const QByteArray record = gdtRequestRecord(Patient::fromRecord(examplePatient()));
    QCOMPARE(record, expected);
    QCOMPARE(record.size(), 198);
}

// Which line of the record a patient value lands in, and exactly how.
void TestGdtRequest::patientLine_data()
{
    QTest::addColumn<QJsonObject>("patient");
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("expected");

    QTest::addRow("no city gives an empty content") << basePatient() << 7 << QByteArray("0093106");
    QTest::addRow("no address gives an empty content") << basePatient() << 8 << QByteArray("0093107");
    QTest::addRow("city") << withValue(QStringLiteral("city"), QStringLiteral("Lyon")) << 7
                          << QByteArray("0133106Lyon");
    QTest::addRow("code as a whole number is its text")
        << withValue(QStringLiteral("code"), 12345) << 3 << QByteArray("014300012345");
    QTest::addRow("birth date as a number is empty")
        << withValue(QStringLiteral("birth_date"), 1985) << 6 << QByteArray("0093103");
    QTest::addRow("first name null is empty")
        << withValue(QStringLiteral("first_name"), QJsonValue::Null) << 4 << QByteArray("0093101");
    QTest::addRow("last name as an array is empty")
        << withValue(QStringLiteral("last_name"), QJsonArray{QStringLiteral("Patient")}) << 5 << QByteArray("0093102");
    QTest::addRow("address as an object is empty")
        << withValue(QStringLiteral("address"), QJsonObject{{QStringLiteral("street"), QStringLiteral("x")}}) << 8
        << QByteArray("0093107");
    QTest::addRow("city as a boolean is empty")
        << withValue(QStringLiteral("city"), true) << 7 << QByteArray("0093106");
    QTest::addRow("first name goes to 3101") << basePatient() << 4 << QByteArray("0153101Sample");
    QTest::addRow("last name goes to 3102") << basePatient() << 5 << QByteArray("0163102Patient");
    QTest::addRow("slashes removed from the birth date") << basePatient() << 6 << QByteArray("017310307031985");
    QTest::addRow("every slash removed, nothing else")
        << withValue(QStringLiteral("birth_date"), QStringLiteral("7//3/85 x")) << 6 << QByteArray("01531037385 x");
    QTest::addRow("ISO birth date unchanged") << withValue(QStringLiteral("birth_date"), QStringLiteral("1985-03-07"))
                                              << 6 << QByteArray("01931031985-03-07");
    QTest::addRow("gender 1 is female") << withValue(QStringLiteral("gender"), 1) << 9 << QByteArray("01031102");
    QTest::addRow("gender 1.0 is female") << withValue(QStringLiteral("gender"), 1.0) << 9 << QByteArray("01031102");
    QTest::addRow("gender 2 is male") << withValue(QStringLiteral("gender"), 2) << 9 << QByteArray("01031101");
    QTest::addRow("gender 0 is male") << withValue(QStringLiteral("gender"), 0) << 9 << QByteArray("01031101");
    QTest::addRow("gender 1.5 is male") << withValue(QStringLiteral("gender"), 1.5) << 9 << QByteArray("01031101");
    QTest::addRow("gender text 1 is male")
        << withValue(QStringLiteral("gender"), QStringLiteral("1")) << 9 << QByteArray("01031101");
    QTest::addRow("gender null is male") << withValue(QStringLiteral("gender"), QJsonValue::Null) << 9
                                         << QByteArray("01031101");
    QTest::addRow("gender true is male") << withValue(QStringLiteral("gender"), true) << 9 << QByteArray("01031101");
    QTest::addRow("height is always 0") << withValue(QStringLiteral("height"), 181) << 10 << QByteArray("01036220");
    QTest::addRow("weight is always 0") << withValue(QStringLiteral("weight"), 77) << 11 << QByteArray("01036230");
    QTest::addRow("Latin-1 letter is one byte")
        << withValue(QStringLiteral("first_name"), QString::fromUtf8("Jos\xc3\xa9")) << 4
        << QByteArray("0133101Jos\xe9");
    QTest::addRow("letter outside Latin-1 becomes ?")
        << withValue(QStringLiteral("first_name"), QString::fromUtf8("\xc5\x81ukasz")) << 4
        << QByteArray("0153101?ukasz");
    QTest::addRow("character beyond 16 bits is two ?, counted as two")
        << withValue(QStringLiteral("last_name"), QString::fromUtf8("A\xf0\x9f\x98\x80")) << 5
        << QByteArray("0123102A??");
    QTest::addRow("semicolon and quote written as they are")
        << withValue(QStringLiteral("address"), QStringLiteral("\"A\";B")) << 8 << QByteArray("0143107\"A\";B");
    // No value can add a line of its own: each control character is written as a blank.
    QTest::addRow("line feeds in a name")
        << withValue(QStringLiteral("first_name"), QStringLiteral("Ana\n0123000999\n0148402EVIL")) << 4
        << QByteArray("0353101Ana 0123000999 0148402EVIL");
    QTest::addRow("CR in the city") << withValue(QStringLiteral("city"), QStringLiteral("North\rSide")) << 7
                                    << QByteArray("0193106North Side");
    QTest::addRow("CR LF in the address") << withValue(QStringLiteral("address"), QStringLiteral("Main 5\r\nBack")) << 8
                                          << QByteArray("0213107Main 5  Back");
    QTest::addRow("NUL, tab and DEL in a name")
        << withValue(QStringLiteral("last_name"), QStringLiteral("A\tB\x7f").append(QChar(0))) << 5
        << QByteArray("0143102A B  ");
    QTest::addRow("next-line character in the birth date")
        << withValue(QStringLiteral("birth_date"), QStringLiteral("07/03/1985").append(QChar(0x85))) << 6
        << QByteArray("018310307031985 ");
}

void TestGdtRequest::patientLine()
{
    QFETCH(QJsonObject, patient);
    QFETCH(int, line);
    QFETCH(QByteArray, expected);

    const QList<QByteArray> lines = linesOf(gdtRequestRecord(Patient::fromRecord(patient)));
    QCOMPARE(lines.size(), 14);
    QCOMPARE(lines.at(line), expected);
    QCOMPARE(lines.last(), QByteArray("01092062"));
}

void TestGdtRequest::lengthPrefix_data()
{
    QTest::addColumn<int>("contentLength");
    QTest::addColumn<QString>("prefix");

    QTest::addRow("empty content, 9") << 0 << QStringLiteral("009");
    QTest::addRow("one character, 10") << 1 << QStringLiteral("010");
    QTest::addRow("90 characters, 99") << 90 << QStringLiteral("099");
    QTest::addRow("91 characters, 100") << 91 << QStringLiteral("100");
    QTest::addRow("990 characters, 999") << 990 << QStringLiteral("999");
    QTest::addRow("991 characters, four digits") << 991 << QStringLiteral("1000");
    QTest::addRow("2000 characters, nothing cut") << 2000 << QStringLiteral("2009");
}

void TestGdtRequest::lengthPrefix()
{
    QFETCH(int, contentLength);
    QFETCH(QString, prefix);

    const QString content(contentLength, QLatin1Char('x'));
    QCOMPARE(gdtLine(QStringLiteral("3107") + content), prefix + QStringLiteral("3107") + content);

    // The same through the whole record: the line is written whole.
    const QList<QByteArray> lines =
        linesOf(gdtRequestRecord(Patient::fromRecord(withValue(QStringLiteral("address"), content))));
    QCOMPARE(lines.at(8), (prefix + QStringLiteral("3107") + content).toLatin1());
}

void TestGdtRequest::recordLengthIsFileSize_data()
{
    QTest::addColumn<QJsonObject>("patient");

    QTest::addRow("plain") << basePatient();
    QTest::addRow("empty contents") << QJsonObject{{QStringLiteral("code"), 1},
                                                   {QStringLiteral("first_name"), QJsonValue::Null}};
    QTest::addRow("line break inside a content")
        << withValue(QStringLiteral("address"), QStringLiteral("Main Street 5\nBack door"));
    QTest::addRow("CR LF inside a content") << withValue(QStringLiteral("city"), QStringLiteral("North\r\nSide"));
    QTest::addRow("longest line that fits") << withValue(QStringLiteral("address"), QString(990, QLatin1Char('a')));
    QTest::addRow("characters outside Latin-1")
        << withValue(QStringLiteral("first_name"), QString::fromUtf8("\xe6\x9d\x8e\xf0\x9f\x98\x80"));
}

// Field 8100 must declare the bytes that are really written, line breaks inside contents included.
void TestGdtRequest::recordLengthIsFileSize()
{
    QFETCH(QJsonObject, patient);

    const QByteArray record = gdtRequestRecord(Patient::fromRecord(patient));
    const QList<QByteArray> lines = record.split('\n');
    QCOMPARE(lines.at(1).left(7), QByteArray("0148100"));
    QCOMPARE(lines.at(1).mid(7, 5).toInt(), record.size());
    QVERIFY(record.endsWith("01092062\r\n"));
    // Every line feed written is part of a CR LF.
    QCOMPARE(record.count("\r\n"), record.count('\n'));
}

void TestGdtRequest::recordLengthCountsLineEndsTwice()
{
    QCOMPARE(gdtRecordLength(QString()), QStringLiteral("00014"));
    QCOMPARE(gdtRecordLength(QStringLiteral("01380006302\n")), QStringLiteral("00027"));
    QCOMPARE(gdtRecordLength(QStringLiteral("a\nb\n")), QStringLiteral("00020"));
}

void TestGdtRequest::patientReadBack_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QStringList>("patient"); // code, first and last name; empty: no request
    QTest::addRow("worked example") << exampleRequest()
                                    << QStringList{QStringLiteral("P0042"), QStringLiteral("Sample"),
                                                   QStringLiteral("Patient")};
    QTest::addRow("names written with blanks for line breaks, letters in ISO 8859-1")
        << gdtRequestRecord(
               Patient::fromRecord(withValue(QStringLiteral("first_name"), QString::fromUtf8("Jos\xc3\xa9\nMar\xc3\xad"
                                                                                             "a"))))
        << QStringList{QStringLiteral("P0042"),
                       QString::fromUtf8("Jos\xc3\xa9 Mar\xc3\xad"
                                         "a"),
                       QStringLiteral("Patient")};
    QTest::addRow("another record type") << QByteArray(exampleRequest()).replace("6302", "6301") << QStringList();
    QTest::addRow("a length that does not match")
        << QByteArray(exampleRequest()).replace("0143000P0042", "0153000P0042") << QStringList();
    QTest::addRow("no patient number") << QByteArray(exampleRequest()).replace("0143000P0042\r\n", "") << QStringList();
}

// A request read back after a restart names the patient it was written for.
void TestGdtRequest::patientReadBack()
{
    QFETCH(QByteArray, record);
    QFETCH(QStringList, patient);
    const std::optional<Patient> read = gdtRequestPatient(record);
    QCOMPARE(read.has_value(), !patient.isEmpty());
    if (read)
        QCOMPARE((QStringList{read->code, read->firstName, read->lastName}), patient);
}

QTEST_GUILESS_MAIN(TestGdtRequest)
#include "tst_gdtrequest.moc"
