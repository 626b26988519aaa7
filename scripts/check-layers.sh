#!/bin/sh
# Checks that includes of our own headers only point down the layers:
#   protocol, platform -> nothing of ours
#   audiometry, polysomnography, update -> protocol, platform (and their own folder)
#   channel -> protocol, platform
#   connector -> protocol, platform, the bridges, update, channel
#   app -> everything
# and that nothing below app uses Qt Gui or Widgets: no header of theirs is included (<QtGui/...>,
# <QtWidgets/...>, <QIcon>, <qicon.h>, ...) and none of their classes is named, not even declared.
set -u
cd "$(dirname "$0")/../src"
status=0
allowed() {
    case $1 in
    protocol | platform) echo "" ;;
    audiometry | polysomnography | update) echo "protocol platform" ;;
    channel) echo "protocol platform" ;;
    connector) echo "protocol platform audiometry polysomnography update channel" ;;
    esac
}

# The classes of Qt Gui and Widgets, from the headers of an installed Qt where one is found; the list below
# holds the common ones, so the check means something on a machine without Qt's headers too.
gui_classes="QAbstractButton QAction QApplication QBrush QClipboard QColor QCursor QDesktopServices QDialog
QFont QFontMetrics QGuiApplication QIcon QImage QKeyEvent QKeySequence QLabel QLayout QMainWindow QMenu QMenuBar
QMessageBox QMouseEvent QPainter QPalette QPixmap QPushButton QScreen QShortcut QSpinBox QStatusBar
QStyle QSystemTrayIcon QTextDocument QValidator QWidget QWindow"
for qt in $(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null) $(qmake -query QT_INSTALL_HEADERS 2>/dev/null) \
    /usr/include/x86_64-linux-gnu/qt5 /usr/include/x86_64-linux-gnu/qt6; do
    for module in QtGui QtWidgets; do
        [ -d "$qt/$module" ] || continue
        gui_classes="$gui_classes $(ls "$qt/$module" | grep '^Q[A-Za-z0-9]*$' | grep -v '^Qt')"
    done
done
gui_words=$(printf '%s\n' $gui_classes | sort -u | paste -sd '|' -)
# Headers by module folder, by class name and by their lower-case file names (<qicon.h>).
gui_lower=$(printf '%s\n' $gui_classes | tr 'A-Z' 'a-z' | sort -u | paste -sd '|' -)
gui_include="#[[:space:]]*include[[:space:]]*[<\"]((QtGui|QtWidgets)(/|[>\"])|($gui_words)[>\"]|($gui_lower)\\.h[>\"])"

for layer in protocol platform audiometry polysomnography update channel connector; do
    ok="$layer $(allowed "$layer")"
    for file in "$layer"/*; do
        for target in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' "$file"); do
            case " $ok " in
            *" $target "*) ;;
            *) echo "layers: $file includes $target/"; status=1 ;;
            esac
        done
        if grep -Eq "$gui_include" "$file"; then
            echo "layers: $file includes a header of Qt Gui or Widgets"
            status=1
        fi
        used=$(grep -Eow "$gui_words" "$file" | sort -u | paste -sd ' ' -)
        if [ -n "$used" ]; then
            echo "layers: $file uses Qt Gui or Widgets: $used"
            status=1
        fi
    done
done
[ $status = 0 ] && echo "layers: includes point down, nothing below app uses Gui or Widgets"
exit $status
