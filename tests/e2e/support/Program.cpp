#include "e2e/support/Program.h"

#include "common/Failure.h"

#include <utility>
#include <vector>

namespace remote {

namespace {

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The environment block of this process with the changes applied; names
// compare without case, as Windows does.
std::wstring EnvironmentBlock(const Environment& changes) {
    std::vector<std::pair<std::wstring, std::wstring>> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            std::wstring entry = p;
            size_t eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
            if (eq == std::wstring::npos) continue;
            vars.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : changes) {
        std::erase_if(vars, [&](const auto& v) { return EqualNoCase(v.first, name); });
        if (value) vars.emplace_back(name, *value);
    }
    std::wstring out;
    for (const auto& [name, value] : vars) out += name + L'=' + value + L'\0';
    out += L'\0';
    return out;
}

}  // namespace

Process Process::Start(const std::wstring& exe, const std::wstring& arguments, const Environment& environment,
                       const std::wstring& folder) {
    std::wstring commandLine = L'"' + exe + L'"';
    if (!arguments.empty()) commandLine += L' ' + arguments;
    std::wstring block = EnvironmentBlock(environment);
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        block.data(), folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        Failure failure = Failure::FromLastError();
        throw Failure(failure.number(), L"cannot start " + exe + L": " + failure.description());
    }
    CloseHandle(pi.hThread);
    Process p;
    p.handle_ = pi.hProcess;
    p.pid_ = pi.dwProcessId;
    return p;
}

Process Process::Open(DWORD pid) {
    Process p;
    p.handle_ = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (p.handle_) p.pid_ = pid;
    return p;
}

Process::Process(Process&& o) noexcept : handle_(std::exchange(o.handle_, nullptr)), pid_(std::exchange(o.pid_, 0)) {}

Process& Process::operator=(Process&& o) noexcept {
    if (this != &o) {
        Kill();
        handle_ = std::exchange(o.handle_, nullptr);
        pid_ = std::exchange(o.pid_, 0);
    }
    return *this;
}

Process::~Process() { Kill(); }

bool Process::Running() const { return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }

bool Process::WaitExit(Millis limit) const {
    return handle_ && WaitForSingleObject(handle_, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (handle_) GetExitCodeProcess(handle_, &code);
    return code;
}

void Process::Kill() {
    if (!handle_) return;
    if (Running()) {
        TerminateProcess(handle_, 1);
        WaitForSingleObject(handle_, 15000);
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    pid_ = 0;
}

}  // namespace remote
