// CSV files of keys; see key_csv.h.
#include "core/keys/key_csv.h"

#include <algorithm>
#include <unordered_map>

#include "core/keys/cp1251.h"
#include "core/keys/display_list.h"
#include "core/keys/key_number.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr char kSeparators[] = {';', '\t', ','};

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint32_t cp;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An EM-Marine number written without quotes ("066,04103") split at its comma: a
// file that holds such lines is not separated by commas.
bool SplitEmMarineNumber(const CsvRecord& r) {
    if (r.fields.size() < 2 || r.fields[0].empty() || r.fields[0].size() > 3 ||
        !AllDigits(r.fields[0]))
        return false;
    const std::string& next = r.fields[1];
    return next.size() >= 5 && AllDigits(std::string_view(next).substr(0, 5)) &&
           (next.size() == 5 || !(next[5] >= '0' && next[5] <= '9'));
}

bool BlankRecord(const CsvRecord& r) {
    for (const std::string& f : r.fields) {
        if (f.find_first_not_of(" \t") != std::string::npos)
            return false;
    }
    return true;
}

std::string Quoted(std::string_view field, char separator) {
    if (field.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos)
        return std::string(field);
    std::string out = "\"";
    for (char c : field) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

}  // namespace

std::size_t CsvImport::Count(CsvFate fate) const {
    return static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(), [fate](const CsvRow& r) { return r.fate == fate; }));
}

CsvEncoding DetectCsvEncoding(std::string_view bytes) {
    if (bytes.substr(0, kBom.size()) == kBom)
        return CsvEncoding::Utf8Bom;
    return ValidUtf8(bytes) ? CsvEncoding::Utf8 : CsvEncoding::Windows1251;
}

bool SplitCsv(std::string_view text, char separator, std::vector<CsvRecord>& records,
              std::string& error) {
    records.clear();
    int line = 1;
    CsvRecord record;
    record.line = 1;
    std::string field;
    bool quoted = false;    // inside a quoted part
    bool hadQuote = false;  // the field began with a quote
    int quoteLine = 0;
    auto endField = [&] {
        record.fields.push_back(std::move(field));
        field.clear();
        hadQuote = false;
    };
    auto endRecord = [&] {
        endField();
        records.push_back(std::move(record));
        record = CsvRecord();
        record.line = line;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else {
                    quoted = false;
                }
                continue;
            }
            if (c == '\n' || (c == '\r' && !(i + 1 < text.size() && text[i + 1] == '\n')))
                ++line;
            field.push_back(c);
            continue;
        }
        if (c == '"' && !hadQuote && field.find_first_not_of(" \t") == std::string::npos) {
            field.clear();  // blanks before the opening quote are no part of the field
            quoted = hadQuote = true;
            quoteLine = line;
        } else if (c == separator) {
            endField();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++line;
            endRecord();
        } else {
            field.push_back(c);
        }
    }
    if (quoted) {
        error = "Кавычка, открытая в строке " + std::to_string(quoteLine) + ", не закрыта";
        return false;
    }
    if (!field.empty() || !record.fields.empty() || hadQuote)
        endRecord();
    return true;
}

char DetectCsvSeparator(std::string_view text) {
    // The first lines tell; a quoted field cut at the end of the sample does no harm.
    std::string_view sample = text.substr(0, 64 * 1024);
    char best = ';';
    std::size_t bestLines = 0;
    for (char candidate : kSeparators) {
        std::vector<CsvRecord> records;
        std::string ignored;
        SplitCsv(sample, candidate, records, ignored);
        if (records.size() > 200)
            records.resize(200);
        std::size_t split = 0;
        bool emMarineSplit = false;
        for (const CsvRecord& r : records) {
            split += r.fields.size() > 1 ? 1 : 0;
            emMarineSplit = emMarineSplit || (candidate == ',' && SplitEmMarineNumber(r));
        }
        if (!emMarineSplit && split > bestLines) {
            best = candidate;
            bestLines = split;
        }
    }
    return best;
}

std::string ShortDigitsQuestion(std::size_t lines) {
    return "Номер в строках файла (" + std::to_string(lines) +
           ") — от 1 до 6 цифр: это может быть шестнадцатеричный номер ключа или начало "
           "номера карты.\rЧитать такие номера как шестнадцатеричные номера ключей?\r(Нет — "
           "эти строки будут отклонены; номер карты вводится целиком.)";
}

CsvImport PreviewCsvImport(std::string_view bytes, int typeFormat,
                           const std::vector<DbKey>& existing, bool shortDigitsHex) {
    CsvImport out;
    out.encoding = DetectCsvEncoding(bytes);
    std::string text;
    if (out.encoding == CsvEncoding::Windows1251)
        text = Cp1251ToUtf8(bytes);
    else
        text =
            std::string(out.encoding == CsvEncoding::Utf8Bom ? bytes.substr(kBom.size()) : bytes);
    out.separator = DetectCsvSeparator(text);
    std::vector<CsvRecord> records;
    if (!SplitCsv(text, out.separator, records, out.error))
        return out;

    std::unordered_map<KeyCode, const DbKey*> inFile;
    inFile.reserve(existing.size() * 2);
    for (const DbKey& k : existing)
        inFile.emplace(k.code, &k);  // the first entry of a code, as the list finds it
    std::unordered_map<KeyCode, int> earlier;
    earlier.reserve(records.size() * 2);

    std::size_t first = 0;
    while (first < records.size() && BlankRecord(records[first]))
        ++first;
    // A header names the columns: its first field is no number and holds no digit.
    if (first < records.size()) {
        const std::string& f = records[first].fields[0];
        if (!ParseKeyNumber(typeFormat, f) &&
            std::none_of(f.begin(), f.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            out.header = true;
            ++first;
        }
    }
    out.rows.reserve(records.size() - std::min(first, records.size()));
    for (std::size_t i = first; i < records.size(); ++i) {
        const CsvRecord& r = records[i];
        if (BlankRecord(r))
            continue;
        CsvRow row;
        row.line = r.line;
        row.numberText = r.fields[0];
        if (r.fields.size() > 1)
            row.description = r.fields[1];
        auto refuse = [&](std::string reason) {
            row.fate = CsvFate::Refused;
            row.reason = std::move(reason);
            row.selected = false;
            out.rows.push_back(std::move(row));
        };
        bool extra = false;
        for (std::size_t k = 2; k < r.fields.size(); ++k)
            extra = extra || !r.fields[k].empty();
        if (extra) {
            refuse("Полей в строке " + std::to_string(r.fields.size()) +
                   ": ожидаются номер карты(ключа) и описание");
            continue;
        }
        KeyNumber number = ParseKeyNumber(typeFormat, row.numberText);
        if (number.ambiguous) {
            ++out.shortDigits;
            if (shortDigitsHex) {
                number.ok = true;
                number.code = number.hexadecimal;
            }
        }
        if (!number) {
            refuse(number.reason);
            continue;
        }
        row.code = number.code;
        std::string bad;
        if (!Utf8ToCp1251(row.description, row.descriptionCp1251, &bad)) {
            refuse("Символ «" + bad +
                   "» нельзя сохранить в описании: файл базы хранит текст в кодировке "
                   "Windows-1251");
            continue;
        }
        if (HasControlCharacters(row.descriptionCp1251)) {
            refuse(DescriptionControlError);
            continue;
        }
        if (static_cast<int>(row.descriptionCp1251.size()) > MaxDescriptionLength) {
            refuse("Описание длиннее " + std::to_string(MaxDescriptionLength) + " символов (" +
                   std::to_string(row.descriptionCp1251.size()) + ")");
            continue;
        }
        if (auto seen = earlier.find(row.code); seen != earlier.end()) {
            row.fate = CsvFate::Duplicate;
            row.duplicateOf = seen->second;
            row.reason = "Повторяет строку " + std::to_string(seen->second);
        } else if (auto listed = inFile.find(row.code); listed != inFile.end()) {
            earlier.emplace(row.code, row.line);
            if (listed->second->description == row.descriptionCp1251) {
                row.fate = CsvFate::Same;
            } else {
                row.fate = CsvFate::Update;
                row.oldDescription = Cp1251ToUtf8(listed->second->description);
            }
        } else {
            earlier.emplace(row.code, row.line);
            row.fate = CsvFate::New;
            row.selected = true;
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

std::vector<DbKey> CsvNewKeys(const CsvImport& import) {
    std::vector<DbKey> keys;
    for (const CsvRow& r : import.rows) {
        if (r.fate == CsvFate::New && r.selected)
            keys.push_back({r.code, r.descriptionCp1251});
    }
    return keys;
}

std::vector<DbKey> CsvUpdates(const CsvImport& import) {
    std::vector<DbKey> keys;
    for (const CsvRow& r : import.rows) {
        if (r.fate == CsvFate::Update && r.selected)
            keys.push_back({r.code, r.descriptionCp1251});
    }
    return keys;
}

const char* CsvFateText(CsvFate fate) {
    switch (fate) {
        case CsvFate::New:
            return "Новая";
        case CsvFate::Same:
            return "Уже в файле";
        case CsvFate::Update:
            return "Новое описание";
        case CsvFate::Duplicate:
            return "Повтор";
        case CsvFate::Refused:
            return "Отказ";
    }
    return "";
}

std::string KeysToCsv(int typeFormat, const std::vector<DbKey>& keys) {
    std::string out(kBom);
    out += "Карта(ключ);Описание\r\n";
    out.reserve(keys.size() * 64);
    for (const DisplayRow& row : SortedDisplayRows(typeFormat, keys)) {
        out += Quoted(row.Text(), ';');
        out.push_back(';');
        out += Quoted(Cp1251ToUtf8(keys[row.key].description), ';');
        out += "\r\n";
    }
    return out;
}

std::string CsvField(std::string_view field, char separator) {
    return Quoted(field, separator);
}

std::string RefusedRowsToCsv(const CsvImport& import) {
    std::string out(kBom);
    out += "Строка;Карта(ключ);Описание;Причина\r\n";
    for (const CsvRow& r : import.rows) {
        if (r.fate != CsvFate::Refused)
            continue;
        out += std::to_string(r.line) + ";" + Quoted(r.numberText, ';') + ";" +
               Quoted(r.description, ';') + ";" + Quoted(r.reason, ';') + "\r\n";
    }
    return out;
}
