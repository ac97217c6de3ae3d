#include "backupswindow/BackupText.h"

#include "backupswindow/BackupActions.h"
#include "common/Failure.h"
#include "common/Text.h"
#include "common/ZipReader.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view LocalName(std::string_view qname) {
    const size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

void AppendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x110000) {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Character data with its references decoded, appended as UTF-8.
void AppendDecoded(std::string& out, std::string_view raw) {
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const size_t semi = raw.find(';', i);
        if (semi == std::string_view::npos) {
            out += raw.substr(i);
            return;
        }
        const std::string_view name = raw.substr(i + 1, semi - i - 1);
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "amp") out += '&';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            AppendUtf8(out, std::strtoul(std::string(name.substr(hex ? 2 : 1)).c_str(), nullptr, hex ? 16 : 10));
        } else {
            out += raw.substr(i, semi - i + 1);
        }
        i = semi;
    }
}

// One tag: its qualified name, whether it closes or is empty, and its attributes' text.
struct Tag {
    std::string_view name, attributes;
    bool closing = false, empty = false;
    bool cut = false;  // xml ends before the tag does
};

// The tag starting at xml[at] ('<'), and where it ends (past '>').  Comments,
// processing instructions, CDATA and declarations come back nameless.
Tag ReadTag(std::string_view xml, size_t at, size_t& end) {
    Tag tag;
    auto skipTo = [&](std::string_view close) {
        const size_t found = xml.find(close, at);
        tag.cut = found == std::string_view::npos;
        end = tag.cut ? xml.size() : found + close.size();
    };
    size_t i = at + 1;
    const char next = i < xml.size() ? xml[i] : '>';
    if (next == '!') {
        if (xml.compare(at, 4, "<!--") == 0) return skipTo("-->"), tag;
        if (xml.compare(at, 9, "<![CDATA[") == 0) return skipTo("]]>"), tag;
        return skipTo(">"), tag;
    }
    if (next == '?') return skipTo("?>"), tag;
    if (next == '/') tag.closing = true, ++i;
    const size_t nameAt = i;
    while (i < xml.size() && !IsBlank(xml[i]) && xml[i] != '>' && xml[i] != '/') ++i;
    tag.name = xml.substr(nameAt, i - nameAt);
    const size_t attributesAt = i;
    char quote = 0;
    if (i < xml.size() && xml[i] == '>') {  // most tags: no attributes
        end = i + 1;
        return tag;
    }
    for (; i < xml.size(); ++i) {
        if (quote) {
            if (xml[i] == quote) quote = 0;
        } else if (xml[i] == '"' || xml[i] == '\'') {
            quote = xml[i];
        } else if (xml[i] == '>') {
            break;
        }
    }
    tag.cut = i >= xml.size();
    end = tag.cut ? xml.size() : i + 1;
    tag.empty = i > attributesAt && xml[i - 1] == '/';
    tag.attributes = xml.substr(attributesAt, i - attributesAt);
    return tag;
}

// The decoded value of attribute name (qualified as written) in a tag's attributes.
std::string Attribute(std::string_view attributes, std::string_view name) {
    for (size_t at = 0; (at = attributes.find(name, at)) != std::string_view::npos; at += name.size()) {
        if (at > 0 && !IsBlank(attributes[at - 1])) continue;
        size_t i = at + name.size();
        while (i < attributes.size() && IsBlank(attributes[i])) ++i;
        if (i >= attributes.size() || attributes[i] != '=') continue;
        ++i;
        while (i < attributes.size() && IsBlank(attributes[i])) ++i;
        if (i >= attributes.size() || (attributes[i] != '"' && attributes[i] != '\'')) continue;
        const size_t close = attributes.find(attributes[i], i + 1);
        if (close == std::string_view::npos) return {};
        std::string value;
        AppendDecoded(value, attributes.substr(i + 1, close - i - 1));
        return value;
    }
    return {};
}

// A relationship's target as a part name: relative to folder unless it
// starts with a slash (the package root), "." and ".." resolved.
std::string Resolved(std::string_view folder, std::string_view target) {
    const std::string joined =
        target.starts_with('/') ? std::string(target.substr(1)) : std::string(folder) + std::string(target);
    std::vector<std::string_view> segments;
    for (size_t at = 0; at <= joined.size();) {
        const size_t slash = std::min(joined.find('/', at), joined.size());
        const std::string_view segment = std::string_view(joined).substr(at, slash - at);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        at = slash + 1;
    }
    std::string path;
    for (std::string_view segment : segments) path += (path.empty() ? "" : "/") + std::string(segment);
    return path;
}

}  // namespace

namespace {

// No tag of Word's is near this long, and no part holds this much text
// (Word's own limit for a text-only document is 32 MB).
constexpr size_t kLongestTag = 16 << 20, kLongestText = 64 << 20;
// Relationship parts hold a line per relationship.
constexpr std::uint32_t kLargestRelationships = 4 << 20;

// WordprocessingText a piece at a time, as a part is inflated: a tag or a
// reference that a piece cuts waits for the next piece.
class WordprocessingReader {
public:
    void feed(std::string_view piece) {
        if (pending_.empty()) {
            pending_.assign(piece.substr(scan(piece, false)));
        } else {
            pending_ += piece;
            pending_.erase(0, scan(pending_, false));
        }
        if (pending_.size() > kLongestTag || out_.size() > kLongestText)
            throw Failure::Text(L"A part of the package is too large to be read.");
    }
    std::wstring finish() {
        scan(pending_, true);
        pending_.clear();
        while (!out_.empty() && out_.back() == '\n') out_.pop_back();
        return FromUtf8(out_);
    }
    // How much of xml it took: all when whole, else up to a cut tag or reference.
    size_t scan(std::string_view xml, bool whole);

private:
    std::string pending_, out_;
    int inText_ = 0, inTabStops_ = 0;  // inside w:t; inside w:tabs (tab stops, not tabs)
};

size_t WordprocessingReader::scan(std::string_view xml, bool whole) {
    size_t at = 0;
    while (at < xml.size()) {
        // Inline, not memchr: tags mostly touch, and a call per tag costs more than the bytes between.
        size_t lt = at;
        while (lt < xml.size() && xml[lt] != '<') ++lt;
        if (inText_ && lt != at) {
            size_t upTo = lt;
            if (lt == xml.size() && !whole) {
                const size_t amp = xml.rfind('&');
                if (amp != std::string_view::npos && amp >= at && lt - amp < 16 &&
                    xml.find(';', amp) == std::string_view::npos)
                    upTo = amp;
            }
            AppendDecoded(out_, xml.substr(at, upTo - at));
            if (upTo != lt) return upTo;
        }
        if (lt == xml.size()) return lt;
        size_t end;
        const Tag tag = ReadTag(xml, lt, end);
        if (tag.cut && !whole) return lt;
        const std::string_view local = LocalName(tag.name);
        if (local == "t") {
            if (!tag.empty) inText_ = tag.closing ? 0 : 1;
        } else if (local == "tabs") {
            if (!tag.empty) inTabStops_ += tag.closing ? -1 : 1;
        } else if (!tag.closing) {
            if (local == "tab" && inTabStops_ <= 0) out_ += '\t';
            else if (local == "br" || local == "cr") out_ += '\v';
            else if (local == "p" && tag.empty) out_ += '\n';
        } else if (local == "p") {
            out_ += '\n';
        }
        at = end;
    }
    return at;
}

}  // namespace

std::wstring WordprocessingText(std::string_view xml) {
    WordprocessingReader reader;
    reader.scan(xml, true);
    return reader.finish();
}

std::vector<std::string> RelationshipTargets(std::string_view rels, std::string_view folder,
                                             const std::vector<std::string_view>& typeEnds) {
    std::vector<std::string> targets;
    size_t at = 0;
    while ((at = rels.find('<', at)) != std::string_view::npos) {
        size_t end;
        const Tag tag = ReadTag(rels, at, end);
        at = end;
        if (tag.closing || LocalName(tag.name) != "Relationship") continue;
        if (Attribute(tag.attributes, "TargetMode") == "External") continue;
        const std::string type = Attribute(tag.attributes, "Type");
        for (std::string_view wanted : typeEnds)
            if (type.ends_with(wanted)) {
                targets.push_back(Resolved(folder, Attribute(tag.attributes, "Target")));
                break;
            }
    }
    return targets;
}

std::shared_ptr<const PartText> BackupTexts::part(std::string_view package, const ZipEntry& entry) {
    const std::string key = entry.name + '\n' + std::to_string(entry.crc) + '\n' + std::to_string(entry.size) + '\n' +
                            std::to_string(entry.compressedSize);
    {
        std::lock_guard lock(mutex_);
        if (auto it = parts_.find(key); it != parts_.end()) return it->second;
    }
    auto text = std::make_shared<PartText>();
    text->name = entry.name;
    WordprocessingReader reader;
    ReadZipEntryPieces(package, entry, [&](std::string_view piece) { reader.feed(piece); });
    text->text = reader.finish();
    text->folded = fold_.fold(text->text);
    std::lock_guard lock(mutex_);
    return parts_.emplace(key, std::move(text)).first->second;
}

std::shared_ptr<const BackupText> BackupTexts::fromPackage(std::string_view package) {
    const std::vector<ZipEntry> entries = ReadZipDirectory(package);
    auto partOf = [&](const std::string& name) -> const ZipEntry* {
        return name.empty() ? nullptr : FindZipEntry(entries, name);
    };
    const ZipEntry* rels = partOf("_rels/.rels");
    const std::vector<std::string> main =
        rels ? RelationshipTargets(ReadZipEntry(package, *rels, kLargestRelationships), "", {"/officeDocument"})
             : std::vector<std::string>{};
    const ZipEntry* document = partOf(main.empty() ? std::string() : main.front());
    if (!document) throw Failure::Text(L"The package holds no Word document.");
    auto text = std::make_shared<BackupText>();
    text->parts.push_back(part(package, *document));
    const size_t slash = document->name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : document->name.substr(0, slash + 1);
    const std::string last = document->name.substr(folder.size());
    if (const ZipEntry* own = partOf(folder + "_rels/" + last + ".rels"))
        for (const std::string& name :
             RelationshipTargets(ReadZipEntry(package, *own, kLargestRelationships), folder,
                                 {"/header", "/footer", "/footnotes", "/endnotes", "/comments"}))
            if (const ZipEntry* entry = partOf(name)) text->parts.push_back(part(package, *entry));
    return text;
}

std::shared_ptr<const BackupText> BackupTexts::read(const std::wstring& path, std::uint64_t written,
                                                    std::uint64_t size) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = backups_.find(path); it != backups_.end() && it->second.written == written &&
                                           it->second.size == size)
            return it->second.text;
    }
    std::shared_ptr<const BackupText> text = fromPackage(BackupPackageBytes(path));
    std::lock_guard lock(mutex_);
    backups_[path] = Kept{written, size, text};
    return text;
}

void BackupTexts::clear() {
    std::lock_guard lock(mutex_);
    backups_.clear();
    parts_.clear();
}

bool IsClassicWordFile(const std::wstring& path) {
    return path.size() > 4 && CompareStringOrdinal(path.c_str() + path.size() - 4, 4, L".doc", 4, TRUE) == CSTR_EQUAL;
}
