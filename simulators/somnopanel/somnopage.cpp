// Plays the operator's page for the demo: sends one START_POLYSOMNO command and prints the connector's answer.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Registers a patient with the polysomnography application "
                                                    "through a running connector."));
    parser.addHelpOption();
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("The connector's address."),
                                 QStringLiteral("url"), QStringLiteral("ws://127.0.0.1:1024"));
    const QCommandLineOption code(QStringLiteral("code"), QStringLiteral("The patient's code."), QStringLiteral("code"),
                                  QStringLiteral("DEMO-0003"));
    const QCommandLineOption firstName(QStringLiteral("first-name"), QStringLiteral("Family name."),
                                       QStringLiteral("name"), QStringLiteral("Garcia"));
    const QCommandLineOption lastName(QStringLiteral("last-name"), QStringLiteral("Given name."),
                                      QStringLiteral("name"), QStringLiteral("Lucia"));
    const QCommandLineOption birthDate(QStringLiteral("birth-date"), QStringLiteral("Birth date as sent."),
                                       QStringLiteral("date"), QStringLiteral("1990-06-01"));
    parser.addOptions({url, code, firstName, lastName, birthDate});
    parser.addPositionalArgument(QStringLiteral("app-path"),
                                 QStringLiteral("The installation folder, with its trailing separator."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    const QJsonObject patient{
        {QStringLiteral("first_name"), parser.value(firstName)},
        {QStringLiteral("last_name"), parser.value(lastName)},
        {QStringLiteral("birth_date"), parser.value(birthDate)},
        {QStringLiteral("code"), parser.value(code)},
        {QStringLiteral("gender"), QStringLiteral("F")},
        {QStringLiteral("height"), 165},
        {QStringLiteral("weight"), 60},
    };
    const QJsonObject envelope{
        {QStringLiteral("type"), QStringLiteral("POLYSOMNO")},
        {QStringLiteral("appPath"), parser.positionalArguments().constFirst()},
        {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")},
                                             {QStringLiteral("patient"), patient}}},
    };

    QWebSocket socket;
    int status = 1;
    QObject::connect(&socket, &QWebSocket::connected, [&] {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(envelope).toJson(QJsonDocument::Compact)));
    });
    // The bridge answers each command with one frame; the first one ends the demo.
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &frame) {
        std::fputs(frame.toLocal8Bit().constData(), stdout);
        const QJsonObject object = QJsonDocument::fromJson(frame.toUtf8()).object();
        status = object.value(QLatin1String("message")).toInt() == 2010 ? 0 : 1;
        socket.close();
    });
    QObject::connect(&socket, &QWebSocket::disconnected, &app, &QCoreApplication::quit);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const auto errorSignal = &QWebSocket::errorOccurred;
#else
    const auto errorSignal = QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error);
#endif
    QObject::connect(&socket, errorSignal, [&] {
        std::fprintf(stderr, "No connection to the connector: %s\n", qPrintable(socket.errorString()));
        QCoreApplication::exit(1);
    });
    // An ignored command gets no answer at all; give up after ten seconds rather than wait forever.
    QTimer::singleShot(10000, &app, [&] {
        std::fputs("No answer from the connector\n", stderr);
        QCoreApplication::exit(1);
    });
    socket.open(QUrl(parser.value(url)));
    const int loop = app.exec();
    return loop != 0 ? loop : status;
}
