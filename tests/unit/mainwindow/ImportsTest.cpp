// orvelle.exe must start on Windows 7 SP1: the loader refuses an exe that
// imports a function or DLL the system lacks ("entry point not found"), or
// whose subsystem version is newer than the system.  Wine resolves all of
// them, so the import table is read here instead.
//
// What this catches: any DLL not known to ship with Windows 7 SP1 (shcore,
// api-ms-win-*, ucrtbase, ...), the whole per-monitor DPI family of
// Windows 8.1 and 10 by name, the other newer functions listed below, and a
// subsystem version above 6.1.  What it cannot catch: a newer function of a
// Windows 7 DLL that the list does not name, imports by ordinal, functions
// looked up with GetProcAddress (as the DPI ones are, on purpose), and
// messages, flags or structure sizes that Windows 7 does not understand.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// DLL name (lower case) -> imported function names.
using Imports = std::map<std::string, std::set<std::string>>;

struct Image {
    std::vector<char> bytes;
    WORD subsystemMajor = 0, subsystemMinor = 0, osMajor = 0, osMinor = 0;
    Imports imports;
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Reads a PE32+ image's normal and delay-load import tables.
Image ReadImage(const std::wstring& path) {
    Image image;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    image.bytes.assign(std::istreambuf_iterator<char>(in), {});
    const char* base = image.bytes.data();
    const size_t size = image.bytes.size();
    auto at = [&](size_t offset, size_t length) {
        if (offset + length > size) throw std::runtime_error("truncated image");
        return base + offset;
    };
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, at(0, sizeof dos), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) throw std::runtime_error("not an exe");
    IMAGE_NT_HEADERS64 nt;
    std::memcpy(&nt, at(dos.e_lfanew, sizeof nt), sizeof nt);
    if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        throw std::runtime_error("not a PE32+ image");
    image.subsystemMajor = nt.OptionalHeader.MajorSubsystemVersion;
    image.subsystemMinor = nt.OptionalHeader.MinorSubsystemVersion;
    image.osMajor = nt.OptionalHeader.MajorOperatingSystemVersion;
    image.osMinor = nt.OptionalHeader.MinorOperatingSystemVersion;

    std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
    const size_t sectionTable = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                nt.FileHeader.SizeOfOptionalHeader;
    std::memcpy(sections.data(), at(sectionTable, sections.size() * sizeof(IMAGE_SECTION_HEADER)),
                sections.size() * sizeof(IMAGE_SECTION_HEADER));
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (const auto& s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        throw std::runtime_error("address outside every section");
    };
    auto text = [&](DWORD rva) { return std::string(at(offsetOf(rva), 1)); };
    // Thunks: 64-bit entries, each an ordinal (top bit) or the address of a
    // hint and a name; a zero entry ends the list.
    auto names = [&](const std::string& dll, DWORD thunks) {
        auto& list = image.imports[Lower(dll)];
        for (size_t i = 0;; ++i) {
            ULONGLONG entry;
            std::memcpy(&entry, at(offsetOf(thunks) + i * sizeof entry, sizeof entry), sizeof entry);
            if (!entry) break;
            if (entry & IMAGE_ORDINAL_FLAG64)
                list.insert("#" + std::to_string(entry & 0xFFFF));
            else
                list.insert(text(static_cast<DWORD>(entry) + sizeof(WORD)));
        }
    };

    const auto& imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (DWORD d = imports.VirtualAddress; imports.Size; d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, at(offsetOf(d), sizeof descriptor), sizeof descriptor);
        if (!descriptor.Name) break;
        names(text(descriptor.Name),
              descriptor.OriginalFirstThunk ? descriptor.OriginalFirstThunk : descriptor.FirstThunk);
    }
    const auto& delayed = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    for (DWORD d = delayed.VirtualAddress; delayed.Size; d += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
        IMAGE_DELAYLOAD_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, at(offsetOf(d), sizeof descriptor), sizeof descriptor);
        if (!descriptor.DllNameRVA) break;
        names(text(descriptor.DllNameRVA), descriptor.ImportNameTableRVA);
    }
    return image;
}

// DLLs that Windows 7 SP1 ships (lower case).  Add one only after checking
// that it does.
const std::set<std::string> kWindows7Dlls = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",  "dwmapi.dll",   "gdi32.dll",
    "gdiplus.dll",  "imm32.dll",    "kernel32.dll", "msftedit.dll", "msimg32.dll",  "msvcrt.dll",
    "ntdll.dll",    "ole32.dll",    "oleacc.dll",   "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",
    "secur32.dll",  "shell32.dll",  "shlwapi.dll",  "user32.dll",   "userenv.dll",  "uxtheme.dll",
    "version.dll",  "winmm.dll",    "ws2_32.dll",
};

// Functions of Windows 7 DLLs that only later Windows versions export.
struct Newer {
    const char* dll;
    const char* function;
    const char* since;
};
constexpr Newer kNewerThanWindows7[] = {
    {"user32.dll", "GetDpiForWindow", "10 1607"},
    {"user32.dll", "GetDpiForSystem", "10 1607"},
    {"user32.dll", "AdjustWindowRectExForDpi", "10 1607"},
    {"user32.dll", "GetSystemMetricsForDpi", "10 1607"},
    {"user32.dll", "SystemParametersInfoForDpi", "10 1607"},
    {"user32.dll", "EnableNonClientDpiScaling", "10 1607"},
    {"user32.dll", "SetThreadDpiAwarenessContext", "10 1607"},
    {"user32.dll", "GetThreadDpiAwarenessContext", "10 1607"},
    {"user32.dll", "GetWindowDpiAwarenessContext", "10 1607"},
    {"user32.dll", "SetProcessDpiAwarenessContext", "10 1703"},
    {"user32.dll", "LogicalToPhysicalPointForPerMonitorDPI", "8.1"},
    {"user32.dll", "PhysicalToLogicalPointForPerMonitorDPI", "8.1"},
    {"user32.dll", "GetPointerType", "8"},
    {"user32.dll", "EnableMouseInPointer", "8"},
    {"uxtheme.dll", "OpenThemeDataForDpi", "10 1703"},
    {"kernel32.dll", "GetSystemTimePreciseAsFileTime", "8"},
    {"kernel32.dll", "GetCurrentThreadStackLimits", "8"},
    {"kernel32.dll", "CreateFile2", "8"},
    {"kernel32.dll", "GetOverlappedResultEx", "8"},
    {"kernel32.dll", "PrefetchVirtualMemory", "8"},
    {"kernel32.dll", "SetThreadDescription", "10 1607"},
    {"kernel32.dll", "GetThreadDescription", "10 1607"},
};

// The per-monitor DPI family, also its members the list does not name:
// Windows 7 has only SetProcessDPIAware and IsProcessDPIAware, spelled "DPI".
bool IsPerMonitorDpiFunction(const std::string& function) { return function.find("Dpi") != std::string::npos; }

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"orvelle.exe";
}

}  // namespace

TEST(Imports, OrvelleStartsOnWindows7) {
    const Image image = ReadImage(ProgramPath());
    // The reading itself: the window's own functions are there.
    ASSERT_TRUE(image.imports.count("user32.dll"));
    ASSERT_TRUE(image.imports.at("user32.dll").count("CreateWindowExW"));

    std::string refused;
    for (const auto& [dll, functions] : image.imports) {
        if (!kWindows7Dlls.count(dll)) refused += "  " + dll + ": not a DLL of Windows 7\n";
        for (const std::string& function : functions) {
            auto newer = std::find_if(std::begin(kNewerThanWindows7), std::end(kNewerThanWindows7),
                                      [&](const Newer& n) { return dll == n.dll && function == n.function; });
            if (newer != std::end(kNewerThanWindows7))
                refused += "  " + dll + " " + function + ": Windows " + newer->since + "\n";
            else if (IsPerMonitorDpiFunction(function))
                refused += "  " + dll + " " + function + ": per-monitor DPI, Windows 8.1 or later\n";
        }
    }
    EXPECT_EQ(refused, "") << "imports that keep orvelle.exe from starting on Windows 7 SP1 (look them up at run "
                              "time instead):\n"
                           << refused;
    EXPECT_LE(image.subsystemMajor * 100 + image.subsystemMinor, 601) << "subsystem version";
    EXPECT_LE(image.osMajor * 100 + image.osMinor, 601) << "operating system version";
}
