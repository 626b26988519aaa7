// Lets the operator review the decisions about page origins and application folders, and forget one.
#pragma once

#include <QDialog>

class Connector;
class QPushButton;
class QTreeWidget;

/// An accidental Block is undone here without editing a file: a forgotten origin or folder is asked about again.
class DecisionsDialog : public QDialog
{
    Q_OBJECT

public:
    DecisionsDialog(Connector *connector, QWidget *parent = nullptr);

    QTreeWidget *list() const { return entries; }
    QPushButton *forgetButton() const { return forget; }

    /// Shows the decisions as they are now.
    void refresh();

private:
    void forgetSelected();

    Connector *connector;
    QTreeWidget *entries;
    QPushButton *forget;
};
