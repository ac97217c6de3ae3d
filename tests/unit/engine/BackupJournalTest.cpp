// The journal of which document each backup is of: its lines, its file as
// two processes and a crash leave it, and the names it lets a document take.
#include "common/Text.h"
#include "engine/BackupJournal.h"
#include "engine/BackupName.h"
#include "support/Files.h"

#include "support/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

JournalRecord Saved(const std::wstring& fullName, const std::wstring& path, std::uint64_t size = 1) {
    return {{fullName}, fullName.substr(fullName.find_last_of(L'\\') + 1), path, 1000, size};
}

}  // namespace

TEST(BackupJournal, LinesGiveBackTheirRecordAndNothingElseCounts) {
    JournalRecord unsaved{{L"Document1", true, {4242, 133'000'000'000'000'000}}, L"Document1",
                          L"C:\\B\\Document1 Dec 8 2026.docx", 7, 12, 5, UnsavedChanges::Yes};
    JournalRecord odd = Saved(L"C:\\\u65e5\u672c\\100%\tx\nReport.docx", L"C:\\B\\%41 \u0410.docx"), gone = odd;
    gone.deleted = true;
    for (const JournalRecord& r : {unsaved, odd, gone}) {
        const std::string line = FormatJournalLine(r);
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        const std::optional<JournalRecord> back = ParseJournalLine(line.substr(0, line.size() - 1));
        ASSERT_TRUE(back && back->document.key() == r.document.key()) << line;
        EXPECT_EQ(FormatJournalLine(*back), line);
        // Cut off anywhere, or run into another: not a record.
        for (size_t cut = 0; cut + 1 < line.size(); ++cut) EXPECT_FALSE(ParseJournalLine(line.substr(0, cut))) << cut;
        EXPECT_FALSE(ParseJournalLine(line.substr(0, line.size() - 1) + "\t$"));
    }
    // Document1 of the same Word started again later is another document; a
    // saved one's name counts without regard to case.
    DocumentIdentity later = unsaved.document;
    later.process.started += 1;
    EXPECT_NE(later.key(), unsaved.document.key());
    EXPECT_EQ(DocumentIdentity{L"c:\\work\\report.docx"}.key(), DocumentIdentity{L"C:\\Work\\Report.docx"}.key());
}

TEST(BackupJournal, TwoWritersATornLineAndCompaction) {
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"Orvelle\\Backups.journal");
    BackupJournal one(file), two(file);
    const std::wstring a = scratch.write(L"a.docx", L"a"), b = scratch.write(L"b.docx", L"b");
    one.record(Saved(L"C:\\W\\A.docx", a));
    // A crash in the middle of a line: it is skipped, and the next record is whole.
    one.release();
    WriteFileBytes(file, ReadFileBytes(file) + FormatJournalLine(Saved(L"C:\\W\\B.docx", b)).substr(0, 30));
    two.record(Saved(L"C:\\W\\B.docx", b));
    one.refresh();
    for (BackupJournal* j : {&one, &two})
        EXPECT_TRUE(j->owns({L"c:\\w\\a.docx"}, a) && j->owns({L"C:\\W\\B.docx"}, b) && !j->owns({L"C:\\W\\B.docx"}, a));
    // A file changed since (the user saved over it) is no longer the backup.
    WriteUtf8File(b, L"kept saving");
    EXPECT_FALSE(one.owns({L"C:\\W\\B.docx"}, b));

    // Mostly lines of backups that are gone: rewritten with the rest, which
    // every reader still finds.
    for (int i = 0; i < 40; ++i) one.record(Saved(L"C:\\W\\C.docx", scratch.file(L"gone.docx")));
    one.recordDeleted(std::vector<std::wstring>(30, scratch.file(L"gone.docx")));
    const size_t before = ReadFileBytes(file).size();
    two.release();  // the other Orvelle between two runs
    one.compactIfMostlyGone();
    EXPECT_LT(ReadFileBytes(file).size(), before / 10);
    two.record(Saved(L"C:\\W\\D.docx", scratch.write(L"d.docx", L"d")));
    BackupJournal fresh(file);
    for (BackupJournal* j : {&one, &fresh}) {
        j->refresh();
        EXPECT_TRUE(j->owns({L"C:\\W\\A.docx"}, a) && j->owns({L"C:\\W\\D.docx"}, scratch.file(L"d.docx")));
        EXPECT_TRUE(!j->find(scratch.file(L"gone.docx")) && j->lines() == 2u);
    }
}

// Compaction drops a record only when its folder answers and the file there
// is gone or another: a folder that cannot be read (a stick taken out, a
// drive not there) keeps its records, which own their files once it is back.
TEST(BackupJournal, CompactionKeepsWhatItCannotSee) {
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"Backups.journal"), stick = scratch.file(L"Stick");
    CreateDirectoryW(stick.c_str(), nullptr);
    const struct {
        std::wstring path;
        std::uint64_t size;
        bool kept;
    } rows[] = {{scratch.write(L"there.docx", L"x"), 1, true},
                {scratch.write(L"resized.docx", L"xx"), 1, false},
                {scratch.file(L"gone.docx"), 1, false},
                {scratch.write(L"Stick\\out.docx", L"x"), 1, true},
                {L"Q:\\Backups\\no drive.docx", 1, true}};
    BackupJournal journal(file);
    for (const auto& row : rows)
        journal.record(Saved(L"C:\\W\\" + row.path.substr(row.path.size() - 8), row.path, row.size));
    journal.recordDeleted(std::vector<std::wstring>(70, scratch.file(L"old.docx")));
    const std::wstring away = scratch.file(L"Stick away");
    ASSERT_TRUE(MoveFileW(stick.c_str(), away.c_str()));
    journal.compactIfMostlyGone();
    ASSERT_TRUE(MoveFileW(away.c_str(), stick.c_str()));
    BackupJournal fresh(file);
    fresh.refresh();
    EXPECT_EQ(fresh.lines(), 3u);
    for (const auto& row : rows) EXPECT_EQ(fresh.find(row.path).has_value(), row.kept) << row.path;
    EXPECT_TRUE(fresh.owns({L"C:\\W\\out.docx"}, rows[3].path));
}

// Another Orvelle may append, or compact and append, between this one's
// read and its rewrite: its line stays.
TEST(BackupJournal, CompactionKeepsLinesAppendedSinceItsRead) {
    for (bool otherCompacts : {false, true}) {
        ScratchFolder scratch;
        const std::wstring file = scratch.file(L"Backups.journal"), kept = scratch.write(L"kept.docx", L"k");
        BackupJournal one(file), two(file);
        one.record(Saved(L"C:\\W\\K.docx", kept));
        one.recordDeleted(std::vector<std::wstring>(70, scratch.file(L"old.docx")));
        one.release();  // read, and about to compact
        two.refresh();
        if (otherCompacts) two.compactIfMostlyGone();
        const std::wstring theirs = scratch.write(L"theirs.docx", L"t");
        two.record(Saved(L"C:\\W\\T.docx", theirs));
        two.release();
        one.compactIfMostlyGone();
        BackupJournal fresh(file);
        fresh.refresh();
        EXPECT_TRUE(fresh.owns({L"C:\\W\\T.docx"}, theirs) && fresh.owns({L"C:\\W\\K.docx"}, kept)) << otherCompacts;
        EXPECT_EQ(fresh.lines(), 2u) << otherCompacts;
    }
}

// Another Orvelle appends, and compacts now and then, while this one
// appends and compacts again and again: none of their lines is lost (two
// appends at once lost one in a few hundred under Wine).
TEST(BackupJournal, CompactionKeepsLinesAppendedWhileItWorks) {
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"Backups.journal");
    const std::vector<std::wstring> old(20, scratch.file(L"old.docx"));
    auto backup = [&](const std::wstring& name) {
        return Saved(L"C:\\W\\" + name, scratch.write(name + L".docx", L"x"));
    };
    std::vector<JournalRecord> ours, theirs;
    for (int i = 0; i < 40; ++i) (i % 2 ? theirs : ours).push_back(backup(L"R" + std::to_wstring(i)));
    BackupJournal one(file);
    for (const JournalRecord& r : ours) one.record(r);
    std::atomic<bool> done{false};
    Thread other([&] {
        BackupJournal two(file);
        for (size_t i = 0; i < theirs.size(); ++i) {
            two.record(theirs[i]);
            two.recordDeleted({old.begin(), old.begin() + 3});
            i % 5 == 4 ? two.compactIfMostlyGone() : two.release();
        }
        done = true;
    });
    while (!done) {
        one.recordDeleted(old);
        one.compactIfMostlyGone();
    }
    other.join();
    BackupJournal fresh(file);
    fresh.refresh();
    for (const auto* records : {&ours, &theirs})
        for (const JournalRecord& r : *records) EXPECT_TRUE(fresh.owns(r.document, r.path)) << r.path;
    EXPECT_LT(fresh.lines(), 300u);  // compacted on the way
}

TEST(BackupJournal, ADocumentTakesItsOwnNameOrTheFirstFreeOneAndLeavesOthersAlone) {
    ScratchFolder scratch;
    BackupJournal journal(scratch.file(L"Backups.journal"));
    const std::wstring base = scratch.file(L"R Dec 8 2026.docx");
    auto numbered = [&](int n) { return NumberedPath(base, L".docx", n); };
    const DocumentIdentity mine{L"C:\\Work\\R"}, theirs{L"C:\\Home\\R"};
    EXPECT_EQ(ClaimBackupPath(journal, mine, base, L".docx", {}), base);  // free
    WriteUtf8File(base, L"x");                                            // the user's own file
    EXPECT_EQ(ClaimBackupPath(journal, mine, base, L".docx", {}), numbered(2));
    for (int n : {2, 3}) WriteUtf8File(numbered(n), L"x"), journal.record(Saved(n == 2 ? L"C:\\Home\\R" : L"C:\\Work\\R", numbered(n)));
    EXPECT_EQ(ClaimBackupPath(journal, mine, base, L".docx", {}), numbered(3));
    EXPECT_EQ(ClaimBackupPath(journal, theirs, base, L".docx", {}), numbered(2));
    // Its own held, or given to another document in this run: the next free one.
    EXPECT_EQ(ClaimBackupPath(journal, mine, base, L".docx", {UpperCase(numbered(3))}), numbered(4));
}
