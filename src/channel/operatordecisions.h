// The operator's answers about page origins and application folders, kept across restarts.
#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

/// Kept in a small JSON file: {"allowed": [origin, ...], "blocked": [origin, ...], "allowed_folders": [folder, ...],
/// "blocked_folders": [folder, ...]}. A block for this run only is kept in memory and never written.
class OperatorDecisions
{
public:
    enum class Subject
    {
        Origin,
        Folder,
    };
    struct Entry
    {
        Subject subject = Subject::Origin;
        QString name;
        bool allowed = false;
        bool lasting = true; // false: a block for this run only
    };

    /// path empty: decisions are kept in memory only.
    explicit OperatorDecisions(const QString &path = QString());

    /// Reads the file; a damaged one is set aside beside it and logged, and no decision is known.
    void load();
    /// The decision about name: true allowed, false blocked, none when never decided (or forgotten).
    std::optional<bool> decision(Subject subject, const QString &name) const;
    /// Remembers a decision; a lasting one is written to the file atomically. False when the file could not be
    /// written (the decision then holds until the connector ends).
    bool remember(Subject subject, const QString &name, bool allowed, bool lasting = true);
    /// Forgets the decision about name, so it is asked about again; false when the file could not be written.
    bool forget(Subject subject, const QString &name);
    /// Every decision, origins first, each kind sorted by name.
    QList<Entry> entries() const;

private:
    struct Kept
    {
        QSet<QString> allowed;
        QSet<QString> blocked;
        QSet<QString> blockedForNow;
    };

    Kept &kept(Subject subject) { return subject == Subject::Origin ? origins : folders; }
    const Kept &kept(Subject subject) const { return subject == Subject::Origin ? origins : folders; }
    bool write() const;

    QString path;
    Kept origins;
    Kept folders;
};
