// Command-line tool that sets up stand-in polysomnography databases, measurements and demo installations.
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>

#include "somnodb.h"

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int usage()
{
    print(stderr, QStringLiteral("usage: somnodb-tool create DATABASE\n"
                                 "       somnodb-tool add DATABASE ID CODE NAME VORNAME BIRTH_DATE\n"
                                 "       somnodb-tool list DATABASE\n"
                                 "       somnodb-tool measurements FOLDER\n"
                                 "       somnodb-tool demo APP_PATH\n"
                                 "DATABASE is an SQLite 3 file standing in for SomnoDB.mdb; 'demo' lays out "
                                 "bin/SomnoPanel.exe, SomnoDB/SomnoDB.mdb and measurement/ under APP_PATH."));
    return 2;
}

int finish(bool ok, const QString &error)
{
    if (ok)
        return 0;
    print(stderr, QStringLiteral("somnodb-tool: ") + error);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    QString error;

    if (command == QLatin1String("create") && arguments.size() == 2)
        return finish(SomnoDb::create(arguments.at(1), &error), error);

    if (command == QLatin1String("add") && arguments.size() == 7) {
        bool isNumber = false;
        const int id = arguments.at(2).toInt(&isNumber);
        if (!isNumber)
            return usage();
        return finish(SomnoDb::addPatient(arguments.at(1), id, arguments.at(3), arguments.at(4), arguments.at(5),
                                          arguments.at(6), &error),
                      error);
    }

    if (command == QLatin1String("list") && arguments.size() == 2) {
        const auto rows = SomnoDb::patients(arguments.at(1), &error);
        if (!rows)
            return finish(false, error);
        for (const QVariantMap &row : *rows)
            print(stdout,
                  QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(row)).toJson(QJsonDocument::Compact)));
        return 0;
    }

    if (command == QLatin1String("measurements") && arguments.size() == 2)
        return finish(SomnoDb::createSampleMeasurements(arguments.at(1), &error), error);

    if (command == QLatin1String("demo") && arguments.size() == 2) {
        const QString appPath = QDir(arguments.at(1)).absolutePath();
        const QString standIn = QCoreApplication::applicationDirPath() + QStringLiteral("/SomnoPanel.exe");
        const bool ok = SomnoDb::createDemoInstallation(appPath, standIn, &error);
        if (ok)
            print(stdout, QStringLiteral("Demo installation ready; its application path is ") +
                              QDir::toNativeSeparators(appPath + QLatin1Char('/')));
        return finish(ok, error);
    }

    return usage();
}
