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
    const std::wstring program = folder + L"\\orvelle.exe";
    AddToStartup(program, keys);
    // The folder has spaces: without quotes Windows would first try to run
    // "...\Program" with the rest as arguments.
    EXPECT_EQ(Machine(L"orvelle.exe"), L"\"" + program + L"\"");
    EXPECT_EQ(MachineValues(), 1u);
    EXPECT_EQ(UserValues(), 0u);

    // Ticking again writes the same value again.
    AddToStartup(program, keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), L"\"" + program + L"\"");
    EXPECT_EQ(MachineValues(), 1u);

    RemoveFromStartup(program, keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), std::nullopt);
    EXPECT_EQ(MachineValues(), 0u);
    // Removing what is already gone is silent.
    RemoveFromStartup(program, keys);

    // At a drive root: no doubled backslash.
    AddToStartup(L"C:\\Orvelle.exe", keys);
    EXPECT_EQ(Machine(L"Orvelle.exe"), L"\"C:\\Orvelle.exe\"");
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

    AddToStartup(folder + L"\\orvelle.exe", keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), std::nullopt);
    EXPECT_EQ(User(L"orvelle.exe"), L"\"" + folder + L"\\orvelle.exe\"");

    RemoveFromStartup(folder + L"\\orvelle.exe", keys);
    EXPECT_EQ(User(L"orvelle.exe"), std::nullopt);
}

TEST_F(StartUp, RemovalDeletesTheEntryFromBothKeys) {
    ASSERT_EQ(RegSetKeyValueW(keys.userHive, keys.userKey.c_str(), L"orvelle.exe", REG_SZ, L"old", 8), ERROR_SUCCESS);
    AddToStartup(folder + L"\\orvelle.exe", keys);
    ASSERT_TRUE(Machine(L"orvelle.exe"));
    RemoveFromStartup(folder + L"\\orvelle.exe", keys);
    EXPECT_EQ(Machine(L"orvelle.exe"), std::nullopt);
    EXPECT_EQ(User(L"orvelle.exe"), std::nullopt);
}

// The real keys, for the program's own folder (Wine lets this process write
// HKLM, as an administrator could).
// The real keys (Wine lets this process write HKLM, as an administrator
// could), with another program beside it that a folder listing gives first.
TEST(StartUpDefault, EntersTheRunningProgramItselfInTheMachineRunKey) {
    const std::wstring other = ProgramFolder() + L"\\!aaa-other.exe";
    Touch(other);
    const std::wstring self = ProgramPath();
    const std::wstring name = self.substr(self.rfind(L'\\') + 1);
    AddToStartup();
    std::optional<std::wstring> data = reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, name);
    std::optional<std::wstring> otherData = reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, L"!aaa-other.exe");
    RemoveFromStartup();
    DeleteFileW(other.c_str());
    EXPECT_EQ(data, L"\"" + self + L"\"");
    EXPECT_EQ(otherData, std::nullopt);
    EXPECT_EQ(reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, name), std::nullopt);
    EXPECT_EQ(reg::GetString(HKEY_CURRENT_USER, kUserRunKey, name), std::nullopt);
}
