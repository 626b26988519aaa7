// Lets the operator review the decisions about page origins and application folders, and forget one.
#include "app/decisionsdialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "connector/connector.h"

namespace {

constexpr int subjectRole = Qt::UserRole;
constexpr int nameRole = Qt::UserRole + 1;

} // namespace

DecisionsDialog::DecisionsDialog(Connector *connector, QWidget *parent)
    : QDialog(parent), connector(connector), entries(new QTreeWidget(this)),
      forget(new QPushButton(QStringLiteral("&Forget"), this))
{
    setWindowTitle(QStringLiteral("SANvero Connector: decisions"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("The pages and folders you allowed or blocked. A forgotten decision is "
                                            "asked about again the next time a page needs it."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    entries->setColumnCount(3);
    entries->setHeaderLabels({QStringLiteral("Decision"), QStringLiteral("About"), QStringLiteral("Name")});
    entries->setRootIsDecorated(false);
    entries->setWordWrap(true);
    entries->header()->setStretchLastSection(true);
    entries->setMinimumSize(560, 240);
    layout->addWidget(entries);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(forget, QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(forget, &QPushButton::clicked, this, &DecisionsDialog::forgetSelected);
    connect(entries, &QTreeWidget::itemSelectionChanged, this,
            [this] { forget->setEnabled(!entries->selectedItems().isEmpty()); });
    refresh();
}

void DecisionsDialog::refresh()
{
    entries->clear();
    const QList<OperatorDecisions::Entry> decisions = connector->decisions();
    for (const OperatorDecisions::Entry &decision : decisions) {
        const bool origin = decision.subject == OperatorDecisions::Subject::Origin;
        auto *item = new QTreeWidgetItem(entries, {decision.allowed   ? QStringLiteral("Allowed")
                                                   : decision.lasting ? QStringLiteral("Blocked")
                                                                      : QStringLiteral("Blocked until restart"),
                                                   origin ? QStringLiteral("Page origin") : QStringLiteral("Folder"),
                                                   decision.name});
        item->setData(0, subjectRole, int(decision.subject));
        item->setData(0, nameRole, decision.name);
        item->setToolTip(2, decision.name);
    }
    entries->resizeColumnToContents(0);
    entries->resizeColumnToContents(1);
    forget->setEnabled(false);
}

void DecisionsDialog::forgetSelected()
{
    const QList<QTreeWidgetItem *> selected = entries->selectedItems();
    for (const QTreeWidgetItem *item : selected)
        connector->forgetDecision(OperatorDecisions::Subject(item->data(0, subjectRole).toInt()),
                                  item->data(0, nameRole).toString());
    refresh();
}
