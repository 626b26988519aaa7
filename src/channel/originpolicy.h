// Which web pages may drive the connector, by the origin their browser names at the handshake.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "channel/operatordecisions.h"
#include "protocol/consent.h"

class OriginPolicy
{
public:
    using Unknown = UnknownPolicy;
    using Verdict = ConsentVerdict;

    /// Every page is served.
    OriginPolicy() = default;
    /// decisions: the operator's, shared with whoever else asks the operator; none keeps them in memory.
    OriginPolicy(const std::optional<QStringList> &allowedOrigins, Unknown unknown,
                 std::shared_ptr<OperatorDecisions> decisions);

    /// Listed origins are served. Under "refuse" nothing else is; under "allow" everything is. Under "ask",
    /// a handshake without an Origin header (a local program, not a browser) is served, the origin "null"
    /// (local files, sandboxed frames) is refused without asking, a decided origin as decided, and any
    /// other is asked about.
    Verdict verdict(const QString &origin) const;
    /// Remembers the operator's decision about origin; not lasting: a block for this run only.
    void decide(const QString &origin, bool allow, bool lasting = true);

private:
    std::optional<QStringList> listed;
    Unknown unknown = Unknown::Allow;
    std::shared_ptr<OperatorDecisions> decisions = std::make_shared<OperatorDecisions>();
};
