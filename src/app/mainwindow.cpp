// The connector's one window: start-up, configuration, and the status of the operator channel.
#include "app/mainwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include "app/commandrouter.h"
#include "app/mainwindowform.h"
#include "app/originprompt.h"
#include "app/processexit.h"
#include "app/updateprompt.h"
#include "channel/operatorchannel.h"
#include "platform/connectorlog.h"
#include "update/updatecheck.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ownVersion(CONNECTOR_VERSION), ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    const QStringList arguments = QCoreApplication::arguments();
    qCInfo(connectorLog).noquote() << "SANvero Connector" << QStringLiteral(CONNECTOR_VERSION_TEXT)
                                   << "started, configuration" << arguments.value(1, QStringLiteral("(none)"));
    const ConfigurationResult result = readConfiguration(arguments);
    if (result.outcome != ConfigurationOutcome::Accepted)
        refuseToStart(result.outcome);

    config = result.configuration;
    sessionIds = config.sessionIds;
    setWindowState(Qt::WindowMinimized);
    startServer();

    if (config.checkUpdates) {
        updateCheck = new UpdateCheck(config.downloadServer, ownVersion, this);
        auto *prompt = new UpdatePrompt(UpdateCheck::setupAddress(config.downloadServer), this);
        connect(updateCheck, &UpdateCheck::updateAvailable, prompt, &UpdatePrompt::promptOperator);
        // Queued from here, the check runs once the event loop has started, after main has shown the window.
        QTimer::singleShot(0, updateCheck, &UpdateCheck::checkNetworkVersion);
    }
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::refuseToStart(ConfigurationOutcome outcome)
{
    qCWarning(connectorLog)
        << (outcome == ConfigurationOutcome::Invalid
                ? "Configuration failed: a JSON object without \"sessionids\" or with an unusable value"
                : "Configuration not found: no argument, unreadable file or no JSON object");
    if (outcome == ConfigurationOutcome::Invalid)
        QMessageBox::information(this, QStringLiteral("Configuration failed!"),
                                 QStringLiteral("The configuration is invalid!"), QMessageBox::Ok,
                                 QMessageBox::NoButton);
    else
        QMessageBox::information(this, QStringLiteral("Configuration not found!"),
                                 QStringLiteral("The configuration file is required to open the app."), QMessageBox::Ok,
                                 QMessageBox::NoButton);
    // The event loop never starts and no window is shown.
    exitProcessNow();
}

void MainWindow::startServer()
{
    channel = new OperatorChannel(this);
    // Waiting exams are remembered in the local data folder beside the log file: the folders they name are
    // this workstation's, so they must not roam to another.
    const Workstation workstation{QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                  &launcher,
                                  &clock,
                                  &files,
                                  &programs,
                                  QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                                      QStringLiteral("/waiting-exams.json")};
    router = new CommandRouter(channel, config.downloadServer, config.database, workstation, this);
    auto *prompt = new OriginPrompt(channel, this);
    connect(channel, &OperatorChannel::originDecisionNeeded, prompt, &OriginPrompt::ask);
    if (config.unknownOrigins == OriginPolicy::Unknown::Allow)
        qCWarning(connectorLog) << "unknown_origins is \"allow\": pages from every origin may control the connector.";
    const OriginPolicy policy(config.allowedOrigins, config.unknownOrigins, originDecisionsFile());
    showServerStatus(channel->startServer(config.listenAddresses, OperatorChannel::defaultPort, policy));
}

void MainWindow::showServerStatus(bool listening)
{
    ui->showServerStatus(this, listening);
}

QString MainWindow::originDecisionsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/origin-decisions.json");
}
