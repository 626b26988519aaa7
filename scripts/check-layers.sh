#!/bin/sh
# Checks that includes of our own headers only point down the layers:
#   protocol, platform -> nothing of ours
#   audiometry, polysomnography, update -> protocol, platform (and their own folder)
#   channel -> protocol, platform
#   app -> everything
# and that nothing below app includes Qt Widgets.
set -u
cd "$(dirname "$0")/../src"
status=0
allowed() {
    case $1 in
    protocol | platform) echo "" ;;
    audiometry | polysomnography | update) echo "protocol platform" ;;
    channel) echo "protocol platform" ;;
    app) echo "protocol platform audiometry polysomnography update channel" ;;
    esac
}
for layer in protocol platform audiometry polysomnography update channel; do
    ok="$layer $(allowed "$layer")"
    for file in "$layer"/*; do
        for target in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' "$file"); do
            case " $ok " in
            *" $target "*) ;;
            *) echo "layers: $file includes $target/"; status=1 ;;
            esac
        done
        if grep -Eq '#[[:space:]]*include[[:space:]]*<(QtWidgets/)?Q(Widget|MessageBox|Application|MainWindow|Label|DesktopServices)\b' "$file"; then
            echo "layers: $file uses Widgets or Gui"
            status=1
        fi
    done
done
[ $status = 0 ] && echo "layers: includes point down"
exit $status
