// Reading Flat OPC with XmlLite.  A part's XML is written again from the
// reader's events, not cut from the source: the reader's line positions are
// off after entities and characters outside the BMP (Wine), and XmlLite's own
// writer cannot copy a node (it writes "xmlns:xmlns" for a default namespace
// and stops at xml:space under Wine).
#include "engine/Package.h"

#include "common/ComObject.h"
#include "common/Failure.h"
#include "common/Main.h"
#include "common/Text.h"

#include <objidl.h>
#include <wincrypt.h>
#include <wrl/client.h>
#include <xmllite.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

using Microsoft::WRL::ComPtr;

const wchar_t kPackageUnreadable[] = L"The document's package could not be read: ";

namespace {

constexpr std::wstring_view kPackageNs = L"http://schemas.microsoft.com/office/2006/xmlPackage";
constexpr std::wstring_view kXmlnsNs = L"http://www.w3.org/2000/xmlns/";

[[noreturn]] void Unreadable(const std::wstring& what) { throw Failure::Text(kPackageUnreadable + what); }

// XmlLite from System32 by its full path: MinGW has no import library for
// it, and a bare name would find a planted DLL beside the exe first.
struct XmlLite {
    HRESULT(WINAPI* createReader)(REFIID, void**, IMalloc*) = nullptr;
    HRESULT(WINAPI* createInput)(IUnknown*, IMalloc*, LPCWSTR, BOOL, LPCWSTR, IUnknown**) = nullptr;
};
const XmlLite& LoadXmlLite() {
    static const XmlLite xmlLite = [] {
        XmlLite functions;
        const std::wstring folder = SystemFolder();
        if (HMODULE module = folder.empty() ? nullptr : LoadLibraryW((folder + L"\\xmllite.dll").c_str())) {
            functions.createReader =
                reinterpret_cast<decltype(functions.createReader)>(GetProcAddress(module, "CreateXmlReader"));
            functions.createInput = reinterpret_cast<decltype(functions.createInput)>(
                GetProcAddress(module, "CreateXmlReaderInputWithEncodingName"));
        }
        return functions;
    }();
    if (!xmlLite.createReader || !xmlLite.createInput) throw Failure::Text(L"XmlLite (xmllite.dll) could not be loaded.");
    return xmlLite;
}

// The string in UTF-8 as a stream.  Wine's reader stops after its first
// 16 KB of UTF-16 input (it asks the stream for 0 bytes from there on), so
// the text is converted once and read as UTF-8, which it reads through.
// The stream does not own the bytes: Wine's reader never releases the
// stream it was given, which kept every package's text.
class Utf8Stream : public ComObject<ISequentialStream, IID_ISequentialStream> {
public:
    explicit Utf8Stream(std::string_view data) : data_(data) {}
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG wanted, ULONG* got) override {
        const size_t take = std::min<size_t>(wanted, data_.size() - pos_);
        std::memcpy(buffer, data_.data() + pos_, take);
        pos_ += take;
        if (got) *got = static_cast<ULONG>(take);
        return take < wanted ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    bool exhausted() const { return pos_ == data_.size(); }

private:
    const std::string_view data_;
    size_t pos_ = 0;
};

void AppendEscaped(std::wstring& out, const wchar_t* text, UINT length, bool attribute) {
    const wchar_t* run = text;
    auto flush = [&](const wchar_t* at) { out.append(run, at - run); };
    for (const wchar_t* p = text; p != text + length; ++p) {
        const wchar_t* entity = nullptr;
        switch (*p) {
            case L'&': entity = L"&amp;"; break;
            case L'<': entity = L"&lt;"; break;
            case L'>': entity = L"&gt;"; break;
            case L'\r': entity = L"&#xD;"; break;  // a bare CR would be read back as LF
            case L'"': if (attribute) entity = L"&quot;"; break;
            case L'\t': if (attribute) entity = L"&#x9;"; break;  // attribute values normalise these
            case L'\n': if (attribute) entity = L"&#xA;"; break;
        }
        if (!entity) continue;
        flush(p);
        out += entity;
        run = p + 1;
    }
    flush(text + length);
}

// One Flat OPC walk: the reader, the namespaces in scope outside the current
// part, and the part being written.
class FlatOpcReader {
public:
    explicit FlatOpcReader(std::wstring_view text) : utf8_(ToUtf8(text)), length_(text.size()) {
        const XmlLite& xmlLite = LoadXmlLite();
        ThrowIfFailed(xmlLite.createReader(__uuidof(IXmlReader), reinterpret_cast<void**>(reader_.GetAddressOf()),
                                           nullptr));
        ThrowIfFailed(reader_->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit));
        stream_.Attach(new Utf8Stream(utf8_));
        // UTF-8 whatever the declaration says: the text was converted to it.
        ComPtr<IUnknown> input;
        ThrowIfFailed(xmlLite.createInput(stream_.Get(), nullptr, L"utf-8", FALSE, nullptr, input.GetAddressOf()));
        ThrowIfFailed(reader_->SetInput(input.Get()));
    }

    std::vector<PackagePart> parts() {
        std::vector<PackagePart> parts;
        XmlNodeType type;
        // The document: the package element after a declaration, processing
        // instructions and comments.
        while (next(type, true) && type != XmlNodeType_Element)
            if (type == XmlNodeType_Text || type == XmlNodeType_CDATA) Unreadable(L"text outside the package.");
        if (type != XmlNodeType_Element || !isPackage(L"package"))
            Unreadable(L"it is not a Flat OPC package (no pkg:package element).");
        if (!reader_->IsEmptyElement()) {
            ancestors_.push_back(declarations());
            while (next(type) && type != XmlNodeType_EndElement) {
                if (type == XmlNodeType_Text || type == XmlNodeType_CDATA) Unreadable(L"text between the parts.");
                if (type != XmlNodeType_Element) continue;
                if (!isPackage(L"part")) Unreadable(L"an element other than pkg:part in the package.");
                parts.push_back(part());
            }
        }
        while (next(type, true))
            if (type == XmlNodeType_Element || type == XmlNodeType_Text) Unreadable(L"content after the package.");
        if (parts.empty()) Unreadable(L"it holds no parts.");
        return parts;
    }

private:
    using Declarations = std::vector<std::pair<std::wstring, std::wstring>>;  // prefix, namespace

    // Wine's reader, at the end of a text that stops inside an element,
    // answers the last text node again and again.  Every node stands for at
    // least one character of the text.
    bool stuck(XmlNodeType type) {
        if (++nodes_ > length_ + 16) return true;
        const wchar_t* text = nullptr;
        UINT length = 0;
        if (type != XmlNodeType_Text || FAILED(reader_->GetValue(&text, &length))) {
            lastText_ = nullptr;
            return false;
        }
        const bool again = stream_->exhausted() && text == lastText_ && length == lastLength_;
        lastText_ = text;
        lastLength_ = length;
        return again;
    }

    // Read, with the reader's failures (malformed XML) as a clear text.  The
    // end of the text is an error inside an element (Wine's reader answers
    // S_OK with no node there, where Windows' reports the end).
    bool next(XmlNodeType& type, bool endAllowed = false) {
        const HRESULT hr = reader_->Read(&type);
        if (hr == S_OK && type != XmlNodeType_None && !stuck(type)) return true;
        if (hr == S_OK || hr == S_FALSE) {
            if (!endAllowed) Unreadable(L"it ends inside an element.");
            return false;
        }
        UINT line = 0, column = 0;
        reader_->GetLineNumber(&line);
        reader_->GetLinePosition(&column);
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
        Unreadable(L"it is not well-formed XML (error " + std::wstring(code) + L" at line " + std::to_wstring(line) +
                   L", column " + std::to_wstring(column) + L").");
    }

    std::wstring_view localName() { return text(&IXmlReader::GetLocalName); }
    std::wstring_view prefix() { return text(&IXmlReader::GetPrefix); }
    std::wstring_view namespaceUri() { return text(&IXmlReader::GetNamespaceUri); }
    std::wstring_view value() { return text(&IXmlReader::GetValue); }
    // One of the reader's texts of the node it is on.
    std::wstring_view text(HRESULT (STDMETHODCALLTYPE IXmlReader::*get)(const WCHAR**, UINT*)) {
        const wchar_t* text = nullptr;
        UINT length = 0;
        ThrowIfFailed((reader_.Get()->*get)(&text, &length));
        return {text, length};
    }
    bool isPackage(std::wstring_view name) { return namespaceUri() == kPackageNs && localName() == name; }

    // The namespace declarations on the current element.
    Declarations declarations() {
        Declarations found;
        for (HRESULT hr = reader_->MoveToFirstAttribute(); hr == S_OK; hr = reader_->MoveToNextAttribute())
            if (namespaceUri() == kXmlnsNs)
                found.emplace_back(prefix().empty() ? std::wstring() : std::wstring(localName()), value());
        reader_->MoveToElement();
        return found;
    }

    // The current element's pkg: attribute, or empty.
    std::wstring packageAttribute(const wchar_t* name) {
        if (reader_->MoveToAttributeByName(name, kPackageNs.data()) != S_OK) return {};
        std::wstring text(value());
        reader_->MoveToElement();
        return text;
    }

    PackagePart part() {
        PackagePart part;
        std::wstring name = packageAttribute(L"name");
        part.contentType = packageAttribute(L"contentType");
        if (name.empty()) Unreadable(L"a part has no pkg:name.");
        if (part.contentType.empty()) Unreadable(L"part " + name + L" has no pkg:contentType.");
        if (name[0] != L'/') Unreadable(L"part name " + name + L" does not begin with \"/\".");
        part.name = name.substr(1);
        const bool empty = reader_->IsEmptyElement();
        ancestors_.push_back(declarations());
        bool content = false;
        XmlNodeType type;
        while (!empty && next(type) && type != XmlNodeType_EndElement) {
            if (type == XmlNodeType_Text || type == XmlNodeType_CDATA) Unreadable(L"text in part " + name + L".");
            if (type != XmlNodeType_Element) continue;
            if (content) Unreadable(L"part " + name + L" has more than one content.");
            if (isPackage(L"xmlData"))
                part.bytes = xmlData(name);
            else if (isPackage(L"binaryData"))
                part.bytes = binaryData(name);
            else
                Unreadable(L"part " + name + L" holds neither pkg:xmlData nor pkg:binaryData.");
            content = true;
        }
        ancestors_.pop_back();
        if (!content) Unreadable(L"part " + name + L" has no content.");
        return part;
    }

    std::string binaryData(const std::wstring& name) {
        std::wstring base64;
        XmlNodeType type;
        if (!reader_->IsEmptyElement())
            while (next(type) && type != XmlNodeType_EndElement) {
                if (type == XmlNodeType_Element) Unreadable(L"an element in the binary data of part " + name + L".");
                if (type == XmlNodeType_Text || type == XmlNodeType_Whitespace) base64 += value();
            }
        std::string bytes;
        if (base64.find_first_not_of(L" \t\r\n") == std::wstring::npos) return bytes;
        DWORD size = 0;
        const DWORD length = static_cast<DWORD>(base64.size());
        if (CryptStringToBinaryW(base64.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
            bytes.resize(size);
            if (CryptStringToBinaryW(base64.data(), length, CRYPT_STRING_BASE64,
                                     reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr)) {
                bytes.resize(size);
                return bytes;
            }
        }
        Unreadable(L"the binary data of part " + name + L" is not base64.");
    }

    // The element inside pkg:xmlData, written again as a document of its own.
    std::string xmlData(const std::wstring& name) {
        std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
        ancestors_.push_back(declarations());
        bool root = false;
        XmlNodeType type;
        if (!reader_->IsEmptyElement())
            while (next(type) && type != XmlNodeType_EndElement) {
                if (type == XmlNodeType_Text || type == XmlNodeType_CDATA)
                    Unreadable(L"text beside the XML of part " + name + L".");
                if (type != XmlNodeType_Element) continue;
                if (root) Unreadable(L"part " + name + L" has more than one root element.");
                element(xml, true);
                root = true;
            }
        if (!root) Unreadable(L"part " + name + L" has no XML element.");
        ancestors_.pop_back();
        return ToUtf8(xml);
    }

    // Adds a declaration of prefix when the output does not bind it to uri.
    void bind(std::wstring& xml, Declarations& scope, std::wstring_view prefix, std::wstring_view uri) {
        if (prefix == L"xml" || prefix == L"xmlns") return;
        auto bound = std::find_if(scope.rbegin(), scope.rend(), [&](const auto& d) { return d.first == prefix; });
        if (bound != scope.rend() ? bound->second == uri : uri.empty()) return;
        xml += prefix.empty() ? L" xmlns=\"" : L" xmlns:" + std::wstring(prefix) + L"=\"";
        AppendEscaped(xml, uri.data(), static_cast<UINT>(uri.size()), true);
        xml += L'"';
        scope.emplace_back(prefix, uri);
    }

    // The current element and everything in it; at the part's root, the
    // package's own namespace declarations that the part may rely on (also
    // by prefixes named in attribute values, as mc:Ignorable does), except
    // those of the Flat OPC's namespace.
    void element(std::wstring& xml, bool partRoot) {
        Declarations scope;  // what the output declares, outermost first
        std::vector<size_t> depthMarks;
        for (;;) {
            const wchar_t* qname = nullptr;
            UINT qlength = 0;
            ThrowIfFailed(reader_->GetQualifiedName(&qname, &qlength));
            xml += L'<';
            xml.append(qname, qlength);
            depthMarks.push_back(scope.size());
            const bool empty = reader_->IsEmptyElement();
            const std::wstring elementPrefix(prefix()), elementUri(namespaceUri());
            std::vector<std::pair<std::wstring, std::wstring>> used;
            for (HRESULT hr = reader_->MoveToFirstAttribute(); hr == S_OK; hr = reader_->MoveToNextAttribute()) {
                ThrowIfFailed(reader_->GetQualifiedName(&qname, &qlength));
                const std::wstring_view uri = namespaceUri(), text = value();
                xml += L' ';
                xml.append(qname, qlength);
                xml += L"=\"";
                AppendEscaped(xml, text.data(), static_cast<UINT>(text.size()), true);
                xml += L'"';
                if (uri == kXmlnsNs)
                    scope.emplace_back(prefix().empty() ? std::wstring() : std::wstring(localName()), text);
                else if (!prefix().empty())
                    used.emplace_back(prefix(), uri);
            }
            reader_->MoveToElement();
            if (partRoot) {
                std::map<std::wstring, std::wstring> inherited;  // the innermost declaration of each prefix
                for (const auto& level : ancestors_)
                    for (const auto& [p, uri] : level) inherited[p] = uri;
                for (const auto& [p, uri] : inherited)
                    if (uri != kPackageNs &&
                        std::none_of(scope.begin(), scope.end(), [&](const auto& d) { return d.first == p; }))
                        bind(xml, scope, p, uri);
                partRoot = false;
            }
            bind(xml, scope, elementPrefix, elementUri);
            for (const auto& [p, uri] : used) bind(xml, scope, p, uri);
            if (empty) {
                xml += L"/>";
                scope.resize(depthMarks.back());
                depthMarks.pop_back();
            } else {
                xml += L'>';
            }
            // The content up to the next start tag, closing what ends.
            XmlNodeType type = XmlNodeType_None;
            while (!depthMarks.empty()) {
                next(type);
                if (type == XmlNodeType_Element) break;
                const std::wstring_view text = value();
                switch (type) {
                    case XmlNodeType_EndElement:
                        ThrowIfFailed(reader_->GetQualifiedName(&qname, &qlength));
                        xml += L"</";
                        xml.append(qname, qlength);
                        xml += L'>';
                        scope.resize(depthMarks.back());
                        depthMarks.pop_back();
                        break;
                    case XmlNodeType_Text:
                    case XmlNodeType_Whitespace:
                        AppendEscaped(xml, text.data(), static_cast<UINT>(text.size()), false);
                        break;
                    case XmlNodeType_CDATA:
                        xml += L"<![CDATA[";
                        xml += text;
                        xml += L"]]>";
                        break;
                    case XmlNodeType_Comment:
                        xml += L"<!--";
                        xml += text;
                        xml += L"-->";
                        break;
                    case XmlNodeType_ProcessingInstruction:
                        xml += L"<?";
                        xml += localName();
                        if (!text.empty()) xml += L' ';
                        xml += text;
                        xml += L"?>";
                        break;
                    default:
                        break;
                }
            }
            if (depthMarks.empty()) return;
        }
    }

    const std::string utf8_;  // what the stream reads
    ComPtr<Utf8Stream> stream_;
    ComPtr<IXmlReader> reader_;
    size_t length_ = 0, nodes_ = 0;
    const wchar_t* lastText_ = nullptr;
    UINT lastLength_ = 0;
    std::vector<Declarations> ancestors_;  // namespace declarations outside the part, outermost first
};

}  // namespace

std::vector<PackagePart> ReadFlatOpc(std::wstring_view flatOpc) {
    if (flatOpc.empty()) Unreadable(L"it is empty.");
    return FlatOpcReader(flatOpc).parts();
}
