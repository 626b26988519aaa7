// The widgets of the connector's window, built in code.
#pragma once

class QHBoxLayout;
class QLabel;
class QMainWindow;
class QMenuBar;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QVBoxLayout;
class QWidget;

namespace Ui {

/// Pointers to the window's widgets; the widgets belong to the window, not to this structure.
struct MainWindow
{
    QWidget *centralwidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QLabel *lSocketStatus = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QLabel *lPort = nullptr;
    QSpinBox *sbPort = nullptr;
    QPushButton *pbValidate = nullptr;
    QMenuBar *menubar = nullptr;
    QStatusBar *statusbar = nullptr;

    void setupUi(QMainWindow *window);
};

} // namespace Ui
