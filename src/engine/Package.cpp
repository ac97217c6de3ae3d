#include "engine/Package.h"

#include "common/Failure.h"
#include "common/Text.h"
#include "common/Zip.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <optional>

namespace {

// Parts whose content Word rewrites at every read of the package (their
// time stamps and the like): left out of the fingerprint.
constexpr std::wstring_view kVolatileTypes[] = {
    L"application/vnd.openxmlformats-package.core-properties+xml",
    L"application/vnd.openxmlformats-officedocument.extended-properties+xml",
};

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull, kFnvPrime = 1099511628211ull;

void Mix(std::uint64_t& hash, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * kFnvPrime;
}

// Content types compare case-insensitively, so do extensions (ASCII).
std::wstring Lower(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The extension of the part's last segment, lower-case; empty for none.
std::wstring ExtensionOf(const std::wstring& name) {
    const size_t slash = name.rfind(L'/');
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash) || dot + 1 == name.size()) return {};
    return Lower(name.substr(dot + 1));
}

void AppendAttribute(std::wstring& xml, const wchar_t* name, const std::wstring& value) {
    xml += L' ';
    xml += name;
    xml += L"=\"";
    for (wchar_t c : value) {
        switch (c) {
            case L'&': xml += L"&amp;"; break;
            case L'<': xml += L"&lt;"; break;
            case L'"': xml += L"&quot;"; break;
            default: xml += c;
        }
    }
    xml += L'"';
}

}  // namespace

std::wstring PackageExtension(const std::vector<PackagePart>& parts) {
    static constexpr std::pair<std::wstring_view, const wchar_t*> kMainTypes[] = {
        {L"application/vnd.ms-word.document.macroenabled.main+xml", L".docm"},
        {L"application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml", L".dotx"},
        {L"application/vnd.ms-word.template.macroenabledtemplate.main+xml", L".dotm"},
    };
    for (const PackagePart& part : parts) {
        const std::wstring type = Lower(part.contentType);
        for (const auto& [mainType, extension] : kMainTypes)
            if (type == mainType) return extension;
    }
    return L".docx";
}

std::string ContentTypesXml(const std::vector<PackagePart>& parts) {
    // Extension -> the content type all its parts share, or none.
    std::map<std::wstring, std::optional<std::wstring>> defaults;
    for (const PackagePart& part : parts) {
        const std::wstring extension = ExtensionOf(part.name);
        if (extension.empty()) continue;
        auto [at, added] = defaults.try_emplace(extension, part.contentType);
        if (!added && at->second && Lower(*at->second) != Lower(part.contentType)) at->second.reset();
    }
    std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                       L"<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    for (const auto& [extension, type] : defaults) {
        if (!type) continue;
        xml += L"<Default";
        AppendAttribute(xml, L"Extension", extension);
        AppendAttribute(xml, L"ContentType", *type);
        xml += L"/>";
    }
    for (const PackagePart& part : parts) {
        auto shared = defaults.find(ExtensionOf(part.name));
        if (shared != defaults.end() && shared->second) continue;
        xml += L"<Override";
        AppendAttribute(xml, L"PartName", L"/" + part.name);
        AppendAttribute(xml, L"ContentType", part.contentType);
        xml += L"/>";
    }
    xml += L"</Types>";
    return ToUtf8(xml);
}

DocxPackage DocxFromFlatOpc(std::wstring_view flatOpc) {
    const std::vector<PackagePart> parts = ReadFlatOpc(flatOpc);
    // Part names compare case-insensitively in a package; a second part of
    // one name, or one named like the content types, would make two entries
    // of one name.  (ReadFlatOpc has checked each name.)
    std::map<std::wstring, bool> names{{L"[content_types].xml", true}};
    for (const PackagePart& part : parts) {
        if (!names.emplace(Lower(part.name), true).second)
            throw Failure::Text(kPackageUnreadable + (L"two parts are named /" + part.name + L"."));
    }

    DocxPackage package;
    ZipWriter zip;
    zip.add("[Content_Types].xml", ContentTypesXml(parts));
    std::uint64_t hash = kFnvOffset, hashed = 0;
    for (const PackagePart& part : parts) {
        zip.add(ToUtf8(part.name), part.bytes, part.stored);
        const std::wstring type = Lower(part.contentType);
        if (std::find(std::begin(kVolatileTypes), std::end(kVolatileTypes), type) != std::end(kVolatileTypes))
            continue;
        Mix(hash, part.name.data(), (part.name.size() + 1) * sizeof(wchar_t));  // with its terminator
        const std::uint64_t size = part.bytes.size();
        Mix(hash, &size, sizeof size);
        Mix(hash, part.bytes.data(), part.bytes.size());
        hashed += size;
    }
    package.bytes = zip.finish();
    package.extension = PackageExtension(parts);
    package.fingerprint = {hash, hashed};
    return package;
}
