// The key database file: settings and keys in an INI file, every write an atomic
// replacement of the whole file.
#include "core/keys/database.h"

#include <algorithm>
#include <cerrno>

#include "core/keys/atomic_file.h"
#include "core/keys/cp1251.h"
#include "core/keys/profile.h"

namespace {

constexpr std::string_view kSettings = "ControllerSettings";
constexpr std::string_view kKeys = "VardexDB2";

DbResult Failed(std::string text) {
    return DbResult{false, std::move(text)};
}

DbResult ReadFailed(const std::string& path, int err) {
    return Failed("Не удалось прочитать файл «" + path + "»: " + ErrorText(err));
}

DbResult WriteFailed(const std::string& path, int err) {
    std::string why;
    if (err == UntrustedCopy)
        why = UntrustedCopyText(path);
    else if (err == LockTimedOut || ((err == EACCES || err == EPERM) && CheckWritable(path) == 0))
        why = ForeignLockText(path);  // the lock file, not the database, is the cause
    if (why.empty())
        why = ErrorText(err);
    return Failed("Не удалось записать файл «" + path + "»: " + why);
}

// A database has at least one of its two sections (a file the program creates starts with
// the settings). Anything else, an empty file included, would read as the defaults and no
// keys, and a job would then act on that: clear a controller, or write into a stranger's file.
bool IsDatabase(const ProfileFile& file) {
    return file.HasSection(kSettings) || file.HasSection(kKeys);
}

DbResult Replace(const std::string& path, const ProfileFile& file) {
    if (int err = ReplaceFile(path, file.Bytes()))
        return WriteFailed(path, err);
    return {};
}

// Finishes a write that died half-way before the file is read.
DbResult Recover(const std::string& path) {
    std::string safety;
    int err = RecoverInterruptedWrite(path, safety);
    if (err == UntrustedCopy) {
        // Somebody else's copy: the file is read as it is, and the operator hears why.
        DbResult r;
        r.notice = UntrustedCopyText(path);
        return r;
    }
    if (err != 0)
        return Failed("Запись в файл «" + path +
                      "» была прервана, и восстановить его не удалось: " + ErrorText(err) +
                      ". Прежнее содержимое сохранено в «" + safety + "».");
    DbResult r;
    if (!safety.empty())
        r.notice = "Запись в файл «" + path +
                   "» была прервана. Файл восстановлен в том виде, каким он был до неё.";
    return r;
}

// Reads the file, applies `change` and replaces the file, all under the file's lock so
// that a second writer reads this one's result. A missing file starts empty, as the
// profile functions create the file on the first write.
template <typename Change>
DbResult Edit(const std::string& path, Change change) {
    DbLock lock;
    if (int err = lock.Acquire(path))
        return WriteFailed(path, err);
    DbResult recovered = Recover(path);
    if (!recovered)
        return recovered;
    std::string bytes;
    int err = ReadWholeFile(path, bytes);
    if (err != 0 && err != ENOENT)
        return ReadFailed(path, err);
    const bool existed = err == 0;
    ProfileFile file(std::move(bytes));
    if (existed && !IsDatabase(file))
        return Failed(NotDatabaseError(path));
    change(file);
    DbResult r = Replace(path, file);
    if (r)
        r.notice = std::move(recovered.notice);
    return r;
}

void WriteSettings(ProfileFile& f, int timeOpen, int retryRead, int typeFormat) {
    f.WriteInteger(kSettings, "TimeOpen", timeOpen);
    f.WriteInteger(kSettings, "RetryRead", retryRead);
    f.WriteInteger(kSettings, "TypeFormat", typeFormat);
}

// Only a controller that shares its line has the entry: the file of one alone keeps the
// bytes it always had.
void WriteAddress(ProfileFile& f, int address) {
    if (address == 0)
        f.DeleteEntry(kSettings, "Address", true);
    else
        f.WriteInteger(kSettings, "Address", address);
}

}  // namespace

int TimeOpenInRange(int value) {
    return std::clamp(value, MinTimeOpen, MaxTime);
}

int RetryReadInRange(int value) {
    return std::clamp(value, MinRetryRead, MaxTime);
}

std::string AddressOutOfRangeText(const DbModel& model) {
    if (!model.AddressInFile)
        return {};
    return "В файле адрес контроллера на линии " + std::to_string(*model.AddressInFile) +
           " вне пределов 0–" + std::to_string(MaxDbAddress) +
           ": обмен с контроллером невозможен, пока адрес не исправлен";
}

std::string TimesOutOfRangeText(const DbModel& model) {
    std::string text;
    auto line = [&](const std::optional<int>& inFile, const char* what, int low, int used) {
        if (!inFile)
            return;
        if (!text.empty())
            text += '\n';
        text += "В файле " + std::string(what) + " " + std::to_string(*inFile) + " вне пределов " +
                std::to_string(low) + "–" + std::to_string(MaxTime) + ": используется " +
                std::to_string(used);
    };
    line(model.TimeOpenInFile, "время открывания замка", MinTimeOpen, model.TimeOpen);
    line(model.RetryReadInFile, "время повторного считывания карты(ключа)", MinRetryRead,
         model.RetryRead);
    return text;
}

DbResult LockDbForWrite(const std::string& path, DbLock& lock) {
    if (int err = CheckWritable(path))
        return WriteFailed(path, err);
    if (int err = lock.Acquire(path))
        return WriteFailed(path, err);
    return {};
}

DbResult CheckDbWritable(const std::string& path) {
    DbLock lock;
    return LockDbForWrite(path, lock);
}

const char* const DescriptionControlError =
    "Описание не может содержать управляющие символы (табуляцию, перевод строки, Escape)";

bool HasControlCharacters(std::string_view text) {
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return true;
    }
    return false;
}

std::string DefaultDescription(KeyCode code) {
    return std::to_string(code);
}

std::string EscapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    static const char hex[] = "0123456789ABCDEF";
    auto escape = [&](unsigned u) {
        out += "\\x";
        out += hex[u >> 4];
        out += hex[u & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto u = static_cast<unsigned char>(text[i]);
        if (u < 0x20 || u == 0x7F) {
            escape(u);
        } else if (u == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // The C1 controls (U+0080..U+009F): the Windows-1251 byte 0x98, which has no
            // character, reads as one of them.
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += text[i];
        }
    }
    return out;
}

DbResult NewDbFile(const std::string& path) {
    ProfileFile file;
    WriteSettings(file, 1, 1, 0);
    file.WriteInteger(kSettings, "Vardex", 0);
    return Replace(path, file);
}

DbResult SaveVardex(const std::string& path, KeyCode code) {
    return Edit(path, [&](ProfileFile& f) { f.WriteInteger(kSettings, "Vardex", code); });
}

DbResult SaveSettings(const std::string& path, int timeOpen, int retryRead, int typeFormat) {
    return Edit(path, [&](ProfileFile& f) { WriteSettings(f, timeOpen, retryRead, typeFormat); });
}

DbResult SaveTypeFormat(const std::string& path, int typeFormat, int* previous) {
    return Edit(path, [&](ProfileFile& f) {
        if (previous)
            *previous = f.ReadInteger(kSettings, "TypeFormat", 0);
        f.WriteInteger(kSettings, "TypeFormat", typeFormat);
    });
}

DbResult SaveAddress(const std::string& path, int address) {
    return Edit(path, [&](ProfileFile& f) { WriteAddress(f, address); });
}

DbResult SaveKey(const std::string& path, KeyCode code, const std::string& description) {
    return Edit(path,
                [&](ProfileFile& f) { f.WriteString(kKeys, std::to_string(code), description); });
}

DbResult SaveKeys(const std::string& path, const std::vector<DbKey>& keys) {
    if (keys.empty())
        return {};
    return Edit(path, [&](ProfileFile& f) {
        for (const DbKey& k : keys)
            f.WriteString(kKeys, std::to_string(k.code), k.description);
    });
}

DbResult RemoveKey(const std::string& path, KeyCode code) {
    // Every entry of the key goes: a second one left behind would bring the key back.
    return Edit(path, [&](ProfileFile& f) { f.DeleteEntry(kKeys, std::to_string(code), true); });
}

DbResult WriteDbFile(const std::string& path, const DbModel& model) {
    ProfileFile file;
    WriteSettings(file, model.TimeOpen, model.RetryRead, model.TypeFormat);
    file.WriteInteger(kSettings, "Vardex", model.Vardex);
    WriteAddress(file, model.AddressInFile ? *model.AddressInFile : model.Address);
    for (const DbKey& k : model.keys)
        file.WriteString(kKeys, std::to_string(k.code), k.description);
    return Replace(path, file);
}

std::string KeyNameError(std::string_view name) {
    return "«" + Cp1251ToUtf8(name) + "» не является допустимым целым числом";
}

std::string NotDatabaseError(const std::string& path) {
    return (path.empty() ? std::string("Файл") : "Файл «" + path + "»") +
           " не является файлом базы ключей: в нём нет ни раздела [ControllerSettings], ни "
           "раздела [VardexDB2]";
}

std::optional<KeyCode> KeyCodeOfEntryName(std::string_view name) {
    // The names the program writes: decimal, no sign, no leading zeros. Any other spelling
    // of a number would be a second name for one key, which a removal by name misses.
    if (name.empty() || name.size() > 8 || name[0] == '0')
        return std::nullopt;
    KeyCode code = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            return std::nullopt;
        code = code * 10 + static_cast<KeyCode>(c - '0');
    }
    if (code > 0xFFFFFF)
        return std::nullopt;
    return code;
}

std::string InvalidEntriesText(const DbModel& model) {
    if (model.invalid.empty())
        return {};
    constexpr size_t kNamed = 10;
    std::string names;
    for (size_t i = 0; i < model.invalid.size() && i < kNamed; ++i) {
        if (i > 0)
            names += ", ";
        names += "«" + EscapeControlCharacters(Cp1251ToUtf8(model.invalid[i].name)) + "»";
    }
    if (model.invalid.size() > kNamed)
        names += ", …";
    return "В файле записей с недопустимым номером карты(ключа): " +
           std::to_string(model.invalid.size()) + " (" + names +
           "). Номер — десятичное число от 1 до 16777215; такие записи не передаются в "
           "контроллер.";
}

DbResult LoadDbFile(const std::string& path, DbModel& model) {
    DbResult recovered = Recover(path);
    if (!recovered)
        return recovered;
    std::string bytes;
    if (int err = ReadWholeFile(path, bytes))
        return ReadFailed(path, err);
    DbResult r = LoadDbBytes(std::move(bytes), model);
    if (!r)
        r.error = NotDatabaseError(path);
    r.notice = std::move(recovered.notice);
    return r;
}

DbResult LoadDbBytes(std::string bytes, DbModel& model) {
    ProfileFile file(std::move(bytes));
    if (!IsDatabase(file))
        return Failed(NotDatabaseError({}));
    DbModel loaded;
    // A hand-edited time outside its range: the controller could not take it, and a
    // window could not show it. The nearest value in range stands for it everywhere; the
    // file keeps its text until the operator changes a time.
    const int timeOpen = file.ReadInteger(kSettings, "TimeOpen", 1);
    const int retryRead = file.ReadInteger(kSettings, "RetryRead", 1);
    loaded.TimeOpen = TimeOpenInRange(timeOpen);
    loaded.RetryRead = RetryReadInRange(retryRead);
    if (loaded.TimeOpen != timeOpen)
        loaded.TimeOpenInFile = timeOpen;
    if (loaded.RetryRead != retryRead)
        loaded.RetryReadInFile = retryRead;
    loaded.TypeFormat = file.ReadInteger(kSettings, "TypeFormat", 0);
    loaded.Vardex = static_cast<KeyCode>(file.ReadInteger(kSettings, "Vardex", 0));
    const int address = file.ReadInteger(kSettings, "Address", 0);
    if (address >= 0 && address <= MaxDbAddress) {
        loaded.Address = address;
    } else {
        // 255 would reach every controller of the line: nothing goes out until it is put right.
        loaded.Address = -1;
        loaded.AddressInFile = address;
    }
    DbResult result;
    auto entries = file.ReadSectionEntries(kKeys);
    loaded.keys.reserve(entries.size());
    for (const auto& [name, value] : entries) {
        const std::string_view description = value.substr(0, MaxDescriptionLength);
        if (const std::optional<KeyCode> code = KeyCodeOfEntryName(name)) {
            loaded.keys.push_back({*code, std::string(description)});
            continue;
        }
        // Kept apart with its text; what an older program made of it is remembered only
        // so that a controller key it left there is recognised, never to send it.
        DbInvalidEntry& bad = loaded.invalid.emplace_back();
        bad.name.assign(name);
        bad.description.assign(description);
        if (const std::optional<std::int32_t> number = ParseProfileInteger(name))
            bad.truncated = static_cast<KeyCode>(*number) & 0xFFFFFF;
    }
    model = std::move(loaded);
    return result;
}
