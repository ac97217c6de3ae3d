// Run under a double-byte ANSI code page (Japanese, 932).
#include "common/Text.h"
#include "shell/cSysTray.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TrayRecordDbcs, CutNeverSplitsADoubleByteCharacter) {
    ASSERT_EQ(GetACP(), 932u);
    // Two single bytes, then two-byte characters: after 62 of them 126 bytes
    // are used and the next one would leave no room for the NUL.
    const std::wstring tip = L"ab" + std::wstring(100, L'\u65e5');
    char field[128];
    CopyAnsiField(field, sizeof field, tip);
    EXPECT_EQ(std::strlen(field), 126u);
    EXPECT_EQ(FromAnsi(field), L"ab" + std::wstring(62, L'\u65e5'));

    const std::wstring even = L"a" + std::wstring(100, L'\u65e5');
    CopyAnsiField(field, sizeof field, even);
    EXPECT_EQ(std::strlen(field), 127u);
    EXPECT_EQ(FromAnsi(field), L"a" + std::wstring(63, L'\u65e5'));
}
