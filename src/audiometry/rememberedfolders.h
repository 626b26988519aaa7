// What the connector remembers across a restart of the exchange folders in which exams wait for results.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// One folder, with no patient value: only whether the exam of the request file there still waits and
/// whether exams it replaced may still get a result.
struct RememberedFolder
{
    QString exchangeFolder;
    bool requestAwaited = false;
    bool earlierExamsAwaited = false;
};

/// The file's content: {"waiting_exams": [{"exchange_folder": text, "request": bool, "earlier_exams": bool}]}.
QByteArray rememberedFoldersJson(const QList<RememberedFolder> &folders);

/// The folders of such a file; entries not of that form (or naming no absolute folder) are left out, and
/// anything that is no such file remembers nothing.
QList<RememberedFolder> parseRememberedFolders(const QByteArray &json);
