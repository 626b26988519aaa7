// One connector per session: the claim a second start finds taken.
#pragma once

#include <QString>

/// Claims the operator's session for this connector while the object lives: on Windows a mutex in the session's
/// own namespace ("Local\SANvero Connector"), elsewhere a lock on "connector.lock" in dataFolder (the per-user data
/// folder). The system drops the claim when the process ends, however it ends. Programs the connector starts do not
/// inherit it.
class SessionClaim
{
public:
    explicit SessionClaim(const QString &dataFolder);
    ~SessionClaim();
    SessionClaim(const SessionClaim &) = delete;
    SessionClaim &operator=(const SessionClaim &) = delete;

    /// False when another connector of this session holds the claim. A claim the system could not make at all (no
    /// data folder) counts as held, so the connector still runs, and says why in the log.
    bool held() const { return claimed; }

private:
    bool claimed = false;
#ifdef Q_OS_WIN
    void *handle = nullptr; // the mutex
#else
    int descriptor = -1; // the open lock file
#endif
};
