// Asks the operator whether a web page from an unknown origin may drive the connector.
#include "app/originprompt.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

OriginPrompt::OriginPrompt(QObject *parent) : QObject(parent) {}

QString OriginPrompt::boxTitle()
{
    return QStringLiteral("SANvero Connector");
}

QString OriginPrompt::boxText(const QString &origin)
{
    return QStringLiteral("A web page from\n\n%1\n\nwants to control the SANvero Connector: register patients, write "
                          "exam requests and start programs on this workstation.\n\nMay this page control the "
                          "connector?")
        .arg(origin);
}

void OriginPrompt::ask(const QString &origin)
{
    if (open.contains(origin))
        return;
    open.insert(origin);

    // Without a parent: the window it would belong to is minimised, and the box must be seen.
    auto *box = new QMessageBox(QMessageBox::Question, boxTitle(), boxText(origin));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    // The origin is the page's own text: shown as it is, never interpreted as markup.
    box->setTextFormat(Qt::PlainText);
    QPushButton *allow = box->addButton(QStringLiteral("&Allow"), QMessageBox::AcceptRole);
    QPushButton *block = box->addButton(QStringLiteral("&Block"), QMessageBox::RejectRole);
    // A stray Return or Escape never lets a page in.
    box->setDefaultButton(block);
    box->setEscapeButton(block);
    connect(box, &QMessageBox::finished, this, [this, box, allow, origin] {
        open.remove(origin);
        emit decided(origin, box->clickedButton() == allow);
    });
    box->installEventFilter(this);
    box->setModal(false);
    box->show();
}

bool OriginPrompt::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool letter = key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z;
    return letter && !(key->modifiers() & Qt::AltModifier);
}
