#include "FormFixture.h"

#include "common/Main.h"

namespace {

// OLE for the whole test program, as orvelle.exe initialises it.
class OleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }
};
[[maybe_unused]] auto* const kOle = ::testing::AddGlobalTestEnvironment(new OleEnvironment);

bool realTimerTicks = false;

// Drops Timer1's real ticks wherever this thread takes messages, the form's
// own waits included.
LRESULT CALLBACK FilterTimerTicks(int code, WPARAM removing, LPARAM message) {
    auto* msg = reinterpret_cast<MSG*>(message);
    if (code == HC_ACTION && removing == PM_REMOVE && !realTimerTicks && msg->message == WM_TIMER &&
        msg->wParam == 1 && msg->lParam == 0)
        msg->message = WM_NULL;
    return CallNextHookEx(nullptr, code, removing, message);
}

}  // namespace

void FormTest::LetTheRealTimerTick() { realTimerTicks = true; }

std::optional<SettingsSnapshot::Values> SettingsSnapshot::Read() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, settings::kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    Values values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameLength = 256;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        values[name] = {type, data};
    }
    RegCloseKey(key);
    return values;
}

std::map<std::wstring, std::wstring> SettingsSnapshot::Texts() {
    std::map<std::wstring, std::wstring> texts;
    auto values = Read();
    if (!values) return texts;
    for (const auto& [name, value] : *values)
        if (value.type == REG_SZ) {
            std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            texts[name] = text;
        }
    return texts;
}

void FormTest::SetUp() {
    realTimerTicks = false;
    timerFilter_ = SetWindowsHookExW(WH_GETMESSAGE, FilterTimerTicks, nullptr, GetCurrentThreadId());
    snapshot_ = std::make_unique<SettingsSnapshot>();
    SettingsSnapshot::Clear();
    wchar_t buffer[MAX_PATH];
    GetEnvironmentVariableW(L"TEMP", buffer, MAX_PATH);
    oldTemp_ = buffer;
    temp = fs::path(oldTemp_) / (std::string("orvelle window ") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(temp);
    fs::create_directories(temp);
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
}

void FormTest::TearDown() {
    form.reset();
    Pump();
    SetEnvironmentVariableW(L"TEMP", oldTemp_.c_str());
    std::error_code ignored;
    fs::remove_all(temp, ignored);
    snapshot_.reset();
    if (timerFilter_) UnhookWindowsHookEx(timerFilter_);
}

int FormServices::ShowBox(const MessageBoxRequest& request) {
    Recorded& rec = test->rec;
    rec.boxes.push_back(request);
    if (rec.answers.empty()) return IDOK;
    int answer = rec.answers.front();
    rec.answers.pop_front();
    return answer;
}

BOOL FormServices::NotifyIcon(DWORD message, NOTIFYICONDATAA& record) {
    test->rec.shell.push_back({message, record.uFlags, {}, {}, record.uTimeout});
    return Form1Services::NotifyIcon(message, record);
}

BOOL FormServices::NotifyIconWide(DWORD message, NOTIFYICONDATAW& record) {
    test->rec.shell.push_back({message, record.uFlags, record.szInfo, record.szInfoTitle, record.uTimeout});
    return Form1Services::NotifyIconWide(message, record);
}

void FormServices::FinishRunNow(BackupRun&) { ++test->rec.finishRunNow; }

std::wstring FormServices::BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start) {
    EXPECT_EQ(owner, test->form->hwnd());
    EXPECT_EQ(start, L"");
    test->rec.pickerTitles.push_back(title);
    return test->rec.pickerAnswer;
}

void FormServices::EndProcess(UINT code) {
    Recorded& rec = test->rec;
    rec.exitCode = code;
    rec.finishRunNowAtExit = rec.finishRunNow;
    rec.inTrayAtExit = test->form->cSysTray1 && test->form->cSysTray1->InTray();
}

FormServices FormTest::Services() {
    FormServices s;
    s.test = this;
    s.saveAll = [this](const BackupOptions&, RunHost&) { ++rec.saveAllCalls; return RunOutcome::Done; };
    s.startCommand = [this](const std::wstring& line, int show) { rec.commands.emplace_back(line, show); };
    s.addToStartup = [this] { ++rec.addToStartup; };
    s.removeFromStartup = [this] { ++rec.removeFromStartup; };
    return s;
}

Form1& FormTest::Create(FormServices services) {
    form.reset();
    form = std::make_unique<Form1>(std::make_unique<FormServices>(std::move(services)));
    form->Create(GetModuleHandleW(nullptr));
    return *form;
}

Form1& FormTest::Load(FormServices services) {
    Create(std::move(services));
    form->Form_Load();
    Pump();
    return *form;
}

void FormTest::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
