#include "core/jobs/keys_guard.h"

std::optional<JobBox> RefusePartialRead(const DbResult& read) {
    if (read.ok && read.error.empty())
        return std::nullopt;
    // A file that cannot be read at all has no keys to send either.
    std::string text = read.error;
    if (read.ok)
        text = "Файл базы ключей прочитан не полностью: " + read.error +
               "\rКарты(ключи) после этой записи не прочитаны, запись в контроллер удалила бы "
               "их из него.";
    return JobBox{"Ошибка", text, BoxIcon::Error};
}
