#include "engine/HistoryFile.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"

void AppendHistoryLine(const std::wstring& historyFile, const std::wstring& line) {
    UniqueFile file(CreateFileW(historyFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw Failure::FromLastError();
    std::string bytes = ToAnsi(line + L"\r\n");
    DWORD written = 0;
    BOOL ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    DWORD error = GetLastError();
    if (!ok || written != bytes.size()) throw Failure::FromWin32(ok ? ERROR_WRITE_FAULT : error);
}
