// Which way each kind of document goes, and why none: the run's decision
// without Word.
#include "engine/DocumentWay.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kNone = Protection::None, kPassword = Protection::Password, kRights = Protection::RightsManaged;

WayFacts Saved(bool packageName = true) { return {.savedInWord = true, .onDisk = true, .packageName = packageName}; }
WayFacts With(WayFacts facts, std::optional<Protection> protection, bool packageWay = true) {
    facts.protection = protection;
    facts.packageWay = packageWay;
    return facts;
}

}  // namespace

TEST(DecideWay, EachKindOfDocumentGoesItsWay) {
    WayFacts web = Saved(), unsaved = Saved(), neverSaved = {}, plain = Saved(), unchanged = Saved(false),
             unreadable = Saved();
    web.onDisk = false;
    unsaved.savedInWord = false;
    plain.plainCopy = true;
    WayFacts rightsComparison = plain;
    rightsComparison.plainOfRightsManaged = true;
    unchanged.fileUnchanged = true;
    unreadable.fileUnreadable = true;
    WayFacts refused = With(neverSaved, kNone), refusedLocked = With(neverSaved, kPassword);
    refused.packageUnreadable = refusedLocked.packageUnreadable = true;
    const struct {
        const char* what;
        WayFacts facts;
        WayDecision decision;
    } cases[] = {
        {"saved package on disk", Saved(), {Way::File}},
        {"its file not readable as it stands", unreadable, {Way::Protection}},
        {"saved on the web", web, {Way::Protection}},
        {"saved on the web, not protected", With(web, kNone), {Way::Package}},
        {"unsaved changes", With(unsaved, kNone), {Way::Package}},
        {"never saved", With(neverSaved, kNone), {Way::Package}},
        {"saved .txt", With(Saved(false), kNone), {Way::Package}},
        {"saved .txt unchanged since its backup", unchanged, {Way::None}},
        {"password", With(unsaved, kPassword), {Way::Package, true}},
        {"password, classic mode", With(unsaved, kPassword, false), {Way::None, false, RunNote::PasswordProtected}},
        {"rights-managed", With(unsaved, kRights), {Way::None, false, RunNote::RightsManaged}},
        {"closed meanwhile", With(unsaved, Protection::Closed), {Way::None}},
        {"recovered plain copy: never its file", plain, {Way::Protection}},
        {"recovered plain copy", With(plain, kNone), {Way::Package, true}},
        {"comparison with a rights-managed document", With(rightsComparison, kNone), {Way::None, false, RunNote::RightsManaged}},
        {"recovered plain copy, classic mode", With(plain, kNone, false), {Way::None, false, RunNote::PasswordProtected}},
        {"classic mode", With(Saved(), kNone, false), {Way::Classic}},
        {".doc in Word 2003", With(Saved(false), kNone, false), {Way::Classic}},
        {"package Word will not give", refused, {Way::Classic}},
        {"package Word will not give, password", refusedLocked, {Way::None, false, RunNote::PasswordProtected}},
    };
    for (const auto& c : cases) {
        const WayDecision decision = DecideWay(c.facts);
        EXPECT_EQ(decision.way, c.decision.way) << c.what;
        EXPECT_EQ(decision, c.decision) << c.what;
    }
}
