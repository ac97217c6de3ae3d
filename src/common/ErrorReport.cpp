#include "common/ErrorReport.h"

#include "common/MessageBox.h"
#include "common/Product.h"

std::wstring Location(std::wstring_view module, std::wstring_view routine) {
    std::wstring text = L"in Quillbay2021/08/31.";
    text += module;
    text += L".";
    text += routine;
    text += L" ";
    return text;
}

std::wstring BuildErrorReport(std::wstring_view location, int step, std::wstring_view description) {
    std::wstring text(description);
    text += L"\r\n";
    text += location;
    text += L"at line ";
    text += std::to_wstring(step);
    // Two bare carriage returns: the box shows them as one empty line.
    text += L"\r\r";
    text += L"Please email screenshot of this message to ";
    text += product::kSupportEmail;
    return text;
}

namespace {
thread_local HeldReports* t_held = nullptr;
}  // namespace

HeldReports::HeldReports() : previous_(t_held) { t_held = this; }
HeldReports::~HeldReports() { t_held = previous_; }

void ReportError(std::wstring_view location, int step, const Failure& failure) {
    if (t_held) {
        if (failure.number() != RPC_E_CALL_CANCELED)
            t_held->texts_.push_back(BuildErrorReport(location, step, failure.description()));
        return;
    }
    ShowMessageBox(GetActiveWindow(), BuildErrorReport(location, step, failure.description()),
                   std::wstring(kErrorReportCaption), kErrorReportStyle);
}
