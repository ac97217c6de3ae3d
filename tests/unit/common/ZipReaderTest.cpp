// A part of a package, which may be anything a backup folder holds: read
// only within plausible sizes, never past its declared size, in pieces.
#include "common/Failure.h"
#include "common/Zip.h"
#include "common/ZipReader.h"

#include <gtest/gtest.h>

TEST(ZipReader, AnEntryIsReadWithinItsDeclaredSizesAndNoFurther) {
    std::string text;
    for (int n = 0; text.size() < (1 << 20); ++n)
        text += "<w:p><w:r><w:t>line " + std::to_string(n) + "</w:t></w:r></w:p>";
    const std::string zeros(8 << 20, '\0');
    ZipWriter zip;
    zip.add("word/document.xml", text);
    zip.add("zeros", zeros);  // deflate at its best: about 1,028 to 1
    zip.add("stored", text, true);
    const std::string archive = zip.finish();
    const std::vector<ZipEntry> entries = ReadZipDirectory(archive);
    auto changed = [&](size_t i, auto change) {
        ZipEntry e = entries[i];
        change(e);
        return e;
    };
    const std::wstring tooLarge = L"A part of the package is too large to be read.",
                       damaged = L"The file is not a Word package (ZIP), or it is damaged.";
    const struct {
        const char* what;
        ZipEntry entry;
        std::wstring failure;
    } rows[] = {
        {"deflated", entries[0], L""},
        {"zeros", entries[1], L""},
        {"stored", entries[2], L""},
        {"declared over the cap", changed(0, [](ZipEntry& e) { e.size = kLargestZipEntry + 1; }), tooLarge},
        {"more than deflate makes of it", changed(1, [](ZipEntry& e) { e.size = e.compressedSize * 1100; }), tooLarge},
        {"declared smaller than its stream", changed(0, [](ZipEntry& e) { e.size -= 1; }), damaged},
        {"declared larger than its stream", changed(0, [](ZipEntry& e) { e.size += 1; }), damaged},
        {"stream cut short", changed(0, [](ZipEntry& e) { e.compressedSize /= 2; }), damaged},
        {"CRC-32 of other bytes", changed(1, [](ZipEntry& e) { e.crc ^= 1; }), damaged},
        {"stored, sizes differ", changed(2, [](ZipEntry& e) { e.size -= 1; }), damaged},
    };
    for (const auto& row : rows) {
        std::string read;
        size_t largest = 0;
        std::wstring failure;
        try {
            ReadZipEntryPieces(archive, row.entry, [&](std::string_view piece) {
                read += piece;
                largest = std::max(largest, piece.size());
            });
        } catch (const Failure& f) {
            failure = f.description();
        }
        EXPECT_EQ(failure, row.failure) << row.what;
        EXPECT_LE(read.size(), row.entry.size) << row.what;
        EXPECT_LE(largest, 64u * 1024) << row.what;
        if (row.failure.empty()) EXPECT_TRUE(read == (&row.entry == &rows[1].entry ? zeros : text)) << row.what;
    }
}
