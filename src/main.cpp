// Program entry of the SANvero Connector.
#include <QApplication>

#include "app/mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Names the operator's data folder (origin decisions): "%APPDATA%\\SANvero\\SANvero Connector" on Windows.
    QCoreApplication::setOrganizationName(QStringLiteral("SANvero"));
    QCoreApplication::setApplicationName(QStringLiteral("SANvero Connector"));
    MainWindow window;
    window.show();
    return application.exec();
}
