// The connector's one window: start-up, configuration, and the status of the operator channel.
#pragma once

#include <QMainWindow>
#include <QString>

#include "app/configuration.h"
#include "platform/clock.h"
#include "platform/fileoperations.h"
#include "platform/programlauncher.h"
#include "platform/runningprograms.h"

namespace Ui {
struct MainWindow;
}
class CommandRouter;
class OperatorChannel;
class UpdateCheck;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Reads the configuration named on the command line; without a usable one it tells the operator
    /// and ends the process with status 0. Otherwise it minimises itself and starts the server.
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    const ConnectorConfiguration &configuration() const { return config; }
    /// Where the operator's decisions about page origins are kept, in the operator's own data folder.
    static QString originDecisionsFile();

private:
    void refuseToStart(ConfigurationOutcome outcome);
    void startServer();
    void showServerStatus(bool listening);

    int ownVersion = 0; // read only by the update check
    Ui::MainWindow *ui = nullptr;
    QString sessionIds;
    ConnectorConfiguration config;
    OperatorChannel *channel = nullptr;
    CommandRouter *router = nullptr;
    UpdateCheck *updateCheck = nullptr;
    ProgramLauncher launcher;
    Clock clock;
    FileOperations files;
    RunningPrograms programs;
};
