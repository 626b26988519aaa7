// The widgets of the connector's window, built in code.
#include "app/mainwindowform.h"

#include <QCoreApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

namespace Ui {

void MainWindow::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->setEnabled(true);
    window->resize(380, 120);
    QSizePolicy sizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sizePolicy.setHorizontalStretch(0);
    sizePolicy.setVerticalStretch(0);
    sizePolicy.setHeightForWidth(window->sizePolicy().hasHeightForWidth());
    window->setSizePolicy(sizePolicy);
    window->setContextMenuPolicy(Qt::NoContextMenu);
    QIcon icon;
    icon.addFile(QStringLiteral("favicon.png"), QSize(), QIcon::Normal, QIcon::Off);
    window->setWindowIcon(icon);

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    verticalLayout = new QVBoxLayout(centralwidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    lSocketStatus = new QLabel(centralwidget);
    lSocketStatus->setObjectName(QStringLiteral("lSocketStatus"));
    QFont font;
    font.setPointSize(10);
    lSocketStatus->setFont(font);
    verticalLayout->addWidget(lSocketStatus);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    lPort = new QLabel(centralwidget);
    lPort->setObjectName(QStringLiteral("lPort"));
    horizontalLayout->addWidget(lPort);
    sbPort = new QSpinBox(centralwidget);
    sbPort->setObjectName(QStringLiteral("sbPort"));
    sbPort->setMinimum(1024);
    // Above the highest TCP port, as the form always had it; the box is not consulted, the server keeps 1024.
    sbPort->setMaximum(65539);
    horizontalLayout->addWidget(sbPort);
    pbValidate = new QPushButton(centralwidget);
    pbValidate->setObjectName(QStringLiteral("pbValidate"));
    horizontalLayout->addWidget(pbValidate);
    verticalLayout->addLayout(horizontalLayout);

    window->setCentralWidget(centralwidget);
    menubar = new QMenuBar(window);
    menubar->setObjectName(QStringLiteral("menubar"));
    menubar->setGeometry(QRect(0, 0, 380, 22));
    window->setMenuBar(menubar);
    mPermissions = menubar->addMenu(QCoreApplication::translate("MainWindow", "&Permisos"));
    mPermissions->setObjectName(QStringLiteral("mPermissions"));
    aDecisions = mPermissions->addAction(QCoreApplication::translate("MainWindow", "&Revisar decisiones..."));
    aDecisions->setObjectName(QStringLiteral("aDecisions"));
    statusbar = new QStatusBar(window);
    statusbar->setObjectName(QStringLiteral("statusbar"));
    window->setStatusBar(statusbar);

    window->setWindowTitle(QCoreApplication::translate("MainWindow", "SANvero Connector"));
    lSocketStatus->setText(QCoreApplication::translate(
        "MainWindow", "<span style=\"color: green\";>Server ready on the port <b>1024</b></span>"));
    lPort->setText(QCoreApplication::translate("MainWindow", "Puerto"));
    pbValidate->setText(QCoreApplication::translate("MainWindow", "Validar"));

    QMetaObject::connectSlotsByName(window);
    fitWindow(window);
}

void MainWindow::showServerStatus(QMainWindow *window, bool listening)
{
    const QString port = QString::number(sbPort->value());
    if (listening)
        lSocketStatus->setText(QStringLiteral("<span style='color: green;'>Servidor listo y escuchando el puerto <b>") +
                               port + QStringLiteral("</b></span>"));
    else
        lSocketStatus->setText(QStringLiteral("<span style='color: red;'>Escucha del puerto <b>") + port +
                               QStringLiteral("</b> por parte del servidor imposible</span>"));
    fitWindow(window);
}

void MainWindow::fitWindow(QMainWindow *window)
{
    // The size hints count once the style has set the widgets' fonts and margins. They are the widgets' own:
    // the main window's layout answers from a cache until the window is shown.
    window->ensurePolished();
    const QSize central = centralwidget->sizeHint();
    const QSize needed(central.width(),
                       menubar->sizeHint().height() + central.height() + statusbar->sizeHint().height());
    window->setFixedSize(QSize(380, 120).expandedTo(needed));
}

} // namespace Ui
