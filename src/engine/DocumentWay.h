#pragma once
// Which way a document's backup goes, and why it gets none: decided from
// what the run knows of the document, without Word.
#include "engine/ProtectedContent.h"

#include <optional>

// What the status frame says after a run: why a document got no backup, or
// why it went elsewhere than asked.  In the order of precedence.
enum class RunNote {
    WordDidNotAnswer,        // a Word's documents were left for the next run
    NotEnoughSpace,          // reported once per folder, then noted
    FolderRefusedWriting,    // likewise
    RightsManaged,           // never copied, by either way
    PasswordProtected,       // only the clipboard could copy it: not done
    WebDocumentInLocation,   // a document on the web went to the chosen location
};

enum class Way {
    File,        // its saved package's file, as it stands
    Package,     // Word's package of it (WordOpenXML)
    Classic,     // through the clipboard into a Word of our own
    Protection,  // Word must first say what protects it
    None,        // no backup
};

// What the run knows of a document so far.
struct WayFacts {
    bool packageWay = true;      // Word 2007 or later, and Clipboard Copy off
    bool savedInWord = false;    // Word's Saved
    bool onDisk = false;         // saved to a file, not on the web
    bool packageName = false;    // .docx, .docm, .dotx, .dotm
    bool fileUnchanged = false;  // saved, its file as at its last backup, and unchanged ones skipped
    bool plainCopy = false;      // a recovered copy of a protected backup, or Word's comparison with one
    bool plainOfRightsManaged = false;  // Word's comparison with a rights-managed document
    std::optional<Protection> protection;  // none until Word was asked
    bool fileUnreadable = false;     // its file could not be read as it stands
    bool packageUnreadable = false;  // Word would not give its package
};

struct WayDecision {
    Way way = Way::None;
    bool encrypted = false;        // a package only encrypted
    std::optional<RunNote> note;   // why none, for the status frame
    bool operator==(const WayDecision&) const = default;
};

// A saved package is its file; any other document needs its protection
// known: a rights-managed one gets no backup, a password-protected one
// (or a plain copy of a protected backup) only an encrypted package, which
// the classic way cannot make.  A package Word will not give goes the
// classic way.
WayDecision DecideWay(const WayFacts& facts);
