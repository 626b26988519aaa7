// Which web pages may drive the connector, by the origin their browser names at the handshake.
#include "channel/originpolicy.h"

OriginPolicy::OriginPolicy(const std::optional<QStringList> &allowedOrigins, Unknown unknown,
                           std::shared_ptr<OperatorDecisions> decided)
    : listed(allowedOrigins), unknown(unknown)
{
    if (decided)
        decisions = std::move(decided);
}

OriginPolicy::Verdict OriginPolicy::verdict(const QString &origin) const
{
    // Exact comparison: scheme, host and port must all match an entry.
    const bool isListed = listed && listed->contains(origin);
    if (!isListed && unknown == Unknown::Ask) {
        if (origin.isEmpty())
            return Verdict::Serve;
        if (origin == QLatin1String("null"))
            return Verdict::Refuse;
    }
    return consentVerdict(isListed, unknown, decisions->decision(OperatorDecisions::Subject::Origin, origin));
}

void OriginPolicy::decide(const QString &origin, bool allow, bool lasting)
{
    decisions->remember(OperatorDecisions::Subject::Origin, origin, allow, lasting);
}
