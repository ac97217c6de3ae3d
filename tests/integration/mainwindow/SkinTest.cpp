#include "common/Main.h"
#include "mainwindow/Skin.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace {

// A real window with a few child controls of each kind.
class TestWindow : public SkinnableWindow {
public:
    TestWindow() {
        hwnd_ = CreateWindowExW(0, L"STATIC", L"skin test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                                nullptr, nullptr);
        child_ = CreateWindowExW(0, L"BUTTON", L"child", WS_CHILD | BS_GROUPBOX, 0, 0, 50, 50, hwnd_, nullptr,
                                 nullptr, nullptr);
        framework_ = CreateSkinFramework();
    }
    ~TestWindow() override { DestroyWindow(hwnd_); }

    HWND handle() const override { return hwnd_; }
    void setBackColor(COLORREF color) override { windowColor = color; }
    int controlCount() const override { return static_cast<int>(kinds.size()); }
    ControlKind controlKind(int index) const override { return kinds[index]; }
    void setControlBackColor(int index, COLORREF color) override { controlColors[index] = color; }
    Dispatch skinFramework() override { return framework_; }

    std::vector<ControlKind> kinds{ControlKind::Frame, ControlKind::Other, ControlKind::OptionButton,
                                   ControlKind::CheckBox, ControlKind::Label};
    std::vector<std::optional<COLORREF>> controlColors = std::vector<std::optional<COLORREF>>(5);
    std::optional<COLORREF> windowColor;
    HWND hwnd_, child_;
    Dispatch framework_;
};

class SkinFile : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        folder_ = ProgramFolder() + L"\\x";
        DeleteFileW(SkinFilePath().c_str());
    }
    void TearDown() override {
        DeleteFileW(SkinFilePath().c_str());
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }
    void write(const char* text) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        std::ofstream(SkinFilePath().c_str()) << text;
    }
    std::wstring folder_;
};

}  // namespace

TEST_F(SkinFile, WithoutTheFileNothingChanges) {
    TestWindow window;
    ApplySkin(window);
    EXPECT_FALSE(window.windowColor);
    for (auto& c : window.controlColors) EXPECT_FALSE(c);
    EXPECT_FALSE(SkinColorsOf(window.handle()).face);
}

TEST_F(SkinFile, ColoursTheWindowAndItsCaptionedControlsThenAppliesTheSkin) {
    write("; navy on grey\nFace=D4D0C8\nText = 000080\n\nBogus=zz\n");
    TestWindow window;
    ApplySkin(window);

    COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(window.windowColor, face);
    EXPECT_EQ(window.controlColors[0], face);  // frame
    EXPECT_FALSE(window.controlColors[1]);     // other kinds stay as they are
    EXPECT_EQ(window.controlColors[2], face);
    EXPECT_EQ(window.controlColors[3], face);
    EXPECT_EQ(window.controlColors[4], face);

    SkinColors colors = SkinColorsOf(window.handle());
    EXPECT_EQ(colors.face, RGB(0xD4, 0xD0, 0xC8));
    EXPECT_EQ(colors.text, RGB(0x00, 0x00, 0x80));
    // Child controls are skinned as well.
    EXPECT_EQ(SkinColorsOf(window.child_).face, RGB(0xD4, 0xD0, 0xC8));
    // The option flag was set on the way.
    EXPECT_EQ(window.framework_.invoke(1, DISPATCH_PROPERTYGET).toLong() & 1, 1);
}

TEST_F(SkinFile, ABlackFaceIsAColourNotAbsence) {
    write("Face=000000\n");
    TestWindow window;
    ApplySkin(window);
    EXPECT_EQ(SkinColorsOf(window.handle()).face, RGB(0, 0, 0));
    EXPECT_FALSE(SkinColorsOf(window.handle()).text);
}
