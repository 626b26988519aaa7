// What the operator's consent decides for a page origin or an application folder.
#pragma once

#include <optional>

/// What happens to an origin or a folder that is neither listed in the configuration nor decided.
enum class UnknownPolicy
{
    Ask,    // the operator decides; the work waits
    Refuse, // refused without asking
    Allow,  // served, as everything once was
};

enum class ConsentVerdict
{
    Serve,
    Refuse,
    Ask,
};

/// Listed is served. Under "allow" everything is, under "refuse" nothing else is; the operator's decisions count
/// only where the operator is asked, and an undecided one is asked about.
inline ConsentVerdict consentVerdict(bool listed, UnknownPolicy unknown, std::optional<bool> decided)
{
    if (listed || unknown == UnknownPolicy::Allow)
        return ConsentVerdict::Serve;
    if (unknown == UnknownPolicy::Refuse)
        return ConsentVerdict::Refuse;
    if (decided)
        return *decided ? ConsentVerdict::Serve : ConsentVerdict::Refuse;
    return ConsentVerdict::Ask;
}
