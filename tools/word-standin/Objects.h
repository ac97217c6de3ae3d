#pragma once
// The automation objects: Application, Documents, Document, Range.  Each is a
// late-bound IDispatch with a fixed table of members; names are matched
// without regard to case, as Word matches them.
#include "Package.h"
#include "common/Handle.h"

#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <atomic>
#include <span>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

class Args;

enum class MemberKind { Get, GetPut, Method };

struct Member {
    const wchar_t* name;
    DISPID id;
    MemberKind kind;
    std::vector<const wchar_t*> params;  // named-argument names; the DISPID of each is its position
};

class DispatchObject : public IDispatch {
public:
    virtual ~DispatchObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override;

    // "Application", "Documents", "Document", "Range": the first half of
    // the member names in the call log and in fault switches.
    virtual const wchar_t* kind() const = 0;
    // The document a call is about, for faults limited to one document.
    virtual std::wstring documentOf(DISPID, const Args&) const { return {}; }
    // Bytes a member works through, for a fault that slows it in proportion.
    virtual size_t workBytes(DISPID) const { return 0; }

protected:
    virtual std::span<const Member> members() const = 0;
    // Runs a member whose flags and argument count were checked.
    virtual void call(const Member& member, bool put, Args& args, VARIANT& result) = 0;

private:
    const Member* find(DISPID id) const;
    std::atomic<ULONG> refs_{1};
};

class Document;

class Documents final : public DispatchObject {
public:
    const wchar_t* kind() const override { return L"Documents"; }
    std::wstring documentOf(DISPID id, const Args& args) const override;

    // A document joins the collection, with its window.
    void open(ComPtr<Document> document);
    void remove(Document* document);
    const std::vector<ComPtr<Document>>& list() const { return list_; }
    // Item(i): 1-based index (any integer type, by value or by reference) or
    // a document's name.
    Document* item(const VARIANT& index) const;
    Document* tryItem(const VARIANT& index) const;
    size_t count() const { return list_.size(); }
    ComPtr<Document> add();
    // The active document: the one opened or added last (Word error 4248
    // when none is open).
    Document* active() const;
    // The document an argument passes back, or a type mismatch.
    Document* ofObject(const VARIANT* object) const;
    // FullName of the document that object is, empty for any other object.
    std::wstring fullNameOf(IDispatch* object) const;

protected:
    std::span<const Member> members() const override;
    void call(const Member& member, bool put, Args& args, VARIANT& result) override;

private:
    std::vector<ComPtr<Document>> list_;
    int added_ = 0;
};

// What a document is beside what it holds.
struct DocumentTraits {
    std::wstring location;       // Path (and FullName's folder) as Word answers them, e.g. a OneDrive URL; empty: the file's
    bool hasPassword = false;    // protected by a password to open
    bool rightsManaged = false;  // Permission.Enabled: Word gives no package
    bool modified = false;       // changed since it was saved: Saved is False
};

class Document final : public DispatchObject {
public:
    // file: full path of a saved document, empty for one never saved.
    Document(std::wstring name, std::wstring file, std::wstring content, DocumentExtras extras = {},
             DocumentTraits traits = {});
    // A package file the user opened: its own parts, given as they are for
    // as long as the content is unchanged.
    void holdPackage(std::vector<PackagePart> parts) {
        package_ = std::move(parts);
        packageContent_ = content_;
    }

    ~Document() override;

    const wchar_t* kind() const override { return L"Document"; }
    std::wstring documentOf(DISPID, const Args&) const override { return name_; }
    size_t workBytes(DISPID id) const override;

    const std::wstring& name() const { return name_; }
    // The file's full path, or the name of a never-saved document; under a
    // location of its own, that location and the name.
    std::wstring fullName() const;
    const std::wstring& content() const { return content_; }
    // What the user typed: the document differs from its file now.
    void setContent(std::wstring content) {
        content_ = std::move(content);
        saved_ = false;
    }
    bool saved() const { return saved_; }
    bool closed() const { return closed_; }
    bool rightsManaged() const { return traits_.rightsManaged; }
    void checkOpen() const;
    void saveAs(const std::wstring& file);
    // Save: the file written the way Word writes it (DocumentFile.cpp).
    void save();
    void close(bool saveChanges);

    // The file as Word holds an open document's (DocumentFile.cpp): open
    // with write access and read sharing, Word's "~$" owner file beside it,
    // and a file moniker of its full name in the running-object table.
    void holdFile();
    void releaseFile();
    // Its window "NAME - Word" (Windows.cpp), shown while Word is visible.
    void createWindow(bool visible);
    void showWindow(bool visible);
    HWND frame() const { return frame_; }

protected:
    std::span<const Member> members() const override;
    void call(const Member& member, bool put, Args& args, VARIANT& result) override;

private:
    std::vector<PackagePart> parts() const;

    std::wstring name_, file_, content_;
    DocumentExtras extras_;
    DocumentTraits traits_;
    std::vector<PackagePart> package_;
    std::wstring packageContent_;
    std::wstring savedContent_;  // what the file holds: Close(True) writes only a change
    bool closed_ = false;
    bool saved_ = true;
    UniqueFile held_;
    std::wstring ownerFile_;
    DWORD rotCookie_ = 0;
    HWND frame_ = nullptr;  // the top-level OpusApp window
};

// An object of one document's: its Range, its Permission.
class DocumentMember : public DispatchObject {
public:
    explicit DocumentMember(ComPtr<Document> document) : document_(std::move(document)) {}
    std::wstring documentOf(DISPID, const Args&) const override { return document_->name(); }

protected:
    ComPtr<Document> document_;
};

class Range final : public DocumentMember {
public:
    using DocumentMember::DocumentMember;
    const wchar_t* kind() const override { return L"Range"; }

protected:
    std::span<const Member> members() const override;
    void call(const Member& member, bool put, Args& args, VARIANT& result) override;
};

// Document.Permission: information rights management.
class Permission final : public DocumentMember {
public:
    using DocumentMember::DocumentMember;
    const wchar_t* kind() const override { return L"Permission"; }

protected:
    std::span<const Member> members() const override;
    void call(const Member& member, bool put, Args& args, VARIANT& result) override;
};

// Window: one document's window as WM_GETOBJECT hands it out (Windows.cpp).
class Window final : public DocumentMember {
public:
    using DocumentMember::DocumentMember;
    const wchar_t* kind() const override { return L"Window"; }

protected:
    std::span<const Member> members() const override;
    void call(const Member& member, bool put, Args& args, VARIANT& result) override;
};

// Word's ApplicationEvents2 dispinterface, whose connection point the
// application object offers; the DISPIDs of the events it fires.
inline constexpr GUID kApplicationEvents2 = {0x000209FE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr DISPID kEventQuit = 2, kEventDocumentBeforeClose = 6;

// The listeners of the ApplicationEvents2 connection point (Events.cpp).
class EventListeners {
public:
    HRESULT advise(IUnknown* sink, DWORD* cookie);
    HRESULT unadvise(DWORD cookie);
    // DocumentBeforeClose to every listener, in the order they came; true
    // when one of them set Cancel.
    bool beforeClose(Document& document);
    void quit();

private:
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> sinks_;
    DWORD next_ = 0;
};

// How the user answers Word's question whether to save (standin::kAnswer*).
enum class UserAnswer { DontSave, Save, Cancel };
// The document's close as the user makes it; false when it stayed open.
bool CloseAsUser(Document& document, UserAnswer answer);
// Quit: each open document's DocumentBeforeClose, each closed without
// saving, then Quit; false when a listener kept one open.
bool QuitAsUser();

class Application final : public DispatchObject, public IConnectionPointContainer {
public:
    Application(HWND window, bool visible);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return DispatchObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DispatchObject::Release(); }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;
    EventListeners& events() { return events_; }
    bool visible() const { return visible_; }
    const wchar_t* kind() const override { return L"Application"; }
    std::wstring documentOf(DISPID id, const Args& args) const override;

    Documents& documents() { return *documents_.Get(); }
    HWND window() const { return window_; }

protected:
    std::span<const Member> members() const override;
    void call(const Member& member, bool put, Args& args, VARIANT& result) override;

private:
    HWND window_;
    ComPtr<Documents> documents_;
    EventListeners events_;
    bool visible_;
    long displayAlerts_ = -1;  // wdAlertsAll
};

// A document the user opens from Explorer: a text file, or a package (any
// .docx, .docm, .dotx or .dotm); throws WordError when it cannot be read.
// Extras given go over the package's own parts.
ComPtr<Document> OpenDocumentFile(const std::wstring& path, DocumentExtras extras = {}, DocumentTraits traits = {});
// The whole of a file; throws WordError when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);

// The document window classes (OpusApp and its _WwF, _WwB, _WwG chain).
void RegisterDocumentWindowClasses(HINSTANCE instance);

// The one application object of this process.
Application& TheApplication();
void CreateTheApplication(HWND window, bool visible);

// Posted to the hidden window by Quit: the process ends once the answer to
// Quit has gone back to the client.
inline constexpr UINT kQuitTimer = 1;

// The server side of COM's message filter: where the "reject" and
// "retrylater" faults answer incoming calls.
IMessageFilter* NewServerMessageFilter();
// The class object that COM's activation asks for the application.
IClassFactory* NewClassFactory();
// Documents._NewEnum: an IEnumVARIANT over a snapshot of the documents.
IUnknown* NewDocumentEnumerator(const std::vector<ComPtr<Document>>& documents);
