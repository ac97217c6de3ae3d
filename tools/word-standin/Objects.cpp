#include "Objects.h"

#include "common/Handle.h"
#include "common/Text.h"
#include "Args.h"
#include "Clipboard.h"
#include "Content.h"
#include "Control.h"
#include "Docx.h"

namespace {

Application* g_application = nullptr;

}  // namespace

// ---- Application -------------------------------------------------------------

namespace {
const Member kApplicationMembers[] = {
    {L"Name", DISPID_VALUE, MemberKind::Get, {}},
    {L"Documents", 6, MemberKind::Get, {L"Index"}},
    {L"Version", 24, MemberKind::Get, {}},
    {L"Visible", 23, MemberKind::GetPut, {}},
    {L"DisplayAlerts", 94, MemberKind::GetPut, {}},
    {L"Quit", 1105, MemberKind::Method, {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}},
    {L"ActiveDocument", 3, MemberKind::Get, {}},
    {L"ActiveWindow", 2, MemberKind::Get, {}},
    {L"CompareDocuments", 629, MemberKind::Method, {L"OriginalDocument", L"RevisedDocument", L"Destination"}},
};
}

Application::Application(HWND window, bool visible)
    : window_(window), visible_(visible) {
    documents_.Attach(new Documents);
}

std::span<const Member> Application::members() const { return kApplicationMembers; }

std::wstring Application::documentOf(DISPID id, const Args& args) const {
    if (id == 6 && args.at(0))
        if (Document* d = documents_->tryItem(*args.at(0))) return d->name();
    return {};
}

void Application::call(const Member& member, bool put, Args& args, VARIANT& result) {
    switch (member.id) {
    case DISPID_VALUE: SetText(result, AppNameSetting()); break;
    case 6:
        // Documents(i): the classic runtime passes the index straight to
        // the property; Word hands it on to the collection's Item.
        if (args.at(0)) SetObject(result, documents_->item(*args.at(0)));
        else SetObject(result, documents_.Get());
        break;
    case 24: SetText(result, VersionSetting()); break;
    case 23:
        if (put) {
            // Word shows its window: what tells a user that an instance is there.
            visible_ = args.valueBool();
            ShowWindow(window_, visible_ ? SW_SHOWNOACTIVATE : SW_HIDE);
            for (const auto& document : documents_->list()) document->showWindow(visible_);
        } else {
            SetBool(result, visible_);
        }
        break;
    case 94:
        // Word's WdAlertLevel: True is wdAlertsAll (-1), False wdAlertsNone.
        if (put) displayAlerts_ = args.valueLong();
        else SetLong(result, displayAlerts_);
        break;
    case 1105:
        // Documents are not saved and nothing is asked; each one's
        // DocumentBeforeClose, then Quit; the process ends once this answer
        // is on its way.
        QuitAsUser();
        break;
    case 3: SetObject(result, documents_->active()); break;
    case 2: {
        // The active document's window; none open: Word error 4248.
        ComPtr<Window> window;
        window.Attach(new Window(documents_->active()));
        SetObject(result, window.Get());
        break;
    }
    case 629: {
        // Word's comparison goes into a new document; both stay as they are.
        documents_->ofObject(args.at(0));  // a document of this Word, or a type mismatch
        Document* revised = documents_->ofObject(args.at(1));
        ComPtr<Document> comparison = documents_->add();
        comparison->setContent(revised->content());
        SetObject(result, comparison.Get());
        break;
    }
    }
}

Application& TheApplication() { return *g_application; }
void CreateTheApplication(HWND window, bool visible) { g_application = new Application(window, visible); }

// ---- Documents ---------------------------------------------------------------

namespace {
const Member kDocumentsMembers[] = {
    {L"Item", DISPID_VALUE, MemberKind::Method, {L"Index"}},
    {L"Count", 2, MemberKind::Get, {}},
    {L"Add", 14, MemberKind::Method, {L"Template", L"NewTemplate", L"DocumentType", L"Visible"}},
    {L"Open", 19, MemberKind::Method, {L"FileName", L"ConfirmConversions", L"ReadOnly", L"AddToRecentFiles"}},
    {L"_NewEnum", DISPID_NEWENUM, MemberKind::Get, {}},
};
}

std::span<const Member> Documents::members() const { return kDocumentsMembers; }

std::wstring Documents::documentOf(DISPID id, const Args& args) const {
    if (id == DISPID_VALUE && args.at(0))
        if (Document* d = tryItem(*args.at(0))) return d->name();
    return {};
}

Document* Documents::tryItem(const VARIANT& index) const {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(&index)))) return nullptr;
    Document* found = nullptr;
    if (V_VT(&v) == VT_BSTR) {
        std::wstring name(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
        for (const auto& d : list_)
            if (SameName(d->name(), name)) found = d.Get();
    } else if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
        long i = V_I4(&v);
        if (i >= 1 && static_cast<size_t>(i) <= list_.size()) found = list_[i - 1].Get();
    }
    VariantClear(&v);
    return found;
}

Document* Documents::item(const VARIANT& index) const {
    if (Document* d = tryItem(index)) return d;
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantCopyInd(&v, const_cast<VARIANT*>(&index));
    bool usable = SUCCEEDED(hr) && (V_VT(&v) == VT_BSTR || SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)));
    VariantClear(&v);
    if (!usable) throw DispatchError{DISP_E_TYPEMISMATCH, 0};
    throw WordError(kErrorMemberNotInCollection, L"The requested member of the collection does not exist.");
}

void Documents::open(ComPtr<Document> document) {
    document->createWindow(TheApplication().visible());
    list_.push_back(std::move(document));
}

void Documents::remove(Document* document) {
    for (auto it = list_.begin(); it != list_.end(); ++it)
        if (it->Get() == document) {
            list_.erase(it);
            return;
        }
}

ComPtr<Document> Documents::add() {
    // Word numbers new documents Document1, Document2, ... per process.
    std::wstring name;
    bool taken;
    do {
        name = L"Document" + std::to_wstring(++added_);
        taken = false;
        for (const auto& d : list_) taken = taken || SameName(d->name(), name);
    } while (taken);
    ComPtr<Document> document;
    document.Attach(new Document(name, L"", L""));
    open(document);
    return document;
}

void Documents::call(const Member& member, bool, Args& args, VARIANT& result) {
    switch (member.id) {
    case DISPID_VALUE:
        if (!args.at(0)) throw DispatchError{DISP_E_PARAMNOTFOUND, 0};
        SetObject(result, item(*args.at(0)));
        break;
    case 2: SetLong(result, static_cast<long>(list_.size())); break;
    case 14: SetObject(result, add().Get()); break;
    case 19: {
        ComPtr<Document> document = OpenDocumentFile(args.text(0));
        open(document);
        SetObject(result, document.Get());
        break;
    }
    case DISPID_NEWENUM: {
        // For Each over the collection: a snapshot, as Word's enumerator.
        V_VT(&result) = VT_UNKNOWN;
        V_UNKNOWN(&result) = NewDocumentEnumerator(list_);
        break;
    }
    }
}

Document* Documents::active() const {
    if (list_.empty()) throw WordError(4248, L"This command is not available because no document is open.");
    return list_.back().Get();
}

Document* Documents::ofObject(const VARIANT* object) const {
    VARIANT v;
    VariantInit(&v);
    Document* found = nullptr;
    if (object && SUCCEEDED(VariantCopyInd(&v, const_cast<VARIANT*>(object))) && V_VT(&v) == VT_DISPATCH)
        for (const auto& d : list_)
            if (static_cast<IDispatch*>(d.Get()) == V_DISPATCH(&v)) found = d.Get();
    VariantClear(&v);
    if (!found) throw DispatchError{DISP_E_TYPEMISMATCH, 0};
    return found;
}

std::wstring Documents::fullNameOf(IDispatch* object) const {
    for (const auto& d : list_)
        if (static_cast<IDispatch*>(d.Get()) == object) return d->fullName();
    return {};
}

// ---- Document ----------------------------------------------------------------

namespace {
const Member kDocumentMembers[] = {
    {L"Name", DISPID_VALUE, MemberKind::Get, {}},
    {L"Path", 1, MemberKind::Get, {}},
    {L"Range", 2000, MemberKind::Method, {L"Start", L"End"}},
    {L"SaveAs", 102, MemberKind::Method,
     {L"FileName", L"FileFormat", L"LockComments", L"Password", L"AddToRecentFiles", L"WritePassword",
      L"ReadOnlyRecommended", L"EmbedTrueTypeFonts", L"SaveNativePictureFormat", L"SaveFormsData",
      L"SaveAsAOCELetter"}},
    {L"Close", 1105, MemberKind::Method, {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}},
    {L"WordOpenXML", 553, MemberKind::Get, {}},
    {L"FullName", 3, MemberKind::Get, {}},
    {L"HasPassword", 60, MemberKind::Get, {}},
    {L"Permission", 400, MemberKind::Get, {}},
    {L"Saved", 40, MemberKind::GetPut, {}},
    {L"Save", 108, MemberKind::Method, {}},
};

// Word's Path: the folder without a trailing backslash, except a drive root.
std::wstring FolderOf(const std::wstring& file) {
    size_t slash = file.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    std::wstring folder = file.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}
std::wstring NameOf(const std::wstring& file) { return file.substr(file.find_last_of(L'\\') + 1); }
}  // namespace

Document::Document(std::wstring name, std::wstring file, std::wstring content, DocumentExtras extras,
                   DocumentTraits traits)
    : name_(std::move(name)),
      file_(std::move(file)),
      content_(std::move(content)),
      extras_(std::move(extras)),
      traits_(std::move(traits)),
      savedContent_(content_) {}

std::wstring Document::fullName() const {
    if (!traits_.location.empty())
        return traits_.location + (traits_.location.find(L"://") != std::wstring::npos ? L"/" : L"\\") + name_;
    return file_.empty() ? name_ : file_;
}

std::vector<PackagePart> Document::parts() const {
    if (package_.empty() || content_ != packageContent_) return PackageParts(content_, extras_, ModifiedNow());
    // Word stamps the document's properties at every read of its package.
    std::vector<PackagePart> parts = package_;
    for (PackagePart& part : parts) {
        const size_t tag = part.name == "docProps/core.xml" ? part.data.find("<dcterms:modified") : std::string::npos;
        const size_t from = tag == std::string::npos ? tag : part.data.find('>', tag);
        const size_t to = from == std::string::npos ? from : part.data.find('<', from);
        if (to != std::string::npos) part.data.replace(from + 1, to - from - 1, ModifiedNow());
    }
    return parts;
}

std::span<const Member> Document::members() const { return kDocumentMembers; }

void Document::checkOpen() const {
    if (closed_) throw WordError(kErrorObjectDeleted, L"Object has been deleted.");
}

void Document::saveAs(const std::wstring& fileName) {
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(fileName.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (fileName.empty() || n == 0 || n >= std::size(full))
        throw WordError(kErrorInvalidFileName, L"This is not a valid file name. (" + fileName + L")");
    std::wstring file = full;
    // Like Word, a name without an extension gets the format's own.
    if (NameOf(file).find(L'.') == std::wstring::npos) file += L".docx";
    std::wstring folder = FolderOf(file);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw WordError(kErrorInvalidFileName,
                        L"This is not a valid file name: the folder " + folder + L" does not exist. (" + file + L")");
    // Over our own file, Word's way; elsewhere, a new file.
    if (held_ && CompareStringOrdinal(file.c_str(), -1, file_.c_str(), -1, TRUE) == CSTR_EQUAL) return save();
    WriteDocx(file, parts());
    releaseFile();
    savedContent_ = content_;
    saved_ = true;
    file_ = file;
    traits_.location.clear();
    name_ = NameOf(file);
    holdFile();
    SetWindowTextW(frame_, (name_ + L" - Word").c_str());
}

void Document::close(bool saveChanges) {
    // A never-saved document has no file to save to; Word would ask for a
    // name, which an unattended instance must not do: it just closes.
    if (saveChanges && !file_.empty() && content_ != savedContent_) save();
    closed_ = true;
    releaseFile();
    if (frame_) DestroyWindow(std::exchange(frame_, nullptr));
    TheApplication().documents().remove(this);
}

void Document::call(const Member& member, bool put, Args& args, VARIANT& result) {
    checkOpen();
    switch (member.id) {
    case DISPID_VALUE: SetText(result, name_); break;
    case 1: SetText(result, traits_.location.empty() ? FolderOf(file_) : traits_.location); break;
    case 3: SetText(result, fullName()); break;
    case 2000: {
        if (args.given(0) || args.given(1))
            throw WordError(4198, L"The stand-in only has whole-document ranges: call Range without arguments.");
        ComPtr<Range> range;
        range.Attach(new Range(this));
        SetObject(result, range.Get());
        break;
    }
    case 102: saveAs(args.text(0)); break;
    case 1105: {
        // wdSaveChanges is True (-1); False and wdPromptToSaveChanges (-2),
        // which an unattended instance cannot ask, discard.
        bool save = false;
        if (args.given(0)) {
            VARIANT v;
            VariantInit(&v);
            if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(args.at(0)), 0, VT_I4)))
                throw DispatchError{DISP_E_TYPEMISMATCH, 0};
            save = V_I4(&v) == -1;
        }
        CloseAsUser(*this, save ? UserAnswer::Save : UserAnswer::DontSave);
        break;
    }
    case 553:
        // Word cannot serialise what the rights client keeps encrypted.
        if (traits_.rightsManaged) throw WordError(4198, L"Command failed");
        SetText(result, FlatOpc(parts()));
        break;
    case 60: SetBool(result, traits_.hasPassword); break;
    case 40:
        // A macro can say so without saving: only the flag changes.
        if (put) saved_ = args.valueBool();
        else SetBool(result, saved_);
        break;
    case 108: save(); break;
    case 400: {
        ComPtr<Permission> permission;
        permission.Attach(new Permission(this));
        SetObject(result, permission.Get());
        break;
    }
    }
}

// ---- Permission --------------------------------------------------------------

namespace {
const Member kPermissionMembers[] = {
    {L"Enabled", DISPID_VALUE, MemberKind::Get, {}},
};
}

std::span<const Member> Permission::members() const { return kPermissionMembers; }

void Permission::call(const Member&, bool, Args&, VARIANT& result) {
    document_->checkOpen();
    SetBool(result, document_->rightsManaged());
}

// ---- Range -------------------------------------------------------------------

namespace {
const Member kRangeMembers[] = {
    {L"Text", DISPID_VALUE, MemberKind::GetPut, {}},
    {L"Copy", 1, MemberKind::Method, {}},
    {L"Paste", 2, MemberKind::Method, {}},
};
}

std::span<const Member> Range::members() const { return kRangeMembers; }

void Range::call(const Member& member, bool put, Args& args, VARIANT& result) {
    document_->checkOpen();
    switch (member.id) {
    case DISPID_VALUE:
        if (put) document_->setContent(ContentFromText(args.valueText()));
        else SetText(result, RangeText(document_->content()));
        break;
    case 1: PutOnClipboard(TheApplication().window(), document_->content()); break;
    case 2: document_->setContent(TakeFromClipboard(TheApplication().window())); break;
    }
}

// ---- Files the user opens --------------------------------------------------------

std::string ReadWholeFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw WordError(kErrorCannotOpen, L"Word cannot open the file " + path);
    std::string bytes;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n) bytes.append(buffer, n);
    return bytes;
}

ComPtr<Document> OpenDocumentFile(const std::wstring& path, DocumentExtras extras, DocumentTraits traits) {
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (n == 0 || n >= std::size(full)) throw WordError(kErrorCannotOpen, L"Not a valid file name: " + path);
    std::string bytes = ReadWholeFile(full);
    std::wstring content;
    std::vector<PackagePart> parts;
    const bool given = !extras.header.empty() || !extras.image.empty();
    if (LooksLikeZip(bytes)) {
        DocumentExtras held;
        try {
            parts = ReadDocxParts(bytes);
            content = ContentOfParts(parts, &held);
        } catch (const std::exception& e) {
            throw WordError(kErrorCannotOpen, L"Not a Word package (" + FromUtf8(e.what()) + L"): " + full);
        }
        if (extras.header.empty()) extras.header = std::move(held.header);
        if (extras.image.empty()) extras.image = std::move(held.image);
    } else {
        content = ContentFromFile(bytes);
    }
    std::wstring file = full;
    const bool modified = traits.modified;
    ComPtr<Document> document;
    document.Attach(
        new Document(file.substr(file.find_last_of(L'\\') + 1), file, content, std::move(extras), std::move(traits)));
    if (!parts.empty() && !given) document->holdPackage(std::move(parts));
    document->holdFile();
    // Typed into since: in Word only, its file as it was.
    if (modified) document->setContent(content + L"\rChanged since it was saved.");
    return document;
}
