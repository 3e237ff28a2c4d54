#include "resources/strings.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Sorted by id.
const StringEntry kStrings[] = {
    {1, "Настройки..."},
    {4, "Обновление прошивок в сканерах QZT"},
    {5, "%s - %s %s"},
    {6, "%s"},
    {7, "%s (з/н: %s)"},
    {9, "Неизвестное исключение"},
    {10, "Ошибка в имени ldr-файла"},
    {11, "Ошибка открытия ldr-файла"},
    {12, "В начале ldr-файла отсутствует нужная строка"},
    {13, "Новая версия формата ldr-файла"},
    {14, "Неизвестная версия формата ldr-файла"},
    {15, "Ошибка ввода/вывода при работе с ldr-файлом"},
    {16, "Неизвестная ошибка при работе с ldr-файлом"},
    {18, "Ldr-файл не найден. Проверьте правильность указания каталога и/или имени файла."},
    {19, "RTQ"},
    {20, "COM-порт недоступен. Подключите сканер кабелем."},
    {21, "COM-порт занят другим приложением"},
    {22, "Доступ к COM-порту заблокирован"},
    {23, "COM-порт не задан"},
    {24, "Ошибка открытия COM-порта (%lu)"},
    {33, "ЖЛФ"},
    {38, "RTQ V-BT"},
    {40, "Ошибка определения каталога программы"},
    {41, "Ошибка генерации имени ini-файла"},
    {43, "Ошибка выделения буфера под имя ini-файла"},
    {51, "Ошибка смены состояния"},
    {52, "Ошибка смены режима"},
    {53, "Ошибка смены скорости"},
    {90, "Ошибка"},
    {103, "Обновление прошивки"},
    {107, "Переход в рабочий режим"},
    {200, "Файлы прошивок (*.ldr)|*.ldr|Все файлы|*.*||"},
    {205, "Прошивка"},
    {206, "Версия"},
    {207, "Размер"},
    {210, "Периферийный модуль"},
    {211, "Вычислительный модуль"},
    {212, "ПЛИС"},
    {213, "Неизвестный модуль"},
    {214, "Модуль Загрузчика Blackfin"},
    // The first letter of "cек" is a Latin c, as the program has always shown it.
    {220, "Выполнено: %3lu%% (%lu байт/cек.)"},
    {225, "Прошивка отсутствует"},
    {226, "Контрольная сумма прошивки не сошлась"},
    {260, "Название операции"},
    {261, "Статус"},
    {265, "Выполняется"},
    {266, "OK"},
    {267, "Ошибка"},
    {268, "Прервано"},
    {269, "Пропущен"},
    {270, "Продолжить выполнение?"},
    {280, "Порт"},
    {281, "Скорость"},
    {282, "Состояние"},
    {285, "Идёт поиск..."},
    {286, "Не обнаружено"},
    {287, "Поиск остановлен"},
    {290, "Информация об устройстве"},
    {300, "Стационарный сканер"},
    {301, "Ручной сканер"},
    {302, "Встраиваемый сканер"},
    {309, "Неизвестная модель"},
    {310, "Drovik"},
    {311, "Pellar II"},
    {312, "Tolvan"},
    {313, "Pellar HD"},
    {314, "Pellar II+"},
    {315, "Tolvan+"},
    {316, "Tolvan Transport"},
    {317, "Pellar Lite"},
    {318, "Tolvan+ v2"},
    {319, "Tivor"},
    {320, "Pellar V"},
    {321, "Pellar Lite v2"},
    {322, "PellarX L"},
    {323, "PellarX Vb"},
    {324, "Nalmo"},
    {326, "Ostrel"},
    {327, "PellarX HD"},
    {328, "PellarX BTA"},
    {329, "Tolvan+ v3"},
    // The range check of a number typed into a dialog.
    {61715, "Введите целое число от %u до %u."},
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
