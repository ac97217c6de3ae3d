#pragma once
// The standard error report: one warning box naming the failure, the
// operation and the step, after which the operation carries on.
#include "common/Failure.h"

#include <string>
#include <string_view>
#include <vector>

inline constexpr wchar_t kErrorReportCaption[] = L"Application Error";
inline constexpr UINT kErrorReportStyle = MB_OK | MB_ICONEXCLAMATION;  // 48

// The text that names a guarded operation in the report:
// "in Quillbay2021/08/31." + module + "." + routine + " ".
std::wstring Location(std::wstring_view module, std::wstring_view routine);

std::wstring BuildErrorReport(std::wstring_view location, int step, std::wstring_view description);
void ReportError(std::wstring_view location, int step, const Failure& failure);

// While one lives on the calling thread, reports are kept instead of shown:
// inside another program's call (Word waits in its close) no box may
// appear.  A failure of a call given up at its bound is no report.
class HeldReports {
public:
    HeldReports();
    ~HeldReports();
    HeldReports(const HeldReports&) = delete;
    HeldReports& operator=(const HeldReports&) = delete;
    // The report texts kept so far, for the owner to show afterwards.
    std::vector<std::wstring> take() { return std::move(texts_); }

private:
    friend void ReportError(std::wstring_view, int, const Failure&);
    HeldReports* previous_;
    std::vector<std::wstring> texts_;
};
