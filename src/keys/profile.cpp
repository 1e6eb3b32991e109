// INI files over their bytes; see profile.h for the rules.
#include "keys/profile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

}  // namespace

std::string_view TrimProfileBlanks(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string_view StripProfileQuotes(std::string_view s) {
    if (s.size() >= 2 && IsQuote(s.front()) && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

std::optional<std::int32_t> ParseProfileInteger(std::string_view t) {
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (; i < t.size(); ++i) {
        char c = t[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 16) {
        // Hexadecimal covers all 32 bits: "$FFFFFFFF" is -1.
        auto bits = static_cast<std::uint32_t>(value);
        if (negative)
            bits = 0u - bits;
        return static_cast<std::int32_t>(bits);
    }
    if (negative ? value > 0x80000000ull : value > 0x7FFFFFFFull)
        return std::nullopt;
    auto signedValue = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(negative ? -signedValue : signedValue);
}

std::string EncodeProfileValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    bool wrap = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                   StripProfileQuotes(value).size() != value.size());
    if (wrap)
        out.push_back('"');
    for (char c : value)
        out.push_back(c == '\r' || c == '\n' ? ' ' : c);
    // A line break at an edge became a blank: that blank must survive the read too.
    if (!wrap && !out.empty() && (IsBlank(out.front()) || IsBlank(out.back()))) {
        out.insert(out.begin(), '"');
        wrap = true;
    }
    if (wrap)
        out.push_back('"');
    return out;
}

std::size_t ProfileFile::CaseHash::operator()(std::string_view s) const {
    std::size_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(Lower(c));
        h *= 1099511628211ull;
    }
    return h;
}

bool ProfileFile::CaseEqual::operator()(std::string_view a, std::string_view b) const {
    return EqualNoCase(a, b);
}

ProfileFile::Line ProfileFile::ParseLine(std::string_view text) {
    Line line;
    line.text = text;
    std::string_view t = TrimProfileBlanks(text);
    if (t.empty()) {
        line.kind = Kind::Blank;
        return line;
    }
    if (t.front() == ';') {
        line.kind = Kind::Comment;
        return line;
    }
    if (t.front() == '[') {
        // The name runs to the last "]"; text after it is ignored.
        std::size_t close = t.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::Header;
            line.name = TrimProfileBlanks(t.substr(1, close - 1));
            return line;
        }
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        line.kind = Kind::NoValue;
        line.name = StripProfileQuotes(t);
        return line;
    }
    line.kind = Kind::Entry;
    line.name = StripProfileQuotes(TrimProfileBlanks(t.substr(0, eq)));
    line.value = TrimProfileBlanks(t.substr(eq + 1));
    return line;
}

ProfileFile::ProfileFile(std::string bytes) {
    const std::string& data = store_.emplace_back(std::move(bytes));
    std::string_view rest = data;
    if (rest.substr(0, kBom.size()) == kBom) {
        bom_ = true;
        rest.remove_prefix(kBom.size());
    }
    sections_.emplace_back();
    std::size_t pos = 0;
    while (pos < rest.size()) {
        std::size_t end = pos;
        while (end < rest.size() && rest[end] != '\n' && rest[end] != '\r')
            ++end;
        Line line = ParseLine(rest.substr(pos, end - pos));
        if (line.kind == Kind::Header) {
            Section& s = sections_.emplace_back();
            s.name = line.name;
        }
        sections_.back().lines.push_back(line);
        if (end < rest.size() && rest[end] == '\r' && end + 1 < rest.size() &&
            rest[end + 1] == '\n')
            ++end;
        pos = end + 1;
    }
}

std::string_view ProfileFile::Keep(std::string text) {
    return store_.emplace_back(std::move(text));
}

const ProfileFile::Section* ProfileFile::FindSection(std::string_view name) const {
    name = TrimProfileBlanks(name);
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        if (EqualNoCase(sections_[i].name, name))
            return &sections_[i];
    }
    return nullptr;
}

ProfileFile::Section* ProfileFile::FindSection(std::string_view name) {
    return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

void ProfileFile::BuildIndex(const Section& s) {
    s.index.clear();
    s.index.reserve(s.lines.size());
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
        const Line& l = s.lines[i];
        if (l.kind == Kind::Entry || l.kind == Kind::NoValue)
            s.index.emplace(l.name, i);
    }
    s.indexed = true;
}

std::optional<std::size_t> ProfileFile::FindEntry(const Section& s, std::string_view name) {
    // One lookup scans; repeated lookups in a big section (a batch of writes) pay for an
    // index once instead of a scan each.
    if (!s.indexed && s.lines.size() > 64 && ++s.scans > 2)
        BuildIndex(s);
    if (s.indexed) {
        auto it = s.index.find(name);
        if (it == s.index.end())
            return std::nullopt;
        return it->second;
    }
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
        const Line& l = s.lines[i];
        if ((l.kind == Kind::Entry || l.kind == Kind::NoValue) && EqualNoCase(l.name, name))
            return i;
    }
    return std::nullopt;
}

bool ProfileFile::HasSection(std::string_view section) const {
    return FindSection(section) != nullptr;
}

std::optional<std::string_view> ProfileFile::Read(std::string_view section,
                                                  std::string_view name) const {
    const Section* s = FindSection(section);
    if (!s)
        return std::nullopt;
    auto i = FindEntry(*s, name);
    if (!i || s->lines[*i].kind != Kind::Entry)
        return std::nullopt;
    return StripProfileQuotes(s->lines[*i].value);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view name,
                                    std::string_view def) const {
    auto v = Read(section, name);
    return std::string(v ? *v : def);
}

std::int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view name,
                                      std::int32_t def) const {
    auto v = Read(section, name);
    if (!v)
        return def;
    return ParseProfileInteger(*v).value_or(def);
}

std::vector<std::pair<std::string_view, std::string_view>> ProfileFile::ReadSectionEntries(
    std::string_view section) const {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    const Section* s = FindSection(section);
    if (!s)
        return out;
    out.reserve(s->lines.size());
    // A repeated name reads the first entry's value: big sections look names up through
    // an index, small ones by a scan.
    bool useIndex = s->lines.size() > 32;
    if (useIndex && !s->indexed)
        BuildIndex(*s);
    for (std::size_t i = 0; i < s->lines.size(); ++i) {
        const Line& l = s->lines[i];
        if (l.kind != Kind::Entry)
            continue;
        std::optional<std::size_t> first =
            useIndex ? std::optional<std::size_t>(s->index.find(l.name)->second)
                     : FindEntry(*s, l.name);
        const Line& f = s->lines[*first];
        std::string_view value = f.kind == Kind::Entry ? StripProfileQuotes(f.value) : "";
        out.emplace_back(l.name, value);
    }
    return out;
}

void ProfileFile::WriteString(std::string_view section, std::string_view name,
                              std::string_view value) {
    section = TrimProfileBlanks(section);
    std::string encoded = EncodeProfileValue(value);
    if (sections_.empty())
        sections_.emplace_back();
    Section* s = FindSection(section);
    if (!s) {
        Section& added = sections_.emplace_back();
        std::string header;
        header.reserve(section.size() + 2);
        header.append("[").append(section).append("]");
        added.lines.push_back(ParseLine(Keep(std::move(header))));
        added.name = added.lines.back().name;
        s = &added;
    }
    if (auto i = FindEntry(*s, name)) {
        // In place, under the name as the file spells it.
        Line& old = s->lines[*i];
        std::string_view t = TrimProfileBlanks(old.text);
        std::string_view rawName = TrimProfileBlanks(t.substr(0, t.find('=')));
        std::string text;
        text.reserve(rawName.size() + 1 + encoded.size());
        text.append(rawName).append("=").append(encoded);
        // The name is unchanged, so an index of the section stays right.
        old = ParseLine(Keep(std::move(text)));
        return;
    }
    std::string text;
    text.reserve(name.size() + 1 + encoded.size());
    text.append(name).append("=").append(encoded);
    Line line = ParseLine(Keep(std::move(text)));
    // After the section's last line that is not blank, so blank separators stay between
    // sections.
    std::size_t at = s->lines.size();
    while (at > 1 && s->lines[at - 1].kind == Kind::Blank)
        --at;
    // Only blank lines move, so an index of the section stays right.
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    if (s->indexed)
        s->index.emplace(line.name, at);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view name,
                               std::int64_t value) {
    WriteString(section, name, std::to_string(value));
}

void ProfileFile::DeleteEntry(std::string_view section, std::string_view name, bool all) {
    Section* s = FindSection(section);
    if (!s)
        return;
    std::size_t kept = 0;
    bool removed = false;
    for (std::size_t i = 0; i < s->lines.size(); ++i) {
        const Line& l = s->lines[i];
        bool match = (l.kind == Kind::Entry || l.kind == Kind::NoValue) && (all || !removed) &&
                     EqualNoCase(l.name, name);
        if (match) {
            removed = true;
            continue;
        }
        s->lines[kept++] = l;
    }
    if (removed) {
        s->lines.resize(kept);
        s->indexed = false;
        s->index.clear();
    }
}

std::string ProfileFile::Bytes() const {
    std::size_t size = bom_ ? kBom.size() : 0;
    for (const Section& s : sections_) {
        for (const Line& l : s.lines)
            size += l.text.size() + 2;
    }
    std::string out;
    out.reserve(size);
    if (bom_)
        out.append(kBom);
    for (const Section& s : sections_) {
        for (const Line& l : s.lines) {
            out.append(l.text);
            out.append("\r\n");
        }
    }
    return out;
}
