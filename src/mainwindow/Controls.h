#pragma once
// Thin wrappers over the standard controls that give the main window its
// controls' events.  Setting a value from code raises the same event as the
// user's action (an option button switched on raises Click, a check box that
// changes raises Click), which Win32's BM_SETCHECK does not.  A failure in
// the handler of an event that code raised is thrown back to that code, as a
// failure of the statement that set the value; the host handles a failure of
// an event that the user raised itself (raisedByCode tells which).  Every control
// is a child of the main window itself, so its WM_COMMAND and WM_NOTIFY
// reach the window; the host forwards them with onCommand / onNotify.
#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A design rectangle in twips (1/1440 inch).
struct Twips {
    int left, top, width, height;
};
inline int TwipsToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }
RECT TwipsToPixels(const Twips& twips, UINT dpi);

// The events a control may raise; a control answers for those it has.
enum class ControlEvent { Click, Change, GotFocus };

class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    void create(HWND parent, int id, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                DWORD exStyle = 0);
    HWND hwnd() const { return hwnd_; }
    int id() const { return id_; }

    std::wstring caption() const;
    void setCaption(const std::wstring& text);
    bool visible() const;
    void setVisible(bool visible);
    void move(const RECT& pixels);
    void setFont(HFONT font);

    // The handler of one of its events, or null for an event it lacks.
    using Handler = std::function<void()>;
    virtual Handler* event(ControlEvent /*which*/) { return nullptr; }

    // The host forwards the control's notifications here.
    virtual void onCommand(UINT /*code*/) {}
    virtual LRESULT onNotify(const NMHDR& /*header*/) { return 0; }

    // True while a value set from code is raising this control's events.
    bool raisedByCode() const { return codeDepth_ > 0; }

protected:
    // Runs a change made from code.  A failure in the handler of an event it
    // raises is kept (it must not cross the window procedure that carried
    // the notification) and thrown from here once the change is over.
    template <class F>
    void changeFromCode(F&& change) {
        ++codeDepth_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{codeDepth_};
        change();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    void raise(const std::function<void()>& event);

    HWND hwnd_ = nullptr;
    int id_ = 0;

private:
    int codeDepth_ = 0;
    std::exception_ptr failure_;
};

// Push button: Click for the user's click (or BM_CLICK from anywhere).
class PushButton : public Control {
public:
    std::function<void()> Click;
    Handler* event(ControlEvent which) override { return which == ControlEvent::Click ? &Click : nullptr; }
    void onCommand(UINT code) override;
};

// Frame: a group box.  The controls "inside" it are the window's children
// placed over it.
class Frame : public Control {};

// Option button, one of an exclusive group that the wrapper keeps itself, so
// that the grouping does not depend on the window order of the controls.
class OptionButton : public Control {
public:
    std::function<void()> Click;
    Handler* event(ControlEvent which) override { return which == ControlEvent::Click ? &Click : nullptr; }
    bool value() const;
    // Switching on clears the others of the group and raises Click, also
    // when the button was on already; switching off raises nothing.
    void setValue(bool on);
    void setGroup(std::vector<OptionButton*> group) { group_ = std::move(group); }
    void onCommand(UINT code) override;

private:
    void switchOn();
    std::vector<OptionButton*> group_;
};

// Check box: Click whenever its value changes, by the user or from code.
class CheckBox : public Control {
public:
    std::function<void()> Click;
    Handler* event(ControlEvent which) override { return which == ControlEvent::Click ? &Click : nullptr; }
    bool value() const;
    void setValue(bool checked);
    void onCommand(UINT code) override;

private:
    void change(bool checked);
};

// Text box (single-line edit): Change for every change of the text, typed
// or set from code (the edit control sends EN_CHANGE for WM_SETTEXT);
// GotFocus when it receives the focus.
class TextBox : public Control {
public:
    std::function<void()> Change;
    std::function<void()> GotFocus;
    Handler* event(ControlEvent which) override {
        return which == ControlEvent::Change ? &Change : which == ControlEvent::GotFocus ? &GotFocus : nullptr;
    }
    std::wstring text() const { return caption(); }
    void setText(const std::wstring& text);
    void setSelection(int start, int length);
    std::pair<int, int> selection() const;  // start, length
    void onCommand(UINT code) override;
};

// Drop-down list (a combo box of the drop-down-list style): Change whenever
// the chosen item changes, by the user or from code.
class ComboBox : public Control {
public:
    std::function<void()> Change;
    Handler* event(ControlEvent which) override { return which == ControlEvent::Change ? &Change : nullptr; }
    void addItem(const std::wstring& text);
    int count() const;
    std::optional<int> selectedIndex() const;  // 0-based
    void select(int index);
    void onCommand(UINT code) override;
};

// Label: static text that takes no focus and raises nothing.
class Label : public Control {};

// Progress bar with a 32-bit range from 0.
class ProgressBar : public Control {
public:
    long max() const;
    void setMax(long value);
    long value() const;
    void setValue(long value);
};

// List view in report view with one column.  Click for a mouse click on the
// list (NM_CLICK), after the selection has followed the click.  Selecting
// from code raises nothing.
class ListView : public Control {
public:
    std::function<void()> Click;
    Handler* event(ControlEvent which) override { return which == ControlEvent::Click ? &Click : nullptr; }
    void addColumn(const std::wstring& header, int widthPixels);
    void setColumnWidth(int widthPixels);
    std::wstring columnHeader() const;
    int columnWidth() const;
    void addItem(const std::wstring& text);
    int count() const;
    std::wstring itemText(int index) const;  // 0-based
    // 0-based position of the selected item, or none.
    std::optional<int> selectedIndex() const;
    std::optional<std::wstring> selectedText() const;
    void select(int index);  // -1 clears the selection
    LRESULT onNotify(const NMHDR& header) override;
};

// Timer: ticks every interval milliseconds while enabled and the interval is
// not 0.  Owned by a window; the host forwards WM_TIMER with its id.
class Timer {
public:
    Timer() = default;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { stop(); }

    void attach(HWND host, UINT_PTR id) { host_ = host, id_ = id; }
    UINT_PTR id() const { return id_; }
    UINT interval() const { return interval_; }
    void setInterval(UINT milliseconds);
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool running() const { return running_; }

    std::function<void()> Tick;

private:
    void apply();
    void stop();

    HWND host_ = nullptr;
    UINT_PTR id_ = 0;
    UINT interval_ = 0;
    bool enabled_ = true;
    bool running_ = false;
};
