// The box in which the operator decides whether a page may drive the connector or use a folder.
#include "app/consentbox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// About this many average characters to a line, less on a narrow screen.
constexpr int lineCharacters = 64;

} // namespace

ConsentBox::ConsentBox(const QStringList &paragraphs, int inputDelayMs)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      allow(new QPushButton(QStringLiteral("&Allow"), this)), block(new QPushButton(QStringLiteral("&Block"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title());
    setModal(false);

    const QFontMetrics metrics = fontMetrics();
    int width = metrics.averageCharWidth() * lineCharacters;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        width = qMin(width, screen->availableGeometry().width() * 3 / 4);

    auto *layout = new QVBoxLayout(this);
    for (int i = 0; i < paragraphs.size(); ++i) {
        auto *label = new QLabel(this);
        // The page's text is shown as it is, never read as markup.
        label->setTextFormat(Qt::PlainText);
        if (i % 2 == 0) {
            label->setText(paragraphs.at(i));
            label->setWordWrap(true);
            label->setFixedWidth(width);
        } else {
            QFont bold = label->font();
            bold.setBold(true);
            label->setFont(bold);
            label->setText(brokenLines(visible(paragraphs.at(i)), QFontMetrics(bold), width).join(QLatin1Char('\n')));
            label->setMinimumWidth(width);
            names.append(label);
        }
        layout->addWidget(label);
    }

    // Keyboard navigation reaches Block only: Allow never takes focus, and is never a default button.
    allow->setFocusPolicy(Qt::NoFocus);
    allow->setAutoDefault(false);
    block->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(allow);
    buttons->addWidget(block);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    for (QObject *watched :
         {static_cast<QObject *>(this), static_cast<QObject *>(allow), static_cast<QObject *>(block)})
        watched->installEventFilter(this);

    allow->setEnabled(false);
    block->setEnabled(false);
    armTimer.setSingleShot(true);
    armTimer.setInterval(inputDelayMs);
    connect(&armTimer, &QTimer::timeout, this, &ConsentBox::arm);
    connect(allow, &QPushButton::clicked, this, [this] { finish(Answer::Allow); });
    connect(block, &QPushButton::clicked, this, [this] { finish(Answer::Block); });
    connect(this, &QDialog::rejected, this, [this] { finish(Answer::BlockForNow); });
}

QString ConsentBox::title()
{
    return QStringLiteral("SANvero Connector");
}

QString ConsentBox::visible(const QString &name)
{
    QString shown;
    for (const QChar c : name) {
        const bool hidden = c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                            c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        if (hidden)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QStringList ConsentBox::brokenLines(const QString &name, const QFontMetrics &metrics, int width)
{
    QStringList lines;
    QString line;
    for (int i = 0; i < name.size(); ++i) {
        // A surrogate pair stays together.
        const int length = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const QString character = name.mid(i, length);
        i += length - 1;
        if (!line.isEmpty() && metrics.horizontalAdvance(line + character) > width) {
            lines.append(line);
            line.clear();
        }
        line += character;
    }
    if (!line.isEmpty() || lines.isEmpty())
        lines.append(line);
    return lines;
}

void ConsentBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Input counts only from a second after the box appeared: a click or key meant for what was there before
    // (the page can time its question) lands on disabled buttons.
    allow->setEnabled(false);
    block->setEnabled(false);
    armTimer.start();
}

void ConsentBox::arm()
{
    allow->setEnabled(true);
    block->setEnabled(true);
    block->setFocus();
}

bool ConsentBox::eventFilter(QObject *watched, QEvent *event)
{
    // Arrow keys would move between the buttons; here they do nothing at all.
    if (event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ConsentBox::finish(Answer answer)
{
    if (done)
        return;
    done = true;
    emit answered(answer);
    close();
}
