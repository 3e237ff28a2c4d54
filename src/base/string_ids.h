// The ids of the string table, each named once, grouped by the part of the program that
// shows the text. Code uses the names; the numbers appear only here and in the table.
#pragma once

enum StringId : unsigned {
    // The program and its main window
    IDS_SETTINGS_BUTTON = 1,              // "Настройки..."
    IDS_PROGRAM_NAME = 4,                 // caption of every error box
    IDS_MAIN_TITLE = 5,                   // "%s - %s %s"
    IDS_CAPTION_PORT = 6,                 // "%s"
    IDS_CAPTION_PORT_SERIAL = 7,          // "%s (з/н: %s)"
    IDS_UNKNOWN_EXCEPTION = 9,
    IDS_OUT_OF_MEMORY = 58,
    IDS_INTERNAL_ERROR = 59,
    IDS_NO_PROGRAM_FOLDER = 40,
    IDS_NO_SETTINGS_NAME = 41,
    IDS_NO_SETTINGS_BUFFER = 43,
    IDS_ERROR_CAPTION = 90,
    IDS_COLUMN_OPERATION = 260,
    IDS_COLUMN_STATUS = 261,
    IDS_CONTINUE_QUESTION = 270,          // "Продолжить выполнение?"

    // Operations and their row statuses
    IDS_OPERATION_UPDATE = 103,
    IDS_OPERATION_WORKING_MODE = 107,
    IDS_PROGRESS = 220,                   // "Выполнено: %3lu%% (%lu байт/cек.)"
    IDS_NO_FIRMWARE = 225,
    IDS_CHECKSUM_MISMATCH = 226,
    IDS_STATUS_RUNNING = 265,
    IDS_STATUS_OK = 266,
    IDS_STATUS_ERROR = 267,
    IDS_STATUS_INTERRUPTED = 268,
    IDS_STATUS_SKIPPED = 269,

    // The firmware file and the firmware page
    IDS_LDR_BAD_NAME = 10,
    IDS_LDR_OPEN_FAILED = 11,
    IDS_LDR_BAD_SIGNATURE = 12,
    IDS_LDR_NEW_VERSION = 13,
    IDS_LDR_UNKNOWN_VERSION = 14,
    IDS_LDR_IO_ERROR = 15,
    IDS_LDR_UNKNOWN_ERROR = 16,
    IDS_LDR_NOT_FOUND = 18,
    IDS_LDR_NOT_REGULAR = 54,             // "... \"%s\" ..." (a folder, FIFO or device)
    IDS_LDR_NAME_NOT_UTF8 = 55,           // "... %s" (the name, bad bytes as \xNN)
    IDS_LDR_TOO_LARGE = 56,               // "... \"%s\" ... %llu ... %llu ..."
    IDS_LDR_TOO_MANY_MODULES = 57,        // "... \"%s\" ... %u ..."
    IDS_LDR_FILTER = 200,
    IDS_COLUMN_MODULE = 205,
    IDS_COLUMN_VERSION = 206,
    IDS_COLUMN_SIZE = 207,
    IDS_MODULE_PERIPHERAL = 210,
    IDS_MODULE_COMPUTATIONAL = 211,
    IDS_MODULE_FPGA = 212,
    IDS_MODULE_UNKNOWN = 213,
    IDS_MODULE_BLACKFIN_LOADER = 214,

    // The serial port
    IDS_PORT_UNAVAILABLE = 20,
    IDS_PORT_BUSY = 21,
    IDS_PORT_BLOCKED = 22,
    IDS_PORT_NOT_SET = 23,
    IDS_PORT_OPEN_FAILED = 24,            // "Ошибка открытия COM-порта (%lu)"
    IDS_PORT_NAME_TOO_LONG = 25,
    IDS_PORT_NOT_SERIAL = 26,
    IDS_PORT_FAILED = 27,                 // a device failure without a code of its own
    IDS_PORT_DISCONNECTED = 28,           // "... %s ..." (the port's name)
    IDS_PORT_SPEED_NOT_TAKEN = 29,        // "... %lu ..." (the speed the driver kept away)

    // The settings file
    IDS_SETTINGS_NOT_REGULAR = 60,        // "... \"%s\" ..." (a folder, FIFO or device)
    IDS_SETTINGS_UNREADABLE = 61,         // "... \"%s\" ..."
    IDS_SETTINGS_TOO_LARGE = 62,          // "... \"%s\" ... %llu ... %llu ..."
    IDS_SETTINGS_NOT_TEXT = 63,           // "... \"%s\" ..."

    // The scanner's procedures
    IDS_STATE_CHANGE_FAILED = 51,
    IDS_MODE_CHANGE_FAILED = 52,
    IDS_SPEED_CHANGE_FAILED = 53,

    // Device search and device information
    IDS_COLUMN_PORT = 280,
    IDS_COLUMN_SPEED = 281,
    IDS_COLUMN_STATE = 282,
    IDS_SEARCHING = 285,
    IDS_NOT_FOUND = 286,                  // "Не обнаружено"
    IDS_SEARCH_STOPPED = 287,
    IDS_DEVICE_INFO_CAPTION = 290,
    IDS_ACTION_STOP = 530,                // "Прервать": a settings action's button while it runs

    // Scanner kinds and models
    IDS_KIND_STATIONARY = 300,
    IDS_KIND_HANDHELD = 301,
    IDS_KIND_EMBEDDED = 302,
    IDS_MODEL_UNKNOWN = 309,
    IDS_MODEL_RTQ = 19,
    IDS_MODEL_ZHLF = 33,
    IDS_MODEL_RTQ_VBT = 38,
    IDS_MODEL_DROVIK = 310,
    IDS_MODEL_PELLAR_II = 311,
    IDS_MODEL_TOLVAN = 312,
    IDS_MODEL_PELLAR_HD = 313,
    IDS_MODEL_PELLAR_II_PLUS = 314,
    IDS_MODEL_TOLVAN_PLUS = 315,
    IDS_MODEL_TOLVAN_TRANSPORT = 316,
    IDS_MODEL_PELLAR_LITE = 317,
    IDS_MODEL_TOLVAN_PLUS_V2 = 318,
    IDS_MODEL_TIVOR = 319,
    IDS_MODEL_PELLAR_V = 320,
    IDS_MODEL_PELLAR_LITE_V2 = 321,
    IDS_MODEL_PELLARX_L = 322,
    IDS_MODEL_PELLARX_VB = 323,
    IDS_MODEL_NALMO = 324,
    IDS_MODEL_OSTREL = 326,
    IDS_MODEL_PELLARX_HD = 327,
    IDS_MODEL_PELLARX_BTA = 328,
    IDS_MODEL_TOLVAN_PLUS_V3 = 329,

    // How a run left the scanner, when not as it was found
    IDS_OTHER_SCANNER = 345,
    IDS_SCANNER_LEFT_IN_LOADER = 346,     // %u: the baud rate
    IDS_SCANNER_LEFT_AT_SPEED = 347,      // %u: the baud rate

    // Protocol trace
    IDS_TRACE_FAILED = 340,               // "Не удалось создать файл трассировки %s"

    // The batch window: every ticked port updated at once
    IDS_BATCH_MENU = 350,                 // "Пакетное обновление..." (main window's system menu)
    IDS_BATCH_COLUMN_SCANNER = 351,
    IDS_BATCH_SCANNER = 352,              // "%s (з/н: %s)": model, serial number
    IDS_BATCH_SUMMARY = 353,              // "Готово: %u из %u"
    IDS_BATCH_NO_PORTS = 354,
    IDS_LOG_WRITE_FAILED = 355,           // "... %s: %s": the log file, the reason
    IDS_BATCH_NO_FIRMWARE_ID = 356,       // "... \"%s\" ..."
    IDS_BATCH_TITLE = 357,                // "Пакетное обновление"

    // The system's error codes in the operator's words
    IDS_SYSERR_NOT_FOUND = 360,
    IDS_SYSERR_ACCESS_DENIED = 361,
    IDS_SYSERR_NOT_PERMITTED = 362,
    IDS_SYSERR_READ_ONLY = 363,
    IDS_SYSERR_NO_SPACE = 364,
    IDS_SYSERR_IS_FOLDER = 365,
    IDS_SYSERR_NOT_FOLDER = 366,
    IDS_SYSERR_BUSY = 367,
    IDS_SYSERR_IO = 368,
    IDS_SYSERR_NAME_TOO_LONG = 369,
    IDS_SYSERR_TOO_MANY_FILES = 370,
    IDS_SYSERR_TOO_LARGE = 371,
    IDS_SYSERR_NO_DEVICE = 372,
    IDS_SYSERR_INVALID = 373,
    IDS_SYSERR_EXISTS = 374,
    IDS_SYSERR_TOO_MANY_LINKS = 375,
    IDS_SYSERR_QUOTA = 376,
    IDS_SYSERR_OTHER = 377,               // "системная ошибка (%lu)"
    IDS_SYSERR_NOT_REGULAR = 378,         // a folder, FIFO or device where a file belongs
    IDS_SYSERR_SHORT_WRITE = 379,

    // Files named in messages
    IDS_FILE_NAMED = 380,                 // "Файл: \"%s\"."
    IDS_LDR_FILE_EMPTY = 381,             // "... \"%s\" ..."
    IDS_LDR_FILE_CUT = 382,               // "... \"%s\" ... %llu ...": the size it ends at
    IDS_LDR_FILE_READ_FAILED = 383,       // "... \"%s\" ..."
    IDS_LDR_NO_MODULE = 384,              // "... \"%s\" ... \"%s\"": the file, the module's kind
    IDS_LOG_NOT_WRITABLE = 385,           // "... \"%s\" ...: %s": the log, the reason

    // The command-line tool
    IDS_CLI_HELP = 400,                   // the whole of --help
    IDS_CLI_USAGE_HINT = 401,
    IDS_CLI_VERSION = 402,                // %s: the version
    IDS_CLI_NO_COMMAND = 403,
    IDS_CLI_UNKNOWN_COMMAND = 404,
    IDS_CLI_UNKNOWN_OPTION = 405,
    IDS_CLI_OPTION_NEEDS_VALUE = 406,
    IDS_CLI_EMPTY_VALUE = 407,
    IDS_CLI_NOT_A_NUMBER = 408,
    IDS_CLI_RANGE = 409,
    IDS_CLI_AT_MOST = 410,
    IDS_CLI_BAD_SPEED_CODE = 411,
    IDS_CLI_BAD_TIMEOUT = 412,
    IDS_CLI_NOT_FOR_COMMAND = 413,        // the option, the command
    IDS_CLI_MISSING_ARGUMENT = 414,       // the command, what it needs
    IDS_CLI_EXTRA_ARGUMENT = 415,
    IDS_CLI_ARG_SPEED_CODE = 416,
    IDS_CLI_ARG_FIRMWARE_FILE = 417,
    IDS_CLI_SETTINGS_NOT_FOUND = 418,
    IDS_CLI_NO_PORT = 419,
    IDS_CLI_NO_FIRMWARE_FILE = 420,
    IDS_CLI_NO_PORTS = 421,
    IDS_CLI_NO_SCANNERS = 422,
    IDS_CLI_FAILED_PORTS = 423,
    IDS_CLI_SPEED_NOT_SAVED = 424,        // new baud, file, reason, the file's baud
    IDS_CLI_SLOW_ADAPTER_HINT = 425,      // %s: the sysfs file
    IDS_CLI_YES = 426,
    IDS_CLI_NO = 427,
    IDS_CLI_ANSWER_PROMPT = 428,
    IDS_CLI_COLUMN_PORT = 429,
    IDS_CLI_COLUMN_SERIAL = 430,
    IDS_CLI_COLUMN_MODEL = 431,
    IDS_CLI_COLUMN_RESULT = 432,
    IDS_CLI_COLUMN_SECONDS = 433,
    IDS_CLI_COLUMN_RATE = 434,
    IDS_RECORD_NOT_LOGGED = 435,
    IDS_STATION_TOTALS = 436,             // OK, failed, skipped, stopped
    IDS_STATION_SKIPPED = 437,            // %s: the version the scanner already runs
    IDS_BATCH_AUTOMATIC = 438,            // "Автоматически"
    IDS_BATCH_WAITING = 439,              // "Ожидание"
    IDS_BATCH_STATION_SUMMARY = 440,      // "Готово: %u, ошибок: %u"
    IDS_SETTINGS_LOCKED = 441,            // the locked sheet's caption
    IDS_FIRMWARE_SKIP_CURRENT = 442,      // the firmware page's check box

    // The record's tags and the scripts' output
    IDS_CLI_BAD_TAG = 460,                // the option, the value given

    // The transfer's speed
    IDS_TRANSFER_SPEED_LOST = 480,        // %u: the baud rate asked for
    IDS_TRANSFER_FELL_BACK = 481,         // %u: the baud rate that failed its check
    IDS_CLI_BAD_TRANSFER_SPEED = 482,     // where, the value

    // Dialogs
    IDS_RANGE_MESSAGE = 61715,            // "Введите целое число от %u до %u."
};
