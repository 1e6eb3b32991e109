#include "core/system_text.h"

#include <cerrno>
#include <cstring>
#include <string>

std::string SystemErrorText(int err) {
    switch (err) {
        case EACCES:
            return "Отказано в доступе";
        case EPERM:
            return "Операция не позволена";
        case ENOENT:
            return "Нет такого файла или каталога";
        case ENOSPC:
            return "На устройстве не осталось свободного места";
        case EDQUOT:
            return "Превышена дисковая квота";
        case EROFS:
            return "Файловая система доступна только для чтения";
        case EISDIR:
            return "Это каталог";
        case ENOTDIR:
            return "Это не каталог";
        case ENAMETOOLONG:
            return "Слишком длинное имя файла";
        case EIO:
            return "Ошибка ввода/вывода";
        case EMFILE:
        case ENFILE:
            return "Слишком много открытых файлов";
        case EFBIG:
            return "Файл слишком велик";
        case ENOMEM:
            return "Недостаточно памяти";
        case EBUSY:
            return "Устройство или ресурс занято";
        case ELOOP:
            return "Слишком много уровней символических ссылок";
        case ETXTBSY:
            return "Текстовый файл занят";
        case ENODEV:
            return "Нет такого устройства";
        case ENXIO:
            return "Нет такого устройства или адреса";
        case EAGAIN:
            return "Ресурс временно недоступен";
        case EINVAL:
            return "Недопустимый аргумент";
        case ENOTTY:
            return "Неподходящий для устройства вызов ioctl";
        case EINTR:
            return "Прерван системный вызов";
        case ETIMEDOUT:
            return "Время ожидания истекло";
        case EPIPE:
            return "Обрыв канала";
        case EBADF:
            return "Неверный дескриптор файла";
        case EEXIST:
            return "Файл существует";
        case EXDEV:
            return "Неверная ссылка между устройствами";
        case ENOTEMPTY:
            return "Каталог не пуст";
        case EOPNOTSUPP:
            return "Операция не поддерживается";
        case ENOSYS:
            return "Функция не реализована";
        case ENOLCK:
            return "Нет свободных блокировок";
        default:
            return "Системная ошибка " + std::to_string(err) + " (" + std::strerror(err) + ")";
    }
}
