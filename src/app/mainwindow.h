// The connector's one window: start-up, configuration, and the status of the operator channel.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "connector/configuration.h"
#include "platform/clock.h"
#include "platform/fileoperations.h"
#include "platform/programlauncher.h"
#include "platform/runningprograms.h"

namespace Ui {
struct MainWindow;
}
class Connector;
class DecisionsDialog;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Reads the configuration named on the command line; without a usable one it tells the operator
    /// and ends the process with status 0. Otherwise it minimises itself and starts the connector, whose
    /// status it shows and whose questions to the operator it asks in boxes.
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    void refuseToStart(ConfigurationOutcome outcome);
    void showServerStatus(bool listening);
    void showDecisions();

    Ui::MainWindow *ui = nullptr;
    QString sessionIds;
    Connector *connector = nullptr;
    QPointer<DecisionsDialog> decisionsDialog;
    ProgramLauncher launcher;
    Clock clock;
    FileOperations files;
    RunningPrograms programs;
};
