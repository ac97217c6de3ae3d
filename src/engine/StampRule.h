#pragma once
// The rule a backup's file name meets, read once per user locale: the
// pruning and the backups catalogue both ask it, so a name qualifies for
// the one exactly when it does for the other.
#include <optional>
#include <string>
#include <string_view>

class StampRule {
public:
    StampRule();  // the user's month names and designators, as BuildBackupName writes them

    // True when fileName is stem, " Date ", the date and time stamp, an
    // optional " (n)" and extension.  number gets n, 0 without one.
    bool isStamped(std::wstring_view fileName, std::wstring_view stem, std::wstring_view extension,
                   int* number = nullptr) const;
    // The stem of a new-file mode name with this extension, if it is one.
    std::optional<std::wstring_view> stampedStem(std::wstring_view fileName, std::wstring_view extension,
                                                 int* number = nullptr) const;
    // The stem of an overwrite mode name: stem, " ", the date stamp, an
    // optional " (n)" and extension.
    std::optional<std::wstring_view> dayStem(std::wstring_view fileName, std::wstring_view extension,
                                             int* number = nullptr) const;

private:
    bool takeDate(std::wstring_view name, size_t& pos) const;
    static bool takeEnd(std::wstring_view name, size_t pos, std::wstring_view extension, int* number);

    std::wstring months_[12];
    std::wstring am_, pm_;
};
