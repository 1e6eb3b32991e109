// INI files over their bytes; see profile.h for the rules.
#include "core/keys/profile.h"

#include <algorithm>
#include <cstring>

#include "core/keys/hex.h"

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
        const int digit = HexDigitValue(t[i]);
        if (digit < 0 || digit >= base)
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

namespace {

std::size_t HashNoCase(std::string_view s) {
    std::size_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(Lower(c));
        h *= 1099511628211ull;
    }
    return h ^ (h >> 29);
}

std::uint32_t Offset(std::string_view whole, std::string_view part) {
    return static_cast<std::uint32_t>(part.data() - whole.data());
}

}  // namespace

ProfileFile::Line ProfileFile::ParseLine(std::string_view text) {
    Line line;
    line.text = text.data();
    line.textLength = static_cast<std::uint32_t>(text.size());
    auto setName = [&](std::string_view name) {
        line.nameOffset = Offset(text, name);
        line.nameLength = static_cast<std::uint32_t>(name.size());
    };
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
            setName(TrimProfileBlanks(t.substr(1, close - 1)));
            return line;
        }
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        line.kind = Kind::NoValue;
        setName(StripProfileQuotes(t));
        return line;
    }
    line.kind = Kind::Entry;
    setName(StripProfileQuotes(TrimProfileBlanks(t.substr(0, eq))));
    std::string_view value = TrimProfileBlanks(t.substr(eq + 1));
    line.valueOffset = Offset(text, value);
    line.valueLength = static_cast<std::uint32_t>(value.size());
    return line;
}

ProfileFile::ProfileFile(std::string bytes) {
    const std::string& data = store_.emplace_back(std::move(bytes));
    std::string_view rest = data;
    if (rest.substr(0, kBom.size()) == kBom) {
        bom_ = true;
        rest.remove_prefix(kBom.size());
    }
    // All lines first into one vector of the right size, then each section but the last
    // gets a copy of its share: no vector grows line by line through a big file.
    const char* p = rest.data();
    const char* end = p + rest.size();
    // The next CR and the next LF, each searched again only once passed: a file whose
    // lines end in one kind alone must not make every line search to the end.
    auto find = [end](const char* from, char c) {
        const char* at = static_cast<const char*>(std::memchr(from, c, end - from));
        return at ? at : end;
    };
    std::size_t lineCount = 1;
    for (const char* q = p; (q = find(q, '\n')) < end; ++q)
        ++lineCount;
    if (lineCount == 1) {
        for (const char* q = p; (q = find(q, '\r')) < end; ++q)
            ++lineCount;
    }
    std::vector<Line> all;
    all.reserve(lineCount + lineCount / 16 + 4);
    std::vector<std::size_t> headers;
    const char* nextLf = find(p, '\n');
    const char* nextCr = find(p, '\r');
    while (p < end) {
        if (nextLf < p)
            nextLf = find(p, '\n');
        if (nextCr < p)
            nextCr = find(p, '\r');
        const char* lineEnd = std::min(nextLf, nextCr);
        const char* next = lineEnd;
        if (lineEnd < end)
            next = lineEnd == nextCr && lineEnd + 1 < end && lineEnd[1] == '\n' ? lineEnd + 2
                                                                                : lineEnd + 1;
        all.push_back(ParseLine(std::string_view(p, static_cast<std::size_t>(lineEnd - p))));
        if (all.back().kind == Kind::Header)
            headers.push_back(all.size() - 1);
        p = next;
    }
    sections_.reserve(headers.size() + 1);
    std::size_t from = 0;
    for (std::size_t h = 0; h <= headers.size(); ++h) {
        std::size_t to = h < headers.size() ? headers[h] : all.size();
        Section& s = sections_.emplace_back();
        if (h > 0)
            s.name = all[from].Name();
        if (to == all.size()) {
            // The last section (the keys, as a rule) keeps the vector itself.
            all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(from));
            s.lines = std::move(all);
            break;
        }
        s.lines.reserve(to - from + (to - from) / 16 + 4);
        s.lines.assign(all.begin() + static_cast<std::ptrdiff_t>(from),
                       all.begin() + static_cast<std::ptrdiff_t>(to));
        from = to;
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

void ProfileFile::BuildIndex(const Section& s, std::size_t slots) {
    std::size_t size = 64;
    while (size < slots)
        size *= 2;
    s.index.assign(size, 0);
    s.indexUsed = 0;
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
        if (s.lines[i].IsEntry())
            IndexAdd(s, i);
    }
}

// Adds line `line` unless an earlier entry of its name is there (the first one wins).
void ProfileFile::IndexAdd(const Section& s, std::size_t line) {
    if ((s.indexUsed + 1) * 2 > s.index.size()) {
        BuildIndex(s, s.index.size() * 2);  // takes `line` too, as it is in the section
        return;
    }
    std::string_view name = s.lines[line].Name();
    std::size_t mask = s.index.size() - 1;
    for (std::size_t i = HashNoCase(name) & mask;; i = (i + 1) & mask) {
        std::uint32_t slot = s.index[i];
        if (slot == 0) {
            s.index[i] = static_cast<std::uint32_t>(line + 1);
            ++s.indexUsed;
            return;
        }
        if (EqualNoCase(s.lines[slot - 1].Name(), name))
            return;
    }
}

void ProfileFile::DropIndex(const Section& s) {
    s.index.clear();
    s.index.shrink_to_fit();
    s.indexUsed = 0;
}

std::optional<std::size_t> ProfileFile::FindEntry(const Section& s, std::string_view name) {
    // One lookup scans; repeated lookups in a big section (a batch of writes, a load)
    // pay for an index once instead of a scan each.
    if (s.index.empty() && s.lines.size() > 64 && ++s.scans > 2)
        BuildIndex(s, s.lines.size() * 2);
    if (!s.index.empty()) {
        std::size_t mask = s.index.size() - 1;
        for (std::size_t i = HashNoCase(name) & mask;; i = (i + 1) & mask) {
            std::uint32_t slot = s.index[i];
            if (slot == 0)
                return std::nullopt;
            if (EqualNoCase(s.lines[slot - 1].Name(), name))
                return slot - 1;
        }
    }
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
        const Line& l = s.lines[i];
        if (l.IsEntry() && l.nameLength == name.size() && EqualNoCase(l.Name(), name))
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
    return StripProfileQuotes(s->lines[*i].Value());
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
    // the index, small ones by a scan.
    if (s->index.empty() && s->lines.size() > 32)
        BuildIndex(*s, s->lines.size() * 2);
    for (const Line& l : s->lines) {
        if (l.kind != Kind::Entry)
            continue;
        const Line& first = s->lines[*FindEntry(*s, l.Name())];
        std::string_view value =
            first.kind == Kind::Entry ? StripProfileQuotes(first.Value()) : std::string_view();
        out.emplace_back(l.Name(), value);
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
        added.name = added.lines.back().Name();
        s = &added;
    }
    if (auto i = FindEntry(*s, name)) {
        // In place, under the name as the file spells it; the index stays right.
        Line& old = s->lines[*i];
        std::string_view t = TrimProfileBlanks(old.Text());
        std::string_view rawName = TrimProfileBlanks(t.substr(0, t.find('=')));
        std::string text;
        text.reserve(rawName.size() + 1 + encoded.size());
        text.append(rawName).append("=").append(encoded);
        old = ParseLine(Keep(std::move(text)));
        return;
    }
    std::string text;
    text.reserve(name.size() + 1 + encoded.size());
    text.append(name).append("=").append(encoded);
    Line line = ParseLine(Keep(std::move(text)));
    // After the section's last line that is not blank, so blank separators stay between
    // sections. Only blank lines move, so the index stays right.
    std::size_t at = s->lines.size();
    while (at > 1 && s->lines[at - 1].kind == Kind::Blank)
        --at;
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    if (!s->index.empty())
        IndexAdd(*s, at);
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
        bool match = l.IsEntry() && (all || !removed) && EqualNoCase(l.Name(), name);
        if (match) {
            removed = true;
            continue;
        }
        s->lines[kept++] = l;
    }
    if (removed) {
        s->lines.resize(kept);
        DropIndex(*s);
    }
}

std::string ProfileFile::Bytes() const {
    std::size_t size = bom_ ? kBom.size() : 0;
    for (const Section& s : sections_) {
        for (const Line& l : s.lines)
            size += l.textLength + 2;
    }
    std::string out;
    out.reserve(size);
    if (bom_)
        out.append(kBom);
    for (const Section& s : sections_) {
        for (const Line& l : s.lines) {
            out.append(l.text, l.textLength);
            out.append("\r\n");
        }
    }
    return out;
}
