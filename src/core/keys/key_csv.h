// Key lists as CSV files: reading one for an import (its encoding and separator found
// out, fields possibly quoted, an optional header row) with the fate of every line
// against the open database, and writing the list so that a spreadsheet opens it and
// the import reads it back unchanged.
//
//     CsvImport preview = PreviewCsvImport(bytes, model.TypeFormat, model.keys);
//     for (const CsvRow& row : preview.rows) ... row.fate, row.reason ...
//     // the operator ticks or unticks rows: row.selected
//     std::vector<DbKey> toController = CsvNewKeys(preview);
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/keys/database.h"

enum class CsvEncoding { Utf8, Utf8Bom, Windows1251 };

// No key list comes near this; an import reads the whole file or refuses it.
constexpr std::size_t MaxCsvFileSize = 64u << 20;

// What a line of the file comes to.
enum class CsvFate {
    New,        // not in the file: to the controller, then the file
    Same,       // in the file with the same description: skipped
    Update,     // in the file with another description: the file's description replaced
                // (the controller is not touched); unticked until the operator ticks it
    Duplicate,  // the number of an earlier line: skipped
    Refused,    // a bad number or description: skipped, with the reason
};

struct CsvRow {
    int line = 0;             // where the row starts in the file, from 1
    std::string numberText;   // the first field as the file has it (UTF-8)
    std::string description;  // the second field (UTF-8), empty when absent
    std::string descriptionCp1251;
    KeyCode code = 0;  // read from numberText (0 when refused for its number)
    CsvFate fate = CsvFate::Refused;
    std::string reason;          // Refused: why; Duplicate: "Повторяет строку N"
    int duplicateOf = 0;         // Duplicate: the earlier line
    std::string oldDescription;  // Update: the file's description now (UTF-8)
    bool selected = false;       // New: true; Update: false until ticked
};

struct CsvImport {
    CsvEncoding encoding = CsvEncoding::Utf8;
    char separator = ';';
    bool header = false;  // the first row named the columns and was not read as a key
    std::vector<CsvRow> rows;
    std::string error;  // the file as a whole could not be read (a quote left open ...)
    // Lines whose number is 1 to 6 bare digits while EM-Marine is shown: a hexadecimal
    // key or the beginning of a card's number. Refused unless the preview was told to
    // read them as hexadecimal (the operator is asked once for the whole file).
    std::size_t shortDigits = 0;

    std::size_t Count(CsvFate fate) const;
};

// One row of a CSV file, split into fields (still in the file's encoding).
struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

// The file's encoding: a UTF-8 byte order mark, else valid UTF-8, else Windows-1251.
CsvEncoding DetectCsvEncoding(std::string_view bytes);
// ';', tab or ',': the one that splits the first lines alike, in that order of
// preference. ';' when the lines hold none of them.
char DetectCsvSeparator(std::string_view text);
// Splits the text (without a byte order mark) into records; false with `error` when a
// quoted field is never closed.
bool SplitCsv(std::string_view text, char separator, std::vector<CsvRecord>& records,
              std::string& error);

// Reads the file's bytes and gives every line its fate against the database's keys.
// `shortDigitsHex`: 1 to 6 bare digits are hexadecimal keys also while EM-Marine is shown.
CsvImport PreviewCsvImport(std::string_view bytes, int typeFormat,
                           const std::vector<DbKey>& existing, bool shortDigitsHex = false);

// The question put once for a file whose preview counted `shortDigits` lines.
std::string ShortDigitsQuestion(std::size_t lines);

// The selected new keys, in file order, with their descriptions in Windows-1251.
std::vector<DbKey> CsvNewKeys(const CsvImport& import);
// The selected description updates, in file order.
std::vector<DbKey> CsvUpdates(const CsvImport& import);

// The fate as the preview shows it: "Новая", "Уже в файле", "Новое описание",
// "Повтор", "Отказ".
const char* CsvFateText(CsvFate fate);

// The list as the window shows it (sorted by its text): UTF-8 with a byte order mark,
// ';' between fields, a header row "Карта(ключ);Описание".
std::string KeysToCsv(int typeFormat, const std::vector<DbKey>& keys);
// One field as these files write it: quoted when it holds the separator, a quotation mark
// or a line break.
std::string CsvField(std::string_view field, char separator = ';');
// The refused rows with their reasons: "Строка;Карта(ключ);Описание;Причина".
std::string RefusedRowsToCsv(const CsvImport& import);
