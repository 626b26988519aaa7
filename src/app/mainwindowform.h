// The widgets of the connector's window, built in code.
#pragma once

class QAction;
class QHBoxLayout;
class QLabel;
class QMainWindow;
class QMenu;
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
    QMenu *mPermissions = nullptr;
    QAction *aDecisions = nullptr; // opens the review of the operator's decisions
    QStatusBar *statusbar = nullptr;

    void setupUi(QMainWindow *window);
    /// Shows in the status line whether the server listens on the port, and fits the window to the texts.
    void showServerStatus(QMainWindow *window, bool listening);
    /// Fixes the window at 380 x 120, or larger where its widgets need more room for their texts: with a
    /// larger font or font DPI (display scaling under Qt 5, a larger system font) nothing is clipped.
    void fitWindow(QMainWindow *window);
};

} // namespace Ui
