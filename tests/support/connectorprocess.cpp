// Starts the real connector executable for end-to-end tests and talks to it as a page would.
#include "connectorprocess.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

ConnectorProcess::ConnectorProcess()
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&process, &QProcess::readyRead, [this] { output += process.readAll(); });
}

ConnectorProcess::~ConnectorProcess()
{
    stop();
}

QString ConnectorProcess::executable()
{
    return qEnvironmentVariable("CONNECTOR_BIN");
}

QString ConnectorProcess::sourceDir()
{
    return qEnvironmentVariable("CONNECTOR_SOURCE_DIR");
}

QString ConnectorProcess::buildDir()
{
    return qEnvironmentVariable("CONNECTOR_BUILD_DIR");
}

QJsonObject ConnectorProcess::defaultConfiguration()
{
    // The tests' application folders are temporary ones; a test of the folder box says otherwise.
    return QJsonObject{{QStringLiteral("sessionids"), QStringLiteral("test")},
                       {QStringLiteral("unknown_application_folders"), QStringLiteral("allow")}};
}

QString ConnectorProcess::configPath() const
{
    return workDir.filePath(QStringLiteral("connector.json"));
}

bool ConnectorProcess::writeConfiguration(const QJsonObject &configuration)
{
    QFile file(configPath());
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(configuration).toJson()) > 0;
}

bool ConnectorProcess::start(const QJsonObject &configuration, const QProcessEnvironment &environment)
{
    if (!writeConfiguration(configuration))
        return false;
    // The probe below cannot tell whose listener answers: one still held for an ended connector would pass
    // for this one, and the page would then meet that listener or, once it is gone, none yet.
    if (!waitForPortFree())
        return false;
    startRaw({configPath()}, environment);
    return waitForListening();
}

void ConnectorProcess::startRaw(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcessEnvironment env = environment;
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The connector's data folder (log file, waiting exams) is the test's own unless the test names one.
    if (!env.contains(QStringLiteral("XDG_DATA_HOME")))
        env.insert(QStringLiteral("XDG_DATA_HOME"), workDir.filePath(QStringLiteral("data")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir.path());
    if (launcher.isEmpty())
        process.start(executable(), arguments);
    else
        process.start(launcher.first(), launcher.mid(1) + QStringList{executable()} + arguments);
    process.waitForStarted();
}

bool ConnectorProcess::waitForListening(int timeoutMs) const
{
    return QTest::qWaitFor(
        [this] {
            if (process.state() != QProcess::Running)
                return false;
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), 1024);
            return probe.waitForConnected(200);
        },
        timeoutMs);
}

bool ConnectorProcess::waitForPortFree(int timeoutMs)
{
    return QTest::qWaitFor(
        [] {
            for (const QHostAddress &address :
                 {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
                QTcpSocket probe;
                probe.connectToHost(address, 1024);
                if (probe.waitForConnected(200))
                    return false;
            }
            return true;
        },
        timeoutMs);
}

bool ConnectorProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return true;
    process.terminate();
    if (process.waitForFinished(5000))
        return true;
    process.kill();
    process.waitForFinished(5000);
    return false;
}

QString ConnectorProcess::log()
{
    output += process.readAll();
    return QString::fromUtf8(output);
}

bool ConnectorProcess::waitForLog(const QString &line, int timeoutMs)
{
    return QTest::qWaitFor([&] { return log().contains(line); }, timeoutMs);
}

PageClient::PageClient(QObject *parent) : QObject(parent)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) { frames.append(text); });
    connect(&socket, &QWebSocket::disconnected, this, [this] { closed = true; });
}

bool PageClient::open(const QUrl &url, const QString &origin)
{
    QNetworkRequest request(url);
    if (!origin.isNull())
        request.setRawHeader("Origin", origin.toUtf8());
    socket.open(request);
    return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState || closed; }, 5000) &&
           socket.state() == QAbstractSocket::ConnectedState;
}

void PageClient::sendJson(const QJsonObject &object)
{
    send(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

bool PageClient::waitForFrames(int count, int timeoutMs)
{
    return waitUntil([&] { return frames.size() >= count; }, timeoutMs);
}

bool PageClient::waitForDisconnected(int timeoutMs)
{
    return waitUntil([&] { return closed; }, timeoutMs);
}

QJsonObject PageClient::frame(int index) const
{
    return QJsonDocument::fromJson(frames.value(index).toUtf8()).object();
}

QJsonObject PageClient::findFrame(int code) const
{
    for (int i = 0; i < frames.size(); ++i) {
        const QJsonObject object = frame(i);
        if (object.value(QLatin1String("message")).toInt(-1) == code ||
            object.value(QLatin1String("error")).toInt(-1) == code)
            return object;
    }
    return {};
}

QList<int> PageClient::codes() const
{
    QList<int> result;
    for (int i = 0; i < frames.size(); ++i) {
        const QJsonObject object = frame(i);
        result.append(object.contains(QLatin1String("error")) ? object.value(QLatin1String("error")).toInt()
                                                              : object.value(QLatin1String("message")).toInt());
    }
    return result;
}

bool PageClient::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    // Woken by the socket itself: a connector in the same process answers in well under a millisecond, and
    // polling would add its interval to every exchange.
    if (done())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    const QMetaObject::Connection connections[] = {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop, check),
        QObject::connect(&socket, &QWebSocket::stateChanged, &loop, check),
        QObject::connect(&socket, &QWebSocket::disconnected, &loop, check),
    };
    timeout.start(timeoutMs);
    loop.exec();
    for (const QMetaObject::Connection &connection : connections)
        QObject::disconnect(connection);
    return done();
}
