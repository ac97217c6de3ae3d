#include "mainwindow/Skin.h"

#include "common/ComObject.h"
#include "common/Handle.h"
#include "common/Main.h"

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kFaceProp[] = L"Orvelle.SkinFace";
constexpr wchar_t kTextProp[] = L"Orvelle.SkinText";
// Until a skin is applied no window has a colour: every paint of a control
// asks, and under Wine each GetPropW is a round trip to the wineserver.
bool skinApplied = false;
// Once one is, what each window's properties said, asked once per window
// until the next skin is applied (the countdown repaints the status frame,
// and with it the window's background, every second).
std::vector<std::pair<HWND, SkinColors>> knownColors;
constexpr DISPID kOptions = 1, kLoadSkin = 2, kApplyWindow = 3, kSkinChildren = 5, kSkinText = 10;

std::optional<COLORREF> ParseColor(std::string hex) {
    while (!hex.empty() && (hex.back() == '\r' || hex.back() == ' ')) hex.pop_back();
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
    unsigned long v = std::stoul(hex, nullptr, 16);
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

class SkinFramework final : public ComObject<IDispatch, IID_IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        // Arguments arrive reversed in rgvarg.
        auto arg = [&](UINT i) -> VARIANT* { return &params->rgvarg[params->cArgs - 1 - i]; };
        auto asLong = [](VARIANT* v, long& out) {
            VARIANT t;
            VariantInit(&t);
            HRESULT hr = VariantChangeType(&t, v, 0, VT_I4);
            if (SUCCEEDED(hr)) out = V_I4(&t);
            return hr;
        };
        bool put = flags & DISPATCH_PROPERTYPUT;
        switch (id) {
        case kOptions:
            if (put) return params->cArgs == 1 ? asLong(arg(0), options_) : DISP_E_BADPARAMCOUNT;
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = options_;
            }
            return S_OK;
        case kSkinChildren:
        case kSkinText: {
            bool& flag = id == kSkinChildren ? skinChildren_ : skinText_;
            if (put) {
                long v = 0;
                HRESULT hr = params->cArgs == 1 ? asLong(arg(0), v) : DISP_E_BADPARAMCOUNT;
                flag = v != 0;
                return hr;
            }
            if (result) {
                V_VT(result) = VT_BOOL;
                V_BOOL(result) = flag ? VARIANT_TRUE : VARIANT_FALSE;
            }
            return S_OK;
        }
        case kLoadSkin: {
            if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
            VARIANT path;
            VariantInit(&path);
            if (FAILED(VariantChangeType(&path, arg(0), 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
            bool ok = load(V_BSTR(&path) ? V_BSTR(&path) : L"");
            VariantClear(&path);
            if (result) {
                V_VT(result) = VT_BOOL;
                V_BOOL(result) = ok ? VARIANT_TRUE : VARIANT_FALSE;
            }
            return S_OK;
        }
        case kApplyWindow: {
            long handle = 0;
            if (params->cArgs != 1 || FAILED(asLong(arg(0), handle))) return DISP_E_TYPEMISMATCH;
            apply(reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle)));
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    // Plain Win32 reading: the C++ streams would add their locale machinery
    // (over half a megabyte) to the exe, and they take only ANSI paths.
    bool load(const std::wstring& path) {
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        std::string text;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);

        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            start = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();  // CRLF lines
            auto eq = line.find('=');
            if (line.empty() || line[0] == ';' || eq == std::string::npos) continue;
            std::string key = line.substr(0, eq);
            while (!key.empty() && key.back() == ' ') key.pop_back();
            std::string value = line.substr(eq + 1);
            value.erase(0, value.find_first_not_of(' '));
            if (key == "Face") face_ = ParseColor(value);
            if (key == "Text") text_ = ParseColor(value);
        }
        return true;
    }

    void apply(HWND window) {
        if (!IsWindow(window)) return;
        skinApplied = true;
        knownColors.clear();
        std::function<void(HWND)> mark = [&](HWND w) {
            if (face_) SetPropW(w, kFaceProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(*face_ | 0x01000000)));
            if (skinText_ && text_)
                SetPropW(w, kTextProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(*text_ | 0x01000000)));
        };
        mark(window);
        if (skinChildren_)
            EnumChildWindows(window, [](HWND child, LPARAM self) {
                (*reinterpret_cast<std::function<void(HWND)>*>(self))(child);
                return TRUE;
            }, reinterpret_cast<LPARAM>(&mark));
        // Option flag 1: repaint at once.
        if (options_ & 1) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }

    long options_ = 0;
    bool skinChildren_ = false, skinText_ = false;
    std::optional<COLORREF> face_, text_;
};

std::optional<COLORREF> PropColor(HWND window, const wchar_t* name) {
    auto value = reinterpret_cast<INT_PTR>(GetPropW(window, name));
    if (!(value & 0x01000000)) return std::nullopt;  // the flag tells a set black from no colour
    return static_cast<COLORREF>(value & 0xFFFFFF);
}

}  // namespace

SkinColors SkinColorsOf(HWND window) {
    if (!skinApplied) return {};
    for (const auto& [known, colors] : knownColors)
        if (known == window) return colors;
    return knownColors.emplace_back(window, SkinColors{PropColor(window, kFaceProp), PropColor(window, kTextProp)})
        .second;
}

HBRUSH SolidBrushFor(COLORREF color) {
    static std::vector<std::pair<COLORREF, UniqueBrush>> brushes;
    for (const auto& [made, brush] : brushes)
        if (made == color) return brush.get();
    return brushes.emplace_back(color, UniqueBrush(CreateSolidBrush(color))).second.get();
}

Dispatch CreateSkinFramework() {
    Microsoft::WRL::ComPtr<IDispatch> object;
    object.Attach(new SkinFramework);
    return Dispatch(std::move(object));
}

std::wstring SkinFilePath() { return ProgramFolder() + L"\\x\\o.cjs"; }

void ApplySkin(SkinnableWindow& window) {
    std::wstring path = SkinFilePath();
    WIN32_FIND_DATAW found;
    if (!UniqueFind(FindFirstFileW(path.c_str(), &found))) return;

    COLORREF face = GetSysColor(COLOR_BTNFACE);  // system colour index 15
    window.setBackColor(face);
    for (int i = 0; i < window.controlCount(); ++i) {
        switch (window.controlKind(i)) {
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
        case ControlKind::Frame:
        case ControlKind::Label: window.setControlBackColor(i, face); break;
        case ControlKind::Other: break;
        }
    }

    Dispatch skin = window.skinFramework();
    skin.invoke(kLoadSkin, DISPATCH_METHOD, {path, std::wstring()});
    long options = skin.invoke(kOptions, DISPATCH_PROPERTYGET).toLong();
    skin.invoke(kOptions, DISPATCH_PROPERTYPUT, {}, {DISPID_PROPERTYPUT}, {Variant(static_cast<int>(options | 1))});
    skin.invoke(kSkinChildren, DISPATCH_PROPERTYPUT, {}, {DISPID_PROPERTYPUT}, {Variant(true)});
    skin.invoke(kSkinText, DISPATCH_PROPERTYPUT, {}, {DISPID_PROPERTYPUT}, {Variant(true)});
    skin.invoke(kApplyWindow, DISPATCH_METHOD, {Variant(static_cast<int>(reinterpret_cast<INT_PTR>(window.handle())))});
}
