// The connector's one window: start-up, configuration, and the status of the operator channel.
#include "app/mainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QMessageBox>
#include <QStandardPaths>

#include "app/decisionsdialog.h"
#include "app/mainwindowform.h"
#include "app/originprompt.h"
#include "app/processexit.h"
#include "app/updateprompt.h"
#include "connector/connector.h"
#include "platform/connectorlog.h"
#include "platform/tlsbackend.h"
#include "update/updatecheck.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    const QStringList arguments = QCoreApplication::arguments();
    qCInfo(connectorLog).noquote() << "SANvero Connector" << Connector::versionText() << "started, configuration"
                                   << arguments.value(1, QStringLiteral("(none)"));
    // Before anything of the connector touches the network.
    chooseTlsBackend();
    const ConfigurationResult result = readConfiguration(arguments);
    if (result.outcome != ConfigurationOutcome::Accepted)
        refuseToStart(result.outcome);

    const ConnectorConfiguration &config = result.configuration;
    sessionIds = config.sessionIds;
    setWindowState(Qt::WindowMinimized);

    const Workstation workstation{QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                  &launcher,
                                  &clock,
                                  &files,
                                  &programs,
                                  Connector::defaultWaitingExamsFile()};
    connector = new Connector(config, workstation, Connector::defaultOriginDecisionsFile(), this);
    connect(connector, &Connector::serverStatus, this, &MainWindow::showServerStatus);
    auto *originPrompt = new OriginPrompt(this);
    connect(connector, &Connector::originDecisionNeeded, originPrompt, &OriginPrompt::ask);
    connect(connector, &Connector::originQuestionWithdrawn, originPrompt, &OriginPrompt::withdraw);
    connect(connector, &Connector::folderDecisionNeeded, originPrompt, &OriginPrompt::askFolder);
    connect(connector, &Connector::folderQuestionWithdrawn, originPrompt, &OriginPrompt::withdrawFolder);
    connect(originPrompt, &OriginPrompt::decided, connector, &Connector::decideOrigin);
    connect(originPrompt, &OriginPrompt::folderDecided, connector, &Connector::decideFolder);
    connect(ui->aDecisions, &QAction::triggered, this, &MainWindow::showDecisions);
    auto *updatePrompt = new UpdatePrompt(UpdateCheck::setupAddress(config.downloadServer), this);
    connect(connector, &Connector::updateAvailable, updatePrompt, &UpdatePrompt::promptOperator);
    connector->start();
}

MainWindow::~MainWindow()
{
    // Before the workstation's members go: the connector's bridges use them to the last.
    delete connector;
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

void MainWindow::showServerStatus(bool listening)
{
    ui->showServerStatus(this, listening);
}

void MainWindow::showDecisions()
{
    if (!decisionsDialog) {
        decisionsDialog = new DecisionsDialog(connector, this);
        decisionsDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    decisionsDialog->refresh();
    decisionsDialog->show();
    decisionsDialog->raise();
    decisionsDialog->activateWindow();
}
