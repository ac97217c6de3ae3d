// Reading Flat OPC without an XML library.  Each XML part is cut out of the
// string exactly as Word wrote it (every character, character reference,
// comment, processing instruction and blank), so nothing can be lost or
// changed in a re-serialisation; only the package's own elements are parsed,
// strictly, and what the parts hold is walked just far enough to find where
// each one ends and which namespace declarations it relies on from outside.
#include "engine/Package.h"

#include "common/Failure.h"
#include "common/Text.h"

#include <algorithm>
#include <optional>
#include <utility>

const wchar_t kPackageUnreadable[] = L"The document's package could not be read: ";

namespace {

constexpr std::wstring_view kPackageNs = L"http://schemas.microsoft.com/office/2006/xmlPackage";
constexpr std::wstring_view kXmlNs = L"http://www.w3.org/XML/1998/namespace";
// Markup compatibility: its attributes name prefixes in their values
// (mc:Ignorable="w14 wp14"), and a consumer fails on an undeclared one.
constexpr std::wstring_view kCompatibilityNs = L"http://schemas.openxmlformats.org/markup-compatibility/2006";

[[noreturn]] void Unreadable(const std::wstring& what) { throw Failure::Text(kPackageUnreadable + what); }

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsBlank(std::wstring_view text) { return std::all_of(text.begin(), text.end(), IsSpace); }

std::wstring_view PrefixOf(std::wstring_view qname) {
    const size_t colon = qname.find(L':');
    return colon == std::wstring_view::npos ? std::wstring_view() : qname.substr(0, colon);
}
std::wstring_view LocalOf(std::wstring_view qname) { return qname.substr(qname.find(L':') + 1); }

// A package's part name (after its leading "/"): non-empty segments, none of
// them "." or ".." or ending in a dot, no backslash and no control character.
// Anything else would make a ZIP entry that leaves the package's folder or
// that no reader finds.
bool IsValidPartName(std::wstring_view name) {
    size_t start = 0;
    while (true) {
        const size_t slash = name.find(L'/', start);
        const std::wstring_view segment = name.substr(start, slash == std::wstring_view::npos ? slash : slash - start);
        if (segment.empty() || segment.back() == L'.') return false;
        for (wchar_t c : segment)
            if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == L'\\') return false;
        if (slash == std::wstring_view::npos) return true;
        start = slash + 1;
    }
}

void AppendCodePoint(std::wstring& out, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) Unreadable(L"a character reference is not valid.");
    if (code >= 0x10000) {
        code -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (code >> 10));
        out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
        out += static_cast<wchar_t>(code);
    }
}

// An attribute's value as an XML reader gives it: references replaced,
// literal line breaks and tabs as blanks.
std::wstring AttributeValue(std::wstring_view raw) {
    std::wstring value;
    for (size_t i = 0; i < raw.size(); ++i) {
        const wchar_t c = raw[i];
        if (c == L'\r' && i + 1 < raw.size() && raw[i + 1] == L'\n') continue;
        if (IsSpace(c)) {
            value += L' ';
            continue;
        }
        if (c != L'&') {
            value += c;
            continue;
        }
        const size_t end = raw.find(L';', i);
        if (end == std::wstring_view::npos) Unreadable(L"an attribute holds a bare \"&\".");
        const std::wstring_view ref = raw.substr(i + 1, end - i - 1);
        static constexpr std::pair<std::wstring_view, wchar_t> kEntities[] = {
            {L"lt", L'<'}, {L"gt", L'>'}, {L"amp", L'&'}, {L"quot", L'"'}, {L"apos", L'\''}};
        const auto named = std::find_if(std::begin(kEntities), std::end(kEntities),
                                        [&](const auto& e) { return e.first == ref; });
        if (named != std::end(kEntities)) {
            value += named->second;
        } else if (ref.size() > 1 && ref[0] == L'#') {
            const bool hex = ref[1] == L'x';
            const std::wstring digits(ref.substr(hex ? 2 : 1));
            wchar_t* stop = nullptr;
            const unsigned long code = wcstoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (digits.empty() || *stop || !iswxdigit(digits[0])) Unreadable(L"a character reference is not valid.");
            AppendCodePoint(value, code);
        } else {
            Unreadable(L"an attribute refers to an unknown entity.");
        }
        i = end;
    }
    return value;
}

// Base64 as Word writes it (76-character lines); any whitespace between.
std::optional<std::string> DecodeBase64(std::wstring_view text) {
    auto sextet = [](wchar_t c) -> int {
        if (c >= L'A' && c <= L'Z') return c - L'A';
        if (c >= L'a' && c <= L'z') return c - L'a' + 26;
        if (c >= L'0' && c <= L'9') return c - L'0' + 52;
        if (c == L'+') return 62;
        if (c == L'/') return 63;
        return -1;
    };
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    unsigned long group = 0;
    int count = 0, padding = 0;
    for (const wchar_t c : text) {
        if (IsSpace(c)) continue;
        if (c == L'=') {
            ++padding;
            group <<= 6;
        } else {
            const int value = sextet(c);
            if (value < 0 || padding) return std::nullopt;  // nothing may follow the padding
            group = group << 6 | value;
        }
        if (++count % 4) continue;
        if (padding > 2) return std::nullopt;
        bytes += static_cast<char>(group >> 16);
        if (padding < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1) bytes += static_cast<char>(group & 0xFF);
        group = 0;
    }
    if (count % 4) return std::nullopt;
    return bytes;
}

struct Attribute {
    std::wstring_view name;
    std::wstring_view raw;  // between its quotes, as written
    wchar_t quote = L'"';
};

struct StartTag {
    std::wstring_view name;
    std::vector<Attribute> attributes;
    bool empty = false;
    size_t close = 0;  // where its ">" or "/>" stands
};

// A namespace binding: what it is, and its declaration as written, to be
// copied into a part that relies on it.
struct Binding {
    std::wstring_view prefix;
    std::wstring uri;
    const Attribute* declaration = nullptr;
};

class FlatOpcScanner {
public:
    explicit FlatOpcScanner(std::wstring_view text) : text_(text) {}

    std::vector<PackagePart> parts() {
        if (text_.starts_with(L'\xFEFF')) pos_ = 1;
        skipMisc(kNotAPackage);
        if (!at(L"<") || at(L"</")) Unreadable(kNotAPackage);
        const StartTag package = startTag();
        const size_t mark = bind(package, scope_);
        if (!isPackage(package, L"package")) Unreadable(kNotAPackage);
        std::vector<PackagePart> parts;
        while (!package.empty) {
            skipMisc(L"text between the parts.");
            if (at(L"</")) {
                endTag(package.name);
                break;
            }
            parts.push_back(readPart(startTag()));
        }
        scope_.resize(mark);
        skipMisc(L"content after the package.");
        if (pos_ != text_.size()) Unreadable(L"content after the package.");
        if (parts.empty()) Unreadable(L"it holds no parts.");
        return parts;
    }

private:
    bool at(std::wstring_view literal) const { return text_.substr(pos_).starts_with(literal); }

    size_t find(std::wstring_view what, const wchar_t* missing) const {
        const size_t found = text_.find(what, pos_);
        if (found == std::wstring_view::npos) Unreadable(missing);
        return found;
    }

    static constexpr const wchar_t* kNotAPackage = L"it is not a Flat OPC package (no pkg:package element).";

    // Past blanks, comments and processing instructions; other text is the
    // failure named by text (outside any part only blanks may stand).
    void skipMisc(const wchar_t* text) {
        for (;;) {
            while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
            if (at(L"<!--")) {
                pos_ = find(L"-->", L"a comment does not end.") + 3;
            } else if (at(L"<?")) {
                pos_ = find(L"?>", L"a processing instruction does not end.") + 2;
            } else if (at(L"<!")) {
                Unreadable(L"it holds a document type or CDATA outside the parts.");
            } else {
                if (pos_ < text_.size() && text_[pos_] != L'<') Unreadable(text);
                return;
            }
        }
    }

    std::wstring_view readName() {
        const size_t start = pos_;
        while (pos_ < text_.size() && !IsSpace(text_[pos_]) && !wcschr(L"/>=<?\"'", text_[pos_])) ++pos_;
        if (pos_ == start) Unreadable(L"it is not well-formed XML (a name is missing at character " +
                                      std::to_wstring(start) + L").");
        return text_.substr(start, pos_ - start);
    }

    void skipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }

    // At "<": the start tag, its attributes as written.
    StartTag startTag() {
        StartTag tag;
        ++pos_;
        tag.name = readName();
        for (;;) {
            const size_t before = pos_;
            skipSpace();
            if (at(L"/>") || at(L">")) {
                tag.close = pos_;
                tag.empty = at(L"/>");
                pos_ += tag.empty ? 2 : 1;
                return tag;
            }
            if (pos_ == before || pos_ >= text_.size()) Unreadable(L"it is not well-formed XML (a tag does not end).");
            Attribute attribute;
            attribute.name = readName();
            skipSpace();
            if (!at(L"=")) Unreadable(L"it is not well-formed XML (an attribute has no value).");
            ++pos_;
            skipSpace();
            if (!at(L"\"") && !at(L"'")) Unreadable(L"it is not well-formed XML (an attribute value is not quoted).");
            attribute.quote = text_[pos_++];
            const size_t end = text_.find(attribute.quote, pos_);
            if (end == std::wstring_view::npos) Unreadable(L"it is not well-formed XML (an attribute value does not end).");
            attribute.raw = text_.substr(pos_, end - pos_);
            if (attribute.raw.find(L'<') != std::wstring_view::npos)
                Unreadable(L"it is not well-formed XML (\"<\" in an attribute value).");
            pos_ = end + 1;
            tag.attributes.push_back(attribute);
        }
    }

    // At "</": the end tag, which must close expected.
    void endTag(std::wstring_view expected) {
        pos_ += 2;
        const std::wstring_view closed = readName();
        skipSpace();
        if (!at(L">")) Unreadable(L"it is not well-formed XML (an end tag does not end).");
        ++pos_;
        if (closed != expected)
            Unreadable(L"it is not well-formed XML (</" + std::wstring(closed) + L"> where </" + std::wstring(expected) +
                       L"> belongs).");
    }

    // The tag's namespace declarations added to scope; answers the mark to
    // cut scope back to when the element ends.
    static size_t bind(const StartTag& tag, std::vector<Binding>& scope) {
        const size_t mark = scope.size();
        for (const Attribute& attribute : tag.attributes)
            if (attribute.name == L"xmlns" || attribute.name.starts_with(L"xmlns:"))
                scope.push_back({attribute.name.size() > 5 ? attribute.name.substr(6) : std::wstring_view(),
                                 AttributeValue(attribute.raw), &attribute});
        return mark;
    }

    static const Binding* lookup(const std::vector<Binding>& scope, std::wstring_view prefix) {
        auto found = std::find_if(scope.rbegin(), scope.rend(), [&](const Binding& b) { return b.prefix == prefix; });
        return found == scope.rend() ? nullptr : &*found;
    }

    bool isPackage(const StartTag& tag, std::wstring_view local) const {
        const Binding* binding = lookup(scope_, PrefixOf(tag.name));
        return binding && binding->uri == kPackageNs && LocalOf(tag.name) == local;
    }

    std::wstring packageAttribute(const StartTag& tag, std::wstring_view local) const {
        for (const Attribute& attribute : tag.attributes) {
            const Binding* binding = lookup(scope_, PrefixOf(attribute.name));
            if (!PrefixOf(attribute.name).empty() && binding && binding->uri == kPackageNs &&
                LocalOf(attribute.name) == local)
                return AttributeValue(attribute.raw);
        }
        return {};
    }

    PackagePart readPart(const StartTag& tag) {
        const size_t mark = bind(tag, scope_);  // its own declarations count for its name
        if (!isPackage(tag, L"part")) Unreadable(L"an element other than pkg:part in the package.");
        PackagePart part;
        const std::wstring name = packageAttribute(tag, L"name");
        part.contentType = packageAttribute(tag, L"contentType");
        part.stored = packageAttribute(tag, L"compression") == L"store";
        if (name.empty()) Unreadable(L"a part has no pkg:name.");
        if (part.contentType.empty()) Unreadable(L"part " + name + L" has no pkg:contentType.");
        if (name[0] != L'/') Unreadable(L"part name " + name + L" does not begin with \"/\".");
        part.name = name.substr(1);
        if (!IsValidPartName(part.name)) Unreadable(L"part name " + name + L" is not valid.");
        const std::wstring inPart = L" in part " + name + L".";
        if (tag.empty) Unreadable(L"part " + name + L" has no content.");
        skipMisc((L"text" + inPart).c_str());
        if (at(L"</")) Unreadable(L"part " + name + L" has no content.");
        const StartTag content = startTag();
        const size_t contentMark = bind(content, scope_);
        if (isPackage(content, L"xmlData"))
            part.bytes = xmlData(content, name);
        else if (isPackage(content, L"binaryData"))
            part.bytes = binaryData(content, name);
        else
            Unreadable(L"part " + name + L" holds neither pkg:xmlData nor pkg:binaryData.");
        scope_.resize(contentMark);
        skipMisc((L"text" + inPart).c_str());
        if (!at(L"</")) Unreadable(L"part " + name + L" has more than one content.");
        endTag(tag.name);
        scope_.resize(mark);
        return part;
    }

    std::string binaryData(const StartTag& tag, const std::wstring& name) {
        if (tag.empty) return {};
        const size_t end = find(L"<", L"it ends inside an element.");
        const std::wstring_view base64 = text_.substr(pos_, end - pos_);
        pos_ = end;
        if (!at(L"</")) Unreadable(L"an element in the binary data of part " + name + L".");
        endTag(tag.name);
        std::optional<std::string> bytes = DecodeBase64(base64);
        if (!bytes) Unreadable(L"the binary data of part " + name + L" is not base64.");
        return std::move(*bytes);
    }

    // The prefixes of an element's attributes, and those that a markup
    // compatibility attribute's value lists ("w14 wp14") or names ("w14:*").
    void useAttributePrefixes(const StartTag& element, const std::vector<Binding>& inner, auto&& use) {
        for (const Attribute& attribute : element.attributes) {
            const std::wstring_view prefix = PrefixOf(attribute.name);
            if (prefix.empty() || prefix == L"xmlns" || prefix == L"xml") continue;
            use(prefix, true);
            const Binding* binding = lookup(inner, prefix);
            if ((binding ? binding : lookup(scope_, prefix))->uri != kCompatibilityNs) continue;
            const std::wstring value = AttributeValue(attribute.raw);
            for (size_t from = 0, end = 0; from < value.size(); from = end + 1) {
                end = std::min(value.find(L' ', from), value.size());
                const std::wstring_view token = std::wstring_view(value).substr(from, end - from);
                if (!token.empty()) use(PrefixOf(token).empty() ? token : PrefixOf(token), false);
            }
        }
    }

    // The part's text between the pkg:xmlData tags, as it stands, in UTF-8
    // behind a declaration of its own; its root element gets the
    // declarations of the namespaces it uses from around it.
    std::string xmlData(const StartTag& tag, const std::wstring& name) {
        if (tag.empty) Unreadable(L"part " + name + L" has no XML element.");
        const size_t begin = pos_;
        std::vector<Binding> inner;                 // what the part itself declares, in scope
        std::vector<std::pair<std::wstring_view, size_t>> open;  // element names, with their scope marks
        std::vector<const Binding*> borrowed;       // declarations from around the part, in order of need
        std::optional<size_t> rootClose;
        auto use = [&](std::wstring_view prefix, bool required) {
            if (prefix == L"xml" || lookup(inner, prefix)) return;
            const Binding* outer = lookup(scope_, prefix);
            if (!outer || (prefix.empty() && outer->uri.empty())) {
                if (required && !prefix.empty())
                    Unreadable(L"part " + name + L" uses the undeclared prefix " + std::wstring(prefix) + L".");
                return;
            }
            if (std::find(borrowed.begin(), borrowed.end(), outer) == borrowed.end()) borrowed.push_back(outer);
        };
        for (;;) {
            const size_t lt = find(L"<", L"it ends inside an element.");
            if (open.empty() && !IsBlank(text_.substr(pos_, lt - pos_)))
                Unreadable(L"text beside the XML of part " + name + L".");
            pos_ = lt;
            if (at(L"<!--")) {
                pos_ = find(L"-->", L"a comment does not end.") + 3;
            } else if (at(L"<![CDATA[")) {
                if (open.empty()) Unreadable(L"text beside the XML of part " + name + L".");
                pos_ = find(L"]]>", L"a CDATA section does not end.") + 3;
            } else if (at(L"<?")) {
                pos_ += 2;
                const std::wstring_view target = readName();
                if (target.size() == 3 && _wcsnicmp(target.data(), L"xml", 3) == 0)
                    Unreadable(L"part " + name + L" holds an XML declaration.");
                pos_ = find(L"?>", L"a processing instruction does not end.") + 2;
            } else if (at(L"<!")) {
                Unreadable(L"part " + name + L" holds a document type declaration.");
            } else if (at(L"</")) {
                if (open.empty()) break;  // the end of pkg:xmlData
                endTag(open.back().first);
                inner.resize(open.back().second);
                open.pop_back();
            } else {
                const StartTag element = startTag();
                if (open.empty()) {
                    if (rootClose) Unreadable(L"part " + name + L" has more than one root element.");
                    rootClose = element.close;
                }
                const size_t mark = bind(element, inner);
                use(PrefixOf(element.name), true);
                useAttributePrefixes(element, inner, use);
                if (element.empty)
                    inner.resize(mark);
                else
                    open.emplace_back(element.name, mark);
            }
        }
        if (!rootClose) Unreadable(L"part " + name + L" has no XML element.");
        const std::wstring_view xml = text_.substr(begin, pos_ - begin);
        endTag(tag.name);

        std::wstring declarations;
        for (const Binding* binding : borrowed) {
            const Attribute& d = *binding->declaration;
            declarations.append(L" ").append(d.name).append(L"=").append(1, d.quote).append(d.raw).append(1, d.quote);
        }
        const size_t split = *rootClose - begin;
        std::wstring part = L"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
        part.reserve(part.size() + xml.size() + declarations.size());
        part.append(xml.substr(0, split)).append(declarations).append(xml.substr(split));
        return ToUtf8(part);
    }

    std::wstring_view text_;
    size_t pos_ = 0;
    std::vector<Binding> scope_;  // the package's elements' declarations around the current one
};

}  // namespace

std::vector<PackagePart> ReadFlatOpc(std::wstring_view flatOpc) {
    if (flatOpc.empty()) Unreadable(L"it is empty.");
    return FlatOpcScanner(flatOpc).parts();
}
