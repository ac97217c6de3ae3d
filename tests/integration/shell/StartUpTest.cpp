// The start-with-Windows entry in Wine's real registry, with both Run keys
// pointed at scratch keys under HKCU (and once at the real ones).
#include "common/Handle.h"
#include "common/Main.h"
#include "common/Text.h"
#include "shell/mStartUp.h"
#include "support/Files.h"
#include "support/Registry.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <optional>
#include <string>

namespace {

const std::wstring kScratch = L"Software\\OrvelleTests\\Shell";

void Touch(const std::wstring& path, DWORD attributes = 0) {
    WriteFileBytes(path, "");
    if (attributes) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    }
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        reg::DeleteTree(HKEY_CURRENT_USER, kScratch);
        keys.machineHive = HKEY_CURRENT_USER;
        keys.machineKey = kScratch + L"\\Machine\\";
        keys.userHive = HKEY_CURRENT_USER;
        keys.userKey = kScratch + L"\\User";
        UniqueKey k;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keys.machineKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  k.put(), nullptr),
                  ERROR_SUCCESS);
        // A program folder with a blank in its path.
        folder = scratch.path() + L"\\Program Files";
        CreateDirectoryW(folder.c_str(), nullptr);
        folder += L"\\Orvelle";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }

    void TearDown() override {
        reg::DeleteTree(HKEY_CURRENT_USER, kScratch);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvelleTests");
    }

    std::optional<std::wstring> Machine(const std::wstring& name) {
        return reg::GetString(keys.machineHive, keys.machineKey, name);
    }
    std::optional<std::wstring> User(const std::wstring& name) { return reg::GetString(keys.userHive, keys.userKey, name); }
    size_t MachineValues() const { return reg::ValueNames(keys.machineHive, keys.machineKey).size(); }
    size_t UserValues() const { return reg::ValueNames(keys.userHive, keys.userKey).size(); }

    RunKeys keys;
    ScratchFolder scratch;
    std::wstring folder;
};

}  // namespace

TEST_F(StartUp, WritesTheQuotedPathUnderItsFileNameAndRemovesIt) {
    Touch(folder + L"\\orvelle.exe");
    Touch(folder + L"\\readme.txt");
    AddToStartup(folder, keys);
    // The folder has spaces: without quotes Windows would first try to run
    // "...\Program" with the rest as arguments.
    EXPECT_EQ(Machine(L"orvelle.exe"), L"\"" + folder + L"\\orvelle.exe\"");
    EXPECT_EQ(MachineValues(), 1u);
    EXPECT_EQ(UserValues(), 0u);

    // Ticking again writes the same value again.
    AddToStartup(folder, keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), L"\"" + folder + L"\\orvelle.exe\"");
    EXPECT_EQ(MachineValues(), 1u);

    RemoveFromStartup(folder, keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), std::nullopt);
    EXPECT_EQ(MachineValues(), 0u);
    // Removing what is already gone is silent.
    RemoveFromStartup(folder, keys);
}

TEST_F(StartUp, SeveralExeFilesAddAndRemoveTheSameOne) {
    for (const wchar_t* name : {L"b.exe", L"a.exe", L"c.EXE"}) Touch(folder + L"\\" + name);
    const std::wstring first = ProgramFileName(folder);
    ASSERT_TRUE(first == L"a.exe" || first == L"b.exe" || first == L"c.EXE") << ToUtf8(first);
    AddToStartup(folder, keys);
    EXPECT_EQ(MachineValues(), 1u);
    EXPECT_EQ(Machine(first), L"\"" + folder + L"\\" + first + L"\"");
    RemoveFromStartup(folder, keys);
    EXPECT_EQ(MachineValues(), 0u);
}

TEST_F(StartUp, HiddenSystemAndFolderExeDoNotCount) {
    Touch(folder + L"\\a-hidden.exe", FILE_ATTRIBUTE_HIDDEN);
    Touch(folder + L"\\b-system.exe", FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\c-folder.exe").c_str(), nullptr));
    Touch(folder + L"\\d-notes.exe.txt");
    // The attributes really are there (Wine keeps them beside the file).
    ASSERT_TRUE(GetFileAttributesW((folder + L"\\a-hidden.exe").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(GetFileAttributesW((folder + L"\\b-system.exe").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(ProgramFileName(folder), L"");

    // No program file: neither ticking nor unticking touches the registry.
    ASSERT_EQ(RegSetKeyValueW(keys.machineHive, keys.machineKey.c_str(), L"a-hidden.exe", REG_SZ, L"keep", 10),
              ERROR_SUCCESS);
    AddToStartup(folder, keys);
    EXPECT_EQ(MachineValues(), 1u);
    EXPECT_EQ(UserValues(), 0u);
    RemoveFromStartup(folder, keys);
    EXPECT_EQ(Machine(L"a-hidden.exe"), L"keep");

    // A plain one beside them is the program file.
    Touch(folder + L"\\e-plain.exe");
    EXPECT_EQ(ProgramFileName(folder), L"e-plain.exe");
}

TEST_F(StartUp, FolderAtADriveRootGetsNoDoubledBackslash) {
    const std::wstring file = L"C:\\OrvelleShellRootTest.exe";
    Touch(file);
    const std::wstring name = ProgramFileName(L"C:\\");
    AddToStartup(L"C:\\", keys);
    DeleteFileW(file.c_str());
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(Machine(name), L"\"C:\\" + name + L"\"");
}

TEST_F(StartUp, RefusedMachineKeyFallsBackToTheUsersRunKeyAndRemovalClearsBoth) {
    // The machine-wide key of a standard user: readable, not writable.
    // (Wine ignores a security descriptor given to RegCreateKeyEx, but
    // enforces one set afterwards.)
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KRSD;;;WD)", SDDL_REVISION_1, &sd, nullptr));
    UniqueKey machine;
    LONG rc = RegOpenKeyExW(keys.machineHive, keys.machineKey.c_str(), 0, WRITE_DAC, machine.put());
    if (rc == ERROR_SUCCESS) rc = RegSetKeySecurity(machine.get(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    UniqueKey probe;
    ASSERT_EQ(RegOpenKeyExW(keys.machineHive, keys.machineKey.c_str(), 0, kRunKeyAccess, probe.put()),
              ERROR_ACCESS_DENIED);

    Touch(folder + L"\\orvelle.exe");
    AddToStartup(folder, keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), std::nullopt);
    EXPECT_EQ(User(L"orvelle.exe"), L"\"" + folder + L"\\orvelle.exe\"");

    RemoveFromStartup(folder, keys);
    EXPECT_EQ(User(L"orvelle.exe"), std::nullopt);
}

TEST_F(StartUp, RemovalDeletesTheEntryFromBothKeys) {
    Touch(folder + L"\\orvelle.exe");
    ASSERT_EQ(RegSetKeyValueW(keys.userHive, keys.userKey.c_str(), L"orvelle.exe", REG_SZ, L"old", 8), ERROR_SUCCESS);
    AddToStartup(folder, keys);
    ASSERT_TRUE(Machine(L"orvelle.exe"));
    RemoveFromStartup(folder, keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), std::nullopt);
    EXPECT_EQ(User(L"orvelle.exe"), std::nullopt);
}

// The real keys, for the program's own folder (Wine lets this process write
// HKLM, as an administrator could).
TEST(StartUpDefault, EntersTheProgramFileInTheMachineRunKey) {
    const std::wstring name = ProgramFileName(ProgramFolder());
    ASSERT_FALSE(name.empty());
    AddToStartup();
    std::optional<std::wstring> data = reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, name);
    RemoveFromStartup();
    EXPECT_EQ(data, L"\"" + ProgramFolder() + L"\\" + name + L"\"");
    EXPECT_EQ(reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, name), std::nullopt);
    EXPECT_EQ(reg::GetString(HKEY_CURRENT_USER, kUserRunKey, name), std::nullopt);
}
