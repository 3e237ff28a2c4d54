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
    {IDS_PORT_DISCONNECTED, "Сканер или адаптер отключён от порта %s. Проверьте подключение и повторите."},
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
    {IDS_SETTINGS_NOT_TEXT, "Файл настроек \"%s\" не является текстом: ожидается UTF-8 или UTF-16."},
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
    {IDS_OTHER_SCANNER, "Тест должен проводится для одного и того же сканера."},
    {IDS_SCANNER_LEFT_IN_LOADER, "Сканер остался в режиме загрузчика на скорости %u бод: обновление нужно запустить ещё раз."},
    {IDS_SCANNER_LEFT_AT_SPEED, "Скорость сканера не восстановлена: он оставлен на скорости %u бод."},
    {IDS_BATCH_MENU, "Пакетное обновление..."},
    {IDS_BATCH_COLUMN_SCANNER, "Сканер"},
    {IDS_BATCH_SCANNER, "%s (з/н: %s)"},
    {IDS_BATCH_SUMMARY, "Готово: %u из %u"},
    {IDS_BATCH_NO_PORTS, "Не отмечен ни один порт. Отметьте порты со сканерами или нажмите \"Найти сканеры\"."},
    {IDS_LOG_WRITE_FAILED, "Журнал не записан: %s: %s"},
    {IDS_BATCH_NO_FIRMWARE_ID, "Файл прошивки \"%s\" не удаётся прочитать для журнала."},
    {IDS_BATCH_TITLE, "Пакетное обновление"},
    {IDS_SYSERR_NOT_FOUND, "нет такого файла или каталога"},
    {IDS_SYSERR_ACCESS_DENIED, "доступ запрещён"},
    {IDS_SYSERR_NOT_PERMITTED, "операция не разрешена"},
    {IDS_SYSERR_READ_ONLY, "носитель доступен только для чтения"},
    {IDS_SYSERR_NO_SPACE, "на диске нет места"},
    {IDS_SYSERR_IS_FOLDER, "это каталог"},
    {IDS_SYSERR_NOT_FOLDER, "часть пути не является каталогом"},
    {IDS_SYSERR_BUSY, "файл или устройство занято"},
    {IDS_SYSERR_IO, "ошибка ввода/вывода"},
    {IDS_SYSERR_NAME_TOO_LONG, "слишком длинное имя"},
    {IDS_SYSERR_TOO_MANY_FILES, "открыто слишком много файлов"},
    {IDS_SYSERR_TOO_LARGE, "файл слишком велик"},
    {IDS_SYSERR_NO_DEVICE, "устройство отсутствует"},
    {IDS_SYSERR_INVALID, "недопустимое имя или значение"},
    {IDS_SYSERR_EXISTS, "файл уже существует"},
    {IDS_SYSERR_TOO_MANY_LINKS, "слишком много символических ссылок"},
    {IDS_SYSERR_QUOTA, "превышена дисковая квота"},
    {IDS_SYSERR_OTHER, "системная ошибка (%lu)"},
    {IDS_SYSERR_NOT_REGULAR, "это не обычный файл (а каталог, канал или устройство)"},
    {IDS_SYSERR_SHORT_WRITE, "записана только часть данных"},
    {IDS_FILE_NAMED, "Файл: \"%s\"."},
    {IDS_LDR_FILE_EMPTY, "Файл \"%s\" пуст."},
    {IDS_LDR_FILE_CUT, "Файл \"%s\" обрывается после %llu байт."},
    {IDS_LDR_FILE_READ_FAILED, "Файл \"%s\" не удалось дочитать."},
    {IDS_LDR_NO_MODULE, "Прошивка отсутствует: в ldr-файле \"%s\" нет модуля \"%s\"."},
    {IDS_LOG_NOT_WRITABLE, "Журнал \"%s\" не удаётся открыть для записи: %s"},
    {IDS_CLI_HELP,
     "Использование: trelvo-cli [параметры] команда [аргументы]\n"
     "\n"
     "Команды:\n"
     "  ports              последовательные порты системы, по одному в строке\n"
     "  check              проверка связи: модель сканера или «Не обнаружено»\n"
     "  search [ПОРТ...]   поиск сканеров на портах (без аргументов — на всех портах\n"
     "                     системы) на скоростях 2400–115200, затем 230400–921600;\n"
     "                     строка на порт: порт, скорость ответа (или «-»), состояние,\n"
     "                     через табуляцию\n"
     "  set-speed КОД      перевод сканера и порта на скорость КОД (0–9); сканер\n"
     "                     ищется на скорости из --speed или из файла настроек.\n"
     "                     Если порт взят из файла настроек, в нём обновляется\n"
     "                     Connect/BaudRate; больше ни одна команда файл не пишет\n"
     "  info               информация об устройстве\n"
     "  update             обновление прошивки и переход в рабочий режим; каждая\n"
     "                     операция заканчивается строкой «<операция>: <состояние>».\n"
     "                     Файл прошивки, журнал и трассировка проверяются до того,\n"
     "                     как открыт хоть один порт; сканер возвращается на скорость,\n"
     "                     на которой был найден\n"
     "  modules ФАЙЛ       модули файла прошивки: тип, версия, размер, через табуляцию\n"
     "  station            станция: ждёт сканеры на портах (--port, --all или порт из\n"
     "                     файла настроек), каждый подключённый обновляет один раз и\n"
     "                     выводит строку: время, порт, заводской номер, результат.\n"
     "                     Сканер, оставшийся подключённым, повторно не обновляется;\n"
     "                     следующий сканер на порту (другой уникальный номер) —\n"
     "                     новое задание. Работает до Ctrl+C, SIGTERM или --count,\n"
     "                     в конце — строка итогов\n"
     "\n"
     "Параметры (заменяют значения из файла настроек):\n"
     "  --settings ФАЙЛ    файл настроек; по умолчанию trelvo.ini в каталоге программы\n"
     "                     (файл настроек программы для Windows, UTF-16 или UTF-8).\n"
     "                     Отсутствующий файл по умолчанию даёт значения по умолчанию,\n"
     "                     заданный — ошибку. Команды ports, search и modules файл не читают\n"
     "  --port ИМЯ         порт сканера (Connect/PortName): COM3 в Windows; в Linux путь\n"
     "                     к устройству, имя без «/» означает /dev/ИМЯ\n"
     "  --speed КОД        код скорости (Connect/BaudRate): 0=2400 1=4800 2=9600\n"
     "                     3=19200 4=38400 5=57600 6=115200 7=230400 8=460800 9=921600\n"
     "  --timeout МС       таймаут ответа, 100–300000 мс (Connect/Timeout)\n"
     "  --firmware ФАЙЛ    update: файл прошивки .ldr (Firmware/FileName)\n"
     "  --transfer-speed КОД\n"
     "                     update, station: скорость записи прошивки\n"
     "                     (Firmware/TransferSpeed):\n"
     "                     6=115200 (по умолчанию) 7=230400 8=460800 9=921600. Более\n"
     "                     высокая скорость проверяется до записи; если сканер её\n"
     "                     отклоняет или не проходит проверку, запись идёт на 115200\n"
     "  --retry N          update: на вопрос «Продолжить выполнение?» после ошибки\n"
     "                     отвечать «Да» до N раз. Без параметра вопрос задаётся в\n"
     "                     терминале, а без терминала ответ — «Нет»; на нескольких\n"
     "                     портах вопрос не задаётся: N повторов на каждый порт\n"
     "  --port ИМЯ ...     update: --port несколько раз — обновление на всех портах\n"
     "                     сразу, у каждого порта своя строка хода и итог в таблице;\n"
     "                     порт, названный дважды, обновляется один раз\n"
     "  --all              update: все порты системы (и заданные --port), на которых\n"
     "                     ответил сканер (поиск на всех портах сразу)\n"
     "  --jobs N           update: не больше N портов одновременно (по умолчанию все)\n"
     "  --count N          station: закончить после N сканеров (OK, ошибка или пропуск)\n"
     "  --skip-current     update, station: не обновлять сканер, в котором уже версия\n"
     "                     модуля (Firmware/SkipCurrent=1); его операции «Пропущен»\n"
     "  --log ФАЙЛ         update: дописать в ФАЙЛ по строке JSON на сканер: время UTC,\n"
     "                     компьютер, порт, заводской номер, модель, файл прошивки\n"
     "                     (имя, размер, SHA-256), состояния операций и число попыток,\n"
     "                     время начала и конца, байт/с, уникальный номер, версии,\n"
     "                     USB-устройство, станция, метки, скорость сканера после работы,\n"
     "                     скорость записи.\n"
     "                     Запись, которую не удалось дописать, выводится в поток ошибок\n"
     "  --tag ИМЯ=ЗНАЧЕНИЕ update, station: метка в каждую запись журнала (оператор,\n"
     "                     заказ); можно несколько раз, заменяет [Log] Tag.ИМЯ\n"
     "  --json             ports, search, check, info, modules: один документ JSON\n"
     "                     вместо текста\n"
     "  --trace ФАЙЛ       записать в ФАЙЛ трассировку обмена: каждый кадр (время в мкс,\n"
     "                     порт, направление, байты, команда, состояние) и события\n"
     "                     портов (открытие, скорость, таймаут, очистка, закрытие)\n"
     "  --version          версия программы\n"
     "  -h, --help         эта справка\n"
     "\n"
     "Ctrl+C, SIGTERM и SIGHUP (в Windows также Ctrl+Break и закрытие окна консоли)\n"
     "останавливают работу на ближайшем шаге: сканер возвращается на свою скорость,\n"
     "запись журнала делается.\n"
     "\n"
     "Коды завершения:\n"
     "  0    успех (update: все операции «OK», на всех портах; station: ни одной\n"
     "       ошибки)\n"
     "  1    ошибка; сообщение — в потоке ошибок\n"
     "  2    ошибка командной строки, файла настроек, журнала или трассировки\n"
     "  3    сканер не ответил\n"
     "  129  остановлено: SIGHUP; в Windows — закрытие окна консоли\n"
     "  130  остановлено по Ctrl+C\n"
     "  143  остановлено: SIGTERM\n"
     "  149  остановлено по Ctrl+Break (Windows)\n"},
    {IDS_CLI_USAGE_HINT, "Справка: trelvo-cli --help"},
    {IDS_CLI_VERSION, "trelvo-cli %s"},
    {IDS_CLI_NO_COMMAND, "не задана команда"},
    {IDS_CLI_UNKNOWN_COMMAND, "неизвестная команда: %s"},
    {IDS_CLI_UNKNOWN_OPTION, "неизвестный параметр: %s"},
    {IDS_CLI_OPTION_NEEDS_VALUE, "параметру %s нужно значение"},
    {IDS_CLI_EMPTY_VALUE, "%s: пустое значение"},
    {IDS_CLI_NOT_A_NUMBER, "%s: ожидается число, задано «%s»"},
    {IDS_CLI_RANGE, "%s: от %u до %u"},
    {IDS_CLI_AT_MOST, "%s: не больше %u"},
    {IDS_CLI_BAD_SPEED_CODE, "%s: код скорости должен быть от 0 до 9, задано %lld"},
    {IDS_CLI_BAD_TIMEOUT, "%s: таймаут должен быть от %u до %u мс, задано %lld"},
    {IDS_CLI_NOT_FOR_COMMAND, "параметр %s не относится к команде %s"},
    {IDS_CLI_MISSING_ARGUMENT, "команде %s нужен аргумент: %s"},
    {IDS_CLI_EXTRA_ARGUMENT, "лишний аргумент команды %s: %s"},
    {IDS_CLI_ARG_SPEED_CODE, "код скорости"},
    {IDS_CLI_ARG_FIRMWARE_FILE, "файл прошивки"},
    {IDS_CLI_SETTINGS_NOT_FOUND, "файл настроек не найден: %s"},
    {IDS_CLI_NO_PORT, "не задан порт: параметр --port или [Connect] PortName в файле настроек %s"},
    {IDS_CLI_NO_FIRMWARE_FILE, "не задан файл прошивки: параметр --firmware или [Firmware] FileName в файле настроек %s"},
    {IDS_CLI_NO_PORTS, "Последовательные порты не найдены"},
    {IDS_CLI_NO_SCANNERS, "Сканеры не найдены. Порты, на которых шёл поиск:"},
    {IDS_CLI_FAILED_PORTS, "Не обновлены:"},
    {IDS_CLI_SPEED_NOT_SAVED, "Скорость сканера изменена: он работает на %u бод, но файл настроек \"%s\" не записан: %s. В файле осталась скорость %u бод."},
    {IDS_CLI_SLOW_ADAPTER_HINT, "Подсказка: адаптер USB-COM задерживает ответы сканера (таймер задержки больше 1 мс); ускорить обмен: echo 1 > %s (нужны права root)"},
    {IDS_CLI_YES, "Да"},
    {IDS_CLI_NO, "Нет"},
    {IDS_CLI_ANSWER_PROMPT, "[y/n] "},
    {IDS_CLI_COLUMN_PORT, "порт"},
    {IDS_CLI_COLUMN_SERIAL, "з/н"},
    {IDS_CLI_COLUMN_MODEL, "модель"},
    {IDS_CLI_COLUMN_RESULT, "результат"},
    {IDS_CLI_COLUMN_SECONDS, "время, с"},
    {IDS_CLI_COLUMN_RATE, "байт/с"},
    {IDS_RECORD_NOT_LOGGED, "Запись, не попавшая в журнал:"},
    {IDS_STATION_TOTALS, "Итого: OK — %u, ошибок — %u, пропущено — %u, прервано — %u"},
    {IDS_STATION_SKIPPED, "Пропущен: версия %s уже в сканере"},
    {IDS_BATCH_AUTOMATIC, "Автоматически"},
    {IDS_BATCH_WAITING, "Ожидание"},
    {IDS_BATCH_STATION_SUMMARY, "Готово: %u, ошибок: %u"},
    {IDS_SETTINGS_LOCKED, "Настройки (только просмотр: заблокированы в файле настроек)"},
    {IDS_FIRMWARE_SKIP_CURRENT, "Не обновлять сканер, в котором уже эта версия"},
    {IDS_CLI_BAD_TAG, "%s: ожидается ИМЯ=ЗНАЧЕНИЕ, задано «%s»"},
    {IDS_TRANSFER_SPEED_LOST,
     "Сканер не отвечает после перехода на скорость записи %u бод: линия или адаптер её не "
     "передают. Выключите и снова включите сканер и повторите обновление; если это "
     "повторится, выберите меньшую скорость записи."},
    {IDS_TRANSFER_FELL_BACK,
     "Запись шла на скорости 115200 бод: на скорости %u бод сканер не прошёл проверку связи."},
    {IDS_CLI_BAD_TRANSFER_SPEED, "%s: код скорости записи должен быть от 6 до 9, задано %lld"},
    {IDS_ACTION_STOP, "Прервать"},
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

std::string HexText(const uint8_t* bytes, size_t size)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t k = 0; k < size; ++k) {
        text += kHex[bytes[k] >> 4];
        text += kHex[bytes[k] & 15];
    }
    return text;
}

std::string AppendSentence(const std::string& text, const std::string& sentence)
{
    if (text.empty() || sentence.empty())
        return text + sentence;
    const char last = text.back();
    return text + (last == '.' || last == '!' || last == '?' ? " " : ". ") + sentence;
}
