#include "cli/options.h"

#include <cctype>

namespace {

struct CommandName {
    const char* name;
    CliCommand command;
};

const CommandName kCommands[] = {
    {"ports", CliCommand::Ports},     {"check", CliCommand::Check},
    {"search", CliCommand::Search},   {"set-speed", CliCommand::SetSpeed},
    {"info", CliCommand::Info},       {"update", CliCommand::Update},
    {"modules", CliCommand::Modules},
};

// Enough digits for every value the tool accepts, few enough to stay clear of overflow.
constexpr size_t kMaxNumberDigits = 12;

bool IsHelp(const std::string& arg)
{
    return arg == "-h" || arg == "--help";
}

}  // namespace

long long ParseCliNumber(const std::string& text, const std::string& where)
{
    if (text.empty() || text.size() > kMaxNumberDigits)
        throw CUsageError(where + ": ожидается число, задано «" + text + "»");
    long long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            throw CUsageError(where + ": ожидается число, задано «" + text + "»");
        value = value * 10 + (c - '0');
    }
    return value;
}

namespace {

std::string NonEmpty(const std::string& value, const std::string& where)
{
    if (value.empty())
        throw CUsageError(where + ": пустое значение");
    return value;
}

bool UsesConnection(CliCommand command)
{
    return command == CliCommand::Check || command == CliCommand::SetSpeed ||
           command == CliCommand::Info || command == CliCommand::Update;
}

// Options that the command would silently ignore are refused: a user who gives them
// expects them to matter.
void CheckApplicable(const CCliOptions& options, const std::string& commandName)
{
    const bool connection = UsesConnection(options.command);
    const bool update = options.command == CliCommand::Update;
    auto refuse = [&](const char* option) {
        throw CUsageError(std::string("параметр ") + option + " не относится к команде " +
                          commandName);
    };
    if (!connection && options.port)
        refuse("--port");
    if (!connection && options.speedCode)
        refuse("--speed");
    if (!connection && options.timeout)
        refuse("--timeout");
    if (!update && options.firmwareFile)
        refuse("--firmware");
    if (!update && options.retries)
        refuse("--retry");
    if (!update && options.allPorts)
        refuse("--all");
    if (!update && options.jobs)
        refuse("--jobs");
    if (!update && options.logFile)
        refuse("--log");
}

void SetOption(CCliOptions& options, const std::string& name, const std::string& value)
{
    const std::string where = "--" + name;
    if (name == "settings")
        options.settingsFile = NonEmpty(value, where);
    else if (name == "port") {
        // The last one is the port of a command for one scanner; update takes them all.
        options.port = NonEmpty(value, where);
        options.updatePorts.push_back(value);
    } else if (name == "jobs") {
        const long long n = ParseCliNumber(value, where);
        if (n < 1 || n > kMaxJobs)
            throw CUsageError(where + ": от 1 до " + std::to_string(kMaxJobs));
        options.jobs = static_cast<unsigned>(n);
    } else if (name == "log")
        options.logFile = NonEmpty(value, where);
    else if (name == "trace")
        options.traceFile = NonEmpty(value, where);
    else if (name == "speed")
        options.speedCode = CheckedSpeedCode(ParseCliNumber(value, where), where);
    else if (name == "timeout")
        options.timeout = CheckedTimeout(ParseCliNumber(value, where), where);
    else if (name == "firmware")
        options.firmwareFile = NonEmpty(value, where);
    else if (name == "retry") {
        const long long n = ParseCliNumber(value, where);
        if (n > kMaxRetries)
            throw CUsageError(where + ": не больше " + std::to_string(kMaxRetries));
        options.retries = static_cast<unsigned>(n);
    } else
        throw CUsageError("неизвестный параметр: " + where);
}

void TakeCommand(CCliOptions& options, const std::vector<std::string>& positional)
{
    if (positional.empty())
        throw CUsageError("не задана команда");
    const std::string& name = positional[0];
    for (const CommandName& c : kCommands) {
        if (name == c.name)
            options.command = c.command;
    }
    if (options.command == CliCommand::None)
        throw CUsageError("неизвестная команда: " + name);

    const size_t extra = positional.size() - 1;
    auto expect = [&](size_t count, const char* what) {
        if (extra < count)
            throw CUsageError("команде " + name + " нужен аргумент: " + what);
        if (extra > count)
            throw CUsageError("лишний аргумент команды " + name + ": " + positional[count + 1]);
    };
    switch (options.command) {
    case CliCommand::Search:
        for (size_t i = 1; i < positional.size(); ++i)
            options.ports.push_back(NonEmpty(positional[i], "search"));
        break;
    case CliCommand::SetSpeed:
        expect(1, "код скорости");
        options.newSpeedCode = CheckedSpeedCode(ParseCliNumber(positional[1], "set-speed"), "set-speed");
        break;
    case CliCommand::Modules:
        expect(1, "файл прошивки");
        options.modulesFile = NonEmpty(positional[1], "modules");
        break;
    default:
        expect(0, "");
        break;
    }
    CheckApplicable(options, name);
}

}  // namespace

int CheckedSpeedCode(long long value, const std::string& where)
{
    if (value < 0 || value > kMaxBaudCode)
        throw CUsageError(where + ": код скорости должен быть от 0 до 9, задано " +
                          std::to_string(value));
    return static_cast<int>(value);
}

unsigned CheckedTimeout(long long value, const std::string& where)
{
    if (value < kMinTimeoutMs || value > kMaxTimeoutMs)
        throw CUsageError(where + ": таймаут должен быть от " + std::to_string(kMinTimeoutMs) +
                          " до " + std::to_string(kMaxTimeoutMs) + " мс, задано " +
                          std::to_string(value));
    return static_cast<unsigned>(value);
}

CCliOptions ParseCliOptions(const std::vector<std::string>& args)
{
    CCliOptions options;
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            options.help = true;
            return options;
        }
    }

    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            positional.insert(positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (arg == "--all") {
            options.allPorts = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos
                                                                                 : equals - 2);
            std::string value;
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else {
                if (i + 1 >= args.size())
                    throw CUsageError("параметру --" + name + " нужно значение");
                value = args[++i];
            }
            SetOption(options, name, value);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw CUsageError("неизвестный параметр: " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    TakeCommand(options, positional);
    return options;
}

std::string CliUsageHint()
{
    return "Справка: trelvo-cli --help";
}

std::string CliHelpText()
{
    return "Использование: trelvo-cli [параметры] команда [аргументы]\n"
           "\n"
           "Команды:\n"
           "  ports              последовательные порты системы, по одному в строке\n"
           "  check              проверка связи: модель сканера или «Не обнаружено»\n"
           "  search [ПОРТ...]   поиск сканеров на портах (без аргументов — на всех портах\n"
           "                     системы) на скоростях 2400–115200; строка на порт:\n"
           "                     порт, скорость ответа (или «-»), состояние, через табуляцию\n"
           "  set-speed КОД      перевод сканера и порта на скорость КОД (0–9); сканер\n"
           "                     ищется на скорости из --speed или из файла настроек.\n"
           "                     Если порт взят из файла настроек, в нём обновляется\n"
           "                     Connect/BaudRate; больше ни одна команда файл не пишет\n"
           "  info               информация об устройстве\n"
           "  update             обновление прошивки и переход в рабочий режим; каждая\n"
           "                     операция заканчивается строкой «<операция>: <состояние>»\n"
           "  modules ФАЙЛ       модули файла прошивки: тип, версия, размер, через табуляцию\n"
           "\n"
           "Параметры (заменяют значения из файла настроек):\n"
           "  --settings ФАЙЛ    файл настроек; по умолчанию trelvo.ini в каталоге программы\n"
           "                     (файл настроек программы для Windows). Отсутствующий файл по\n"
           "                     умолчанию даёт значения по умолчанию, заданный — ошибку.\n"
           "                     Команды ports, search и modules файл не читают\n"
           "  --port ИМЯ         порт сканера (Connect/PortName): COM3 в Windows; в Linux путь\n"
           "                     к устройству, имя без «/» означает /dev/ИМЯ\n"
           "  --speed КОД        код скорости (Connect/BaudRate): 0=2400 1=4800 2=9600\n"
           "                     3=19200 4=38400 5=57600 6=115200 7=230400 8=460800 9=921600\n"
           "  --timeout МС       таймаут ответа, 100–300000 мс (Connect/Timeout)\n"
           "  --firmware ФАЙЛ    update: файл прошивки .ldr (Firmware/FileName)\n"
           "  --retry N          update: на вопрос «Продолжить выполнение?» после ошибки\n"
           "                     отвечать «Да» до N раз. Без параметра вопрос задаётся в\n"
           "                     терминале, а без терминала ответ — «Нет»; на нескольких\n"
           "                     портах вопрос не задаётся: N повторов на каждый порт\n"
           "  --port ИМЯ ...     update: --port несколько раз — обновление на всех портах\n"
           "                     сразу, у каждого порта своя строка хода и итог в таблице\n"
           "  --all              update: все порты системы (и заданные --port), на которых\n"
           "                     ответил сканер (поиск на 2400–115200, на всех портах сразу)\n"
           "  --jobs N           update: не больше N портов одновременно (по умолчанию все)\n"
           "  --log ФАЙЛ         update: дописать в ФАЙЛ по строке JSON на сканер: время UTC,\n"
           "                     компьютер, порт, заводской номер, модель, файл прошивки\n"
           "                     (имя, размер, SHA-256), состояния операций, время, байт/с\n"
           "  --trace ФАЙЛ       записать в ФАЙЛ трассировку обмена: каждый кадр (время в мкс,\n"
           "                     порт, направление, байты, команда, состояние) и события\n"
           "                     портов (открытие, скорость, таймаут, очистка, закрытие)\n"
           "  -h, --help         эта справка\n"
           "\n"
           "Ctrl+C останавливает работу на ближайшем шаге.\n"
           "\n"
           "Коды завершения:\n"
           "  0    успех (update: все операции «OK», на всех портах)\n"
           "  1    ошибка; сообщение — в потоке ошибок\n"
           "  2    ошибка командной строки или файла настроек\n"
           "  3    сканер не ответил\n"
           "  130  остановлено по Ctrl+C\n";
}
