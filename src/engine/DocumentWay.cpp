#include "engine/DocumentWay.h"

WayDecision DecideWay(const WayFacts& facts) {
    // A document Word says is saved, unchanged on disk since its last backup.
    if (facts.fileUnchanged && facts.savedInWord && facts.onDisk) return {Way::None};
    // Its file is plain where Word holds a recovered copy: such content
    // leaves Word only encrypted.
    if (facts.packageWay && facts.savedInWord && facts.onDisk && facts.packageName && !facts.plainCopy &&
        !facts.fileUnreadable)
        return {Way::File};
    if (!facts.protection) return {Way::Protection};
    Protection protection = *facts.protection;
    if (protection == Protection::Closed) return {Way::None};
    // Rights management's outranks a password.
    if (facts.plainOfRightsManaged) protection = Protection::RightsManaged;
    else if (facts.plainCopy && protection == Protection::None) protection = Protection::Password;
    if (protection == Protection::RightsManaged) return {Way::None, false, RunNote::RightsManaged};
    const bool package = facts.packageWay && !facts.packageUnreadable;
    if (protection == Protection::Password && !package) return {Way::None, false, RunNote::PasswordProtected};
    if (package) return {Way::Package, protection == Protection::Password};
    return {Way::Classic};
}
