// Elsewhere there are no drive letters; a network share mounted into the tree looks like any folder.
#include "platform/remotedrive.h"

bool isRemoteDrive(const QString &)
{
    return false;
}
