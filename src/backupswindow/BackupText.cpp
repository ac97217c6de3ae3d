#include "backupswindow/BackupText.h"

#include "backupswindow/BackupActions.h"
#include "common/Failure.h"
#include "common/Text.h"
#include "common/ZipReader.h"
#include "engine/Package.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

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
    // Word writes a text box twice, as mc:Choice and as mc:Fallback: per open
    // mc:AlternateContent whether a branch was read; the depth inside one left out.
    std::vector<bool> branchRead_;
    int leftOut_ = 0;
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
        at = end;
        if (leftOut_) {
            if (!tag.name.empty() && !tag.empty) leftOut_ += tag.closing ? -1 : 1;
            continue;
        }
        if (local == "AlternateContent" && !tag.empty) {
            if (tag.closing && !branchRead_.empty()) branchRead_.pop_back();
            else if (!tag.closing) branchRead_.push_back(false);
        } else if ((local == "Choice" || local == "Fallback") && !tag.closing && !tag.empty && !branchRead_.empty()) {
            if (branchRead_.back()) leftOut_ = 1;
            branchRead_.back() = true;
        } else if (local == "t") {
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

namespace {

// The names of the parts whose text a backup shows: the main part, then its
// headers, footers, footnotes, endnotes and comments.  read: a part's bytes
// by name, none when there is no such part.
std::vector<std::string> TextPartNames(const std::function<std::optional<std::string>(const std::string&)>& read) {
    const std::optional<std::string> rels = read("_rels/.rels");
    const std::vector<std::string> main =
        rels ? RelationshipTargets(*rels, "", {"/officeDocument"}) : std::vector<std::string>{};
    if (main.empty() || main.front().empty()) throw Failure::Text(L"The package holds no Word document.");
    std::vector<std::string> names{main.front()};
    const size_t slash = names[0].rfind('/');
    const std::string folder = slash == std::string::npos ? "" : names[0].substr(0, slash + 1);
    if (const auto own = read(folder + "_rels/" + names[0].substr(folder.size()) + ".rels"))
        for (std::string& name :
             RelationshipTargets(*own, folder, {"/header", "/footer", "/footnotes", "/endnotes", "/comments"}))
            names.push_back(std::move(name));
    return names;
}

std::shared_ptr<PartText> TextOf(const std::string& name, std::string_view xml, const TextFold& fold) {
    auto text = std::make_shared<PartText>();
    text->name = name;
    text->text = WordprocessingText(xml);
    text->folded = fold.fold(text->text);
    return text;
}

}  // namespace

std::shared_ptr<const PartText> BackupTexts::kept(const std::string& key) {
    const auto it = parts_.find(key);
    if (it == parts_.end()) return nullptr;
    used_.splice(used_.begin(), used_, it->second.used);
    return it->second.text;
}

void BackupTexts::keep(const std::string& key, std::shared_ptr<const PartText> text) {
    if (parts_.contains(key)) return;
    const size_t bytes = (text->text.capacity() + text->folded.capacity()) * sizeof(wchar_t) + key.size() + 128;
    used_.push_front(key);
    parts_.emplace(key, Part{std::move(text), used_.begin(), bytes});
    bytes_ += bytes;
    // The one just read stays, whatever its size.
    while (bytes_ > budget_ && used_.size() > 1) {
        const auto oldest = parts_.find(used_.back());
        bytes_ -= oldest->second.bytes;
        parts_.erase(oldest);
        used_.pop_back();
    }
}

std::shared_ptr<const PartText> BackupTexts::part(std::string_view package, const ZipEntry& entry,
                                                  std::string& key) {
    key = entry.name + '\n' + std::to_string(entry.crc) + '\n' + std::to_string(entry.size) + '\n' +
          std::to_string(entry.compressedSize);
    {
        std::lock_guard lock(mutex_);
        if (auto text = kept(key)) return text;
    }
    auto text = std::make_shared<PartText>();
    text->name = entry.name;
    WordprocessingReader reader;
    ReadZipEntryPieces(package, entry, [&](std::string_view piece) { reader.feed(piece); });
    text->text = reader.finish();
    text->folded = fold_.fold(text->text);
    std::lock_guard lock(mutex_);
    keep(key, text);
    return text;
}

std::shared_ptr<const BackupText> BackupTexts::fromPackage(std::string_view package) {
    return textOf(package, nullptr);
}

std::shared_ptr<const BackupText> BackupTexts::textOf(std::string_view package, std::vector<std::string>* keys) {
    const std::vector<ZipEntry> entries = ReadZipDirectory(package);
    const std::vector<std::string> names = TextPartNames([&](const std::string& name) -> std::optional<std::string> {
        const ZipEntry* entry = FindZipEntry(entries, name);
        return entry ? std::optional(ReadZipEntry(package, *entry, kLargestRelationships)) : std::nullopt;
    });
    auto text = std::make_shared<BackupText>();
    std::string key;
    for (const std::string& name : names) {
        const ZipEntry* entry = FindZipEntry(entries, name);
        if (!entry && text->parts.empty()) throw Failure::Text(L"The package holds no Word document.");
        if (!entry) continue;
        text->parts.push_back(part(package, *entry, key));
        if (keys) keys->push_back(key);
    }
    return text;
}

std::shared_ptr<const BackupText> BackupTexts::fromFlatOpc(std::wstring_view flatOpc) const {
    std::vector<PackagePart> parts = ReadFlatOpc(flatOpc);
    auto find = [&](const std::string& name) -> const PackagePart* {
        for (const PackagePart& part : parts)
            if (CompareStringOrdinal(part.name.c_str(), -1, FromUtf8(name).c_str(), -1, TRUE) == CSTR_EQUAL)
                return &part;
        return nullptr;
    };
    const std::vector<std::string> names = TextPartNames([&](const std::string& name) -> std::optional<std::string> {
        const PackagePart* part = find(name);
        return part ? std::optional(part->bytes) : std::nullopt;
    });
    auto text = std::make_shared<BackupText>();
    for (const std::string& name : names)
        if (const PackagePart* part = find(name)) text->parts.push_back(TextOf(name, part->bytes, fold_));
    if (text->parts.empty()) throw Failure::Text(L"The package holds no Word document.");
    return text;
}

std::shared_ptr<const BackupText> BackupTexts::read(const std::wstring& path, std::uint64_t written,
                                                    std::uint64_t size) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = backups_.find(path); it != backups_.end() && it->second.written == written &&
                                           it->second.size == size) {
            auto text = std::make_shared<BackupText>();
            for (const std::string& key : it->second.parts)
                if (auto part = kept(key)) text->parts.push_back(std::move(part));
            if (text->parts.size() == it->second.parts.size()) return text;
        }
    }
    std::vector<std::string> keys;
    std::shared_ptr<const BackupText> text = textOf(BackupPackageBytes(path), &keys);
    std::lock_guard lock(mutex_);
    backups_[path] = Kept{written, size, std::move(keys)};
    return text;
}

size_t BackupTexts::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void BackupTexts::clear() {
    std::lock_guard lock(mutex_);
    backups_.clear();
    parts_.clear();
    used_.clear();
    bytes_ = 0;
}

bool IsClassicWordFile(const std::wstring& path) {
    return path.size() > 4 && CompareStringOrdinal(path.c_str() + path.size() - 4, 4, L".doc", 4, TRUE) == CSTR_EQUAL;
}
