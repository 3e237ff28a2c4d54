#include "base/strings.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Sorted by the ids' values.
const StringEntry kStrings[] = {
    {IDS_SETTINGS_BUTTON, "Настройки..."},
    {IDS_PROGRAM_NAME, "Обновление прошивок в сканерах QZT"},
    {IDS_MAIN_TITLE, "%s - %s %s"},
    {IDS_CAPTION_PORT, "%s"},
    {IDS_CAPTION_PORT_SERIAL, "%s (з/н: %s)"},
    {IDS_UNKNOWN_EXCEPTION, "Неизвестное исключение"},
    {IDS_LDR_BAD_NAME, "Ошибка в имени ldr-файла"},
    {IDS_LDR_OPEN_FAILED, "Ошибка открытия ldr-файла"},
    {IDS_LDR_BAD_SIGNATURE, "В начале ldr-файла отсутствует нужная строка"},
    {IDS_LDR_NEW_VERSION, "Новая версия формата ldr-файла"},
    {IDS_LDR_UNKNOWN_VERSION, "Неизвестная версия формата ldr-файла"},
    {IDS_LDR_IO_ERROR, "Ошибка ввода/вывода при работе с ldr-файлом"},
    {IDS_LDR_UNKNOWN_ERROR, "Неизвестная ошибка при работе с ldr-файлом"},
    {IDS_LDR_NOT_FOUND, "Ldr-файл не найден. Проверьте правильность указания каталога и/или имени файла."},
    {IDS_MODEL_RTQ, "RTQ"},
    {IDS_PORT_UNAVAILABLE, "COM-порт недоступен. Подключите сканер кабелем."},
    {IDS_PORT_BUSY, "COM-порт занят другим приложением"},
    {IDS_PORT_BLOCKED, "Доступ к COM-порту заблокирован"},
    {IDS_PORT_NOT_SET, "COM-порт не задан"},
    {IDS_PORT_OPEN_FAILED, "Ошибка открытия COM-порта (%lu)"},
    {IDS_PORT_NAME_TOO_LONG, "Имя COM-порта слишком длинное"},
    {IDS_PORT_NOT_SERIAL, "Указанное устройство не является COM-портом"},
    {IDS_PORT_FAILED, "Сбой COM-порта. Проверьте подключение сканера."},
    {IDS_PORT_SPEED_NOT_TAKEN, "COM-порт не поддерживает скорость %lu бод"},
    {IDS_MODEL_ZHLF, "ЖЛФ"},
    {IDS_MODEL_RTQ_VBT, "RTQ V-BT"},
    {IDS_NO_PROGRAM_FOLDER, "Ошибка определения каталога программы"},
    {IDS_NO_SETTINGS_NAME, "Ошибка генерации имени ini-файла"},
    {IDS_NO_SETTINGS_BUFFER, "Ошибка выделения буфера под имя ini-файла"},
    {IDS_STATE_CHANGE_FAILED, "Ошибка смены состояния"},
    {IDS_MODE_CHANGE_FAILED, "Ошибка смены режима"},
    {IDS_SPEED_CHANGE_FAILED, "Ошибка смены скорости"},
    {IDS_LDR_NOT_REGULAR, "Ldr-файл \"%s\" не является обычным файлом (это каталог, канал или устройство)."},
    {IDS_LDR_NAME_NOT_UTF8, "Имя ldr-файла не является текстом в кодировке UTF-8: %s"},
    {IDS_LDR_TOO_LARGE, "Ldr-файл \"%s\" слишком велик: %llu байт при допустимых %llu байт."},
    {IDS_LDR_TOO_MANY_MODULES, "В ldr-файле \"%s\" больше %u модулей."},
    {IDS_OUT_OF_MEMORY, "Недостаточно памяти для выполнения операции."},
    {IDS_INTERNAL_ERROR, "Внутренняя ошибка программы: операция не выполнена."},
    {IDS_SETTINGS_NOT_REGULAR, "Файл настроек \"%s\" не является обычным файлом (это каталог, канал или устройство)."},
    {IDS_SETTINGS_UNREADABLE, "Файл настроек \"%s\" не удаётся прочитать."},
    {IDS_SETTINGS_TOO_LARGE, "Файл настроек \"%s\" слишком велик: %llu байт при допустимых %llu байт."},
    {IDS_ERROR_CAPTION, "Ошибка"},
    {IDS_OPERATION_UPDATE, "Обновление прошивки"},
    {IDS_OPERATION_WORKING_MODE, "Переход в рабочий режим"},
    {IDS_LDR_FILTER, "Файлы прошивок (*.ldr)|*.ldr|Все файлы|*.*||"},
    {IDS_COLUMN_MODULE, "Прошивка"},
    {IDS_COLUMN_VERSION, "Версия"},
    {IDS_COLUMN_SIZE, "Размер"},
    {IDS_MODULE_PERIPHERAL, "Периферийный модуль"},
    {IDS_MODULE_COMPUTATIONAL, "Вычислительный модуль"},
    {IDS_MODULE_FPGA, "ПЛИС"},
    {IDS_MODULE_UNKNOWN, "Неизвестный модуль"},
    {IDS_MODULE_BLACKFIN_LOADER, "Модуль Загрузчика Blackfin"},
    // The first letter of "cек" is a Latin c, as the program has always shown it.
    {IDS_PROGRESS, "Выполнено: %3lu%% (%lu байт/cек.)"},
    {IDS_NO_FIRMWARE, "Прошивка отсутствует"},
    {IDS_CHECKSUM_MISMATCH, "Контрольная сумма прошивки не сошлась"},
    {IDS_COLUMN_OPERATION, "Название операции"},
    {IDS_COLUMN_STATUS, "Статус"},
    {IDS_STATUS_RUNNING, "Выполняется"},
    {IDS_STATUS_OK, "OK"},
    {IDS_STATUS_ERROR, "Ошибка"},
    {IDS_STATUS_INTERRUPTED, "Прервано"},
    {IDS_STATUS_SKIPPED, "Пропущен"},
    {IDS_CONTINUE_QUESTION, "Продолжить выполнение?"},
    {IDS_COLUMN_PORT, "Порт"},
    {IDS_COLUMN_SPEED, "Скорость"},
    {IDS_COLUMN_STATE, "Состояние"},
    {IDS_SEARCHING, "Идёт поиск..."},
    {IDS_NOT_FOUND, "Не обнаружено"},
    {IDS_SEARCH_STOPPED, "Поиск остановлен"},
    {IDS_DEVICE_INFO_CAPTION, "Информация об устройстве"},
    {IDS_KIND_STATIONARY, "Стационарный сканер"},
    {IDS_KIND_HANDHELD, "Ручной сканер"},
    {IDS_KIND_EMBEDDED, "Встраиваемый сканер"},
    {IDS_MODEL_UNKNOWN, "Неизвестная модель"},
    {IDS_MODEL_DROVIK, "Drovik"},
    {IDS_MODEL_PELLAR_II, "Pellar II"},
    {IDS_MODEL_TOLVAN, "Tolvan"},
    {IDS_MODEL_PELLAR_HD, "Pellar HD"},
    {IDS_MODEL_PELLAR_II_PLUS, "Pellar II+"},
    {IDS_MODEL_TOLVAN_PLUS, "Tolvan+"},
    {IDS_MODEL_TOLVAN_TRANSPORT, "Tolvan Transport"},
    {IDS_MODEL_PELLAR_LITE, "Pellar Lite"},
    {IDS_MODEL_TOLVAN_PLUS_V2, "Tolvan+ v2"},
    {IDS_MODEL_TIVOR, "Tivor"},
    {IDS_MODEL_PELLAR_V, "Pellar V"},
    {IDS_MODEL_PELLAR_LITE_V2, "Pellar Lite v2"},
    {IDS_MODEL_PELLARX_L, "PellarX L"},
    {IDS_MODEL_PELLARX_VB, "PellarX Vb"},
    {IDS_MODEL_NALMO, "Nalmo"},
    {IDS_MODEL_OSTREL, "Ostrel"},
    {IDS_MODEL_PELLARX_HD, "PellarX HD"},
    {IDS_MODEL_PELLARX_BTA, "PellarX BTA"},
    {IDS_MODEL_TOLVAN_PLUS_V3, "Tolvan+ v3"},
    {IDS_TRACE_FAILED, "Не удалось создать файл трассировки %s"},
    {IDS_BATCH_MENU, "Пакетное обновление..."},
    {IDS_BATCH_COLUMN_SCANNER, "Сканер"},
    {IDS_BATCH_SCANNER, "%s (з/н: %s)"},
    {IDS_BATCH_SUMMARY, "Готово: %u из %u"},
    {IDS_BATCH_NO_PORTS, "Не отмечен ни один порт. Отметьте порты со сканерами или нажмите \"Найти сканеры\"."},
    {IDS_BATCH_LOG_FAILED, "Журнал не записан: %s: %s"},
    {IDS_BATCH_NO_FIRMWARE_ID, "Файл прошивки \"%s\" не удаётся прочитать для журнала."},
    {IDS_BATCH_TITLE, "Пакетное обновление"},
    // The range check of a number typed into a dialog.
    {IDS_RANGE_MESSAGE, "Введите целое число от %u до %u."},
};

}  // namespace

const char* LoadText(unsigned id)
{
    size_t lo = 0, hi = sizeof(kStrings) / sizeof(kStrings[0]);
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (kStrings[mid].id == id)
            return kStrings[mid].text;
        if (kStrings[mid].id < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    return "";
}

std::string StringPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}
