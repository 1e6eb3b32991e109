// INI ("profile") files as the database keeps them: "[section]" headers and
// "name=value" entries, read and written over the file's own bytes (Windows-1251 stays
// bytes here). Reading follows what files written on the desktop platform expect:
//  - section and entry names compare without regard to ASCII case;
//  - names and values lose leading and trailing blanks and one pair of enclosing
//    quotation marks (double or single); only the first "=" of a line splits it;
//  - lines starting with ";" are comments; lines without "=" are not entries;
//  - the first section of a name, and in it the first entry of a name, wins;
//  - lines before any section header belong to no section;
//  - CRLF, LF and CR all end a line; a UTF-8 byte order mark at the start is skipped.
// Writing changes an existing entry in place, adds a new entry after the last line of its
// section and a new section at the end of the file, keeps every other line (comments
// included) and ends every line with CRLF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class ProfileFile {
  public:
    ProfileFile() = default;
    explicit ProfileFile(std::string bytes);
    ProfileFile(ProfileFile&&) = default;
    ProfileFile& operator=(ProfileFile&&) = default;
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    bool HasSection(std::string_view section) const;
    // The value as read (blanks and one pair of quotes removed); nothing when the entry
    // is missing or its line has no "=".
    std::optional<std::string_view> Read(std::string_view section, std::string_view name) const;
    std::string ReadString(std::string_view section, std::string_view name,
                           std::string_view def) const;
    // Decimal, "0x" or "$" hexadecimal; anything else reads as `def`.
    std::int32_t ReadInteger(std::string_view section, std::string_view name,
                             std::int32_t def) const;
    // The names of a section's entries in file order (comments and lines without "="
    // left out), each with the value that reading it by its name gives (the first entry
    // of a repeated name wins). Every name is listed however long the section is.
    std::vector<std::pair<std::string_view, std::string_view>> ReadSectionEntries(
        std::string_view section) const;

    // Writes `value` so that it reads back exactly (see EncodeProfileValue).
    void WriteString(std::string_view section, std::string_view name, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view name, std::int64_t value);
    // Deletes the first entry of that name (every one with `all`); a missing one is no
    // error.
    void DeleteEntry(std::string_view section, std::string_view name, bool all = false);

    std::string Bytes() const;

  private:
    enum class Kind : std::uint8_t { Blank, Comment, Header, Entry, NoValue };
    // 32 bytes a line: a big file's lines are most of the memory a read takes.
    struct Line {
        const char* text = nullptr;  // as in the file, without its line end
        std::uint32_t textLength = 0;
        std::uint32_t nameOffset = 0;  // entries: trimmed, quotes stripped; headers: section
        std::uint32_t nameLength = 0;
        std::uint32_t valueOffset = 0;  // entries: trimmed, quotes still on
        std::uint32_t valueLength = 0;
        Kind kind = Kind::Blank;

        std::string_view Text() const { return {text, textLength}; }
        std::string_view Name() const { return {text + nameOffset, nameLength}; }
        std::string_view Value() const { return {text + valueOffset, valueLength}; }
        bool IsEntry() const { return kind == Kind::Entry; }
    };
    struct Section {
        std::string_view name;    // empty for the lines before the first header
        std::vector<Line> lines;  // the header line first, when there is one
        // First entry of each name: an open-addressing table of line index + 1 (0 is a
        // free slot), built when a section is looked up often; empty when not built.
        mutable std::vector<std::uint32_t> index;
        mutable std::size_t indexUsed = 0;
        mutable int scans = 0;
    };

    static Line ParseLine(std::string_view text);
    std::string_view Keep(std::string text);
    const Section* FindSection(std::string_view name) const;
    Section* FindSection(std::string_view name);
    static std::optional<std::size_t> FindEntry(const Section& s, std::string_view name);
    static void BuildIndex(const Section& s, std::size_t slots);
    static void IndexAdd(const Section& s, std::size_t line);
    static void DropIndex(const Section& s);

    std::deque<std::string> store_;  // the file's bytes and every line written since
    std::vector<Section> sections_;
    bool bom_ = false;
};

// Trims the blanks a profile read removes.
std::string_view TrimProfileBlanks(std::string_view s);
// Removes one pair of enclosing quotation marks (double or single), as a read does.
std::string_view StripProfileQuotes(std::string_view s);
// An integer as the profile readers accept it (decimal with an optional sign, or "0x" /
// "$" hexadecimal of up to 32 bits), in the signed 32-bit range.
std::optional<std::int32_t> ParseProfileInteger(std::string_view text);
// The text to write for `value` so that a read gives `value` back: a value that begins or
// ends with a blank or is itself enclosed in quotation marks is written inside one more
// pair of double quotation marks. Line breaks cannot live in a value; they become blanks.
std::string EncodeProfileValue(std::string_view value);
