// Starts the real connector executable for end-to-end tests and talks to it as a page would.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

#include <functional>
#include <memory>

/// The built connector, started with a configuration file in its own temporary folder.
class ConnectorProcess
{
public:
    ConnectorProcess();
    ~ConnectorProcess();

    static QString executable();
    static QString sourceDir();
    static QString buildDir();

    /// Writes the configuration, waits until port 1024 is free, starts the connector and waits until port 1024
    /// accepts connections.
    bool start(const QJsonObject &configuration = defaultConfiguration(),
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    /// Starts the connector with exactly these arguments and does not wait for the port.
    /// Writes the configuration file that start() passes to the connector.
    bool writeConfiguration(const QJsonObject &configuration);
    void startRaw(const QStringList &arguments,
                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    bool waitForListening(int timeoutMs = 10000) const;
    /// Waits until nothing listens on port 1024. A connector that has ended can leave its port listening for
    /// a moment: a program it was starting (detached) is a copy of it, holding its sockets, until it runs.
    static bool waitForPortFree(int timeoutMs = 10000);
    bool isRunning() const { return process.state() == QProcess::Running; }
    /// Ends the connector and returns whether it exited on its own within the time.
    bool stop();

    static QJsonObject defaultConfiguration();
    QString dir() const { return workDir.path(); }
    QString configPath() const;

    /// Everything the connector wrote to its debug log so far.
    QString log();
    bool waitForLog(const QString &line, int timeoutMs = 5000);

    QProcess process;
    /// A program and its first arguments that start the connector (the executable and its arguments follow),
    /// for a test that must run it inside another environment; empty starts it directly. The launcher must
    /// replace itself with the connector (exec), so the process is the connector's own.
    QStringList launcher;

private:
    QTemporaryDir workDir;
    QByteArray output;
};

/// A page connected to the connector.
class PageClient : public QObject
{
    Q_OBJECT

public:
    explicit PageClient(QObject *parent = nullptr);

    bool open(const QUrl &url = QUrl(QStringLiteral("ws://127.0.0.1:1024")), const QString &origin = QString());
    void send(const QString &message) { socket.sendTextMessage(message); }
    void sendJson(const QJsonObject &object);
    bool waitForFrames(int count, int timeoutMs = 5000);
    /// Waits up to the time for the connection to end.
    bool waitForDisconnected(int timeoutMs = 5000);
    QJsonObject frame(int index) const;
    /// The first frame with "message" or "error" equal to code, or an empty object.
    QJsonObject findFrame(int code) const;
    /// The "message" or "error" number of every frame received so far.
    QList<int> codes() const;

    QStringList frames;
    QWebSocket socket;
    bool closed = false;

private:
    /// Runs the event loop until done() holds or the time is up; whether it holds.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
};
