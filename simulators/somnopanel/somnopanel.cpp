// Stand-in for the polysomnography application: records that it was started, then exits.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

/// Appends one line {"cwd": ..., "arguments": [...]} to SomnoPanel.starts beside the executable.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QJsonObject start{
        {QStringLiteral("cwd"), QDir::currentPath()},
        {QStringLiteral("arguments"), QJsonArray::fromStringList(QCoreApplication::arguments().mid(1))},
    };
    QFile record(QCoreApplication::applicationDirPath() + QStringLiteral("/SomnoPanel.starts"));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "SomnoPanel: cannot write %s\n", qPrintable(record.fileName()));
        return 1;
    }
    record.write(QJsonDocument(start).toJson(QJsonDocument::Compact) + '\n');
    return record.flush() ? 0 : 1;
}
