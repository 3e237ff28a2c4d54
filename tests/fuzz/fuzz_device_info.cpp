// The device information texts for any record: the text has its thirteen lines, and
// every date it shows is the date the C library finds for the same instant.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "protocol/device_info.h"

namespace {

constexpr int64_t kSeconds1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;

// "dd.mm.yyyy" of the UTC calendar day of a file time, by gmtime; "-" outside years
// 100..9999, which a date of this form cannot show.
std::string LibraryDate(uint64_t fileTime)
{
    const int64_t seconds = int64_t(fileTime / kTicksPerSecond) - kSeconds1601To1970;
    const time_t t = static_cast<time_t>(seconds);
    std::tm parts{};
    if (gmtime_r(&t, &parts) == nullptr)
        return "-";
    const long long year = 1900LL + parts.tm_year;
    if (year < 100 || year > 9999)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04lld", parts.tm_mday, parts.tm_mon + 1, year);
    return text;
}

// A DOS date is valid when the C library keeps its day, month and year as they are.
std::string LibraryDosDate(uint16_t dos)
{
    std::tm parts{};
    parts.tm_mday = dos & 0x1F;
    parts.tm_mon = ((dos >> 5) & 0x0F) - 1;
    parts.tm_year = 80 + (dos >> 9);
    parts.tm_hour = 12;
    const std::tm asked = parts;
    if (timegm(&parts) == time_t(-1) || parts.tm_mday != asked.tm_mday ||
        parts.tm_mon != asked.tm_mon || parts.tm_year != asked.tm_year)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", parts.tm_mday, parts.tm_mon + 1,
                  1900 + parts.tm_year);
    return text;
}

size_t CountLines(const std::string& text)
{
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t bytes[32] = {};
    std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
    CDeviceInfo info;
    info.modelCode = bytes[0];
    std::memcpy(&info.serialNumber, bytes + 1, 4);
    std::memcpy(&info.productionDate, bytes + 5, 8);
    std::memcpy(&info.hwVersionAtmega, bytes + 13, 2);
    std::memcpy(&info.appVersionBlackfinExt, bytes + 15, 2);
    info.applicationRead = bytes[17] & 1;

    const std::string text = DeviceInfoText(info);
    if (CountLines(text) != 13 || text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        std::abort();
    if (info.productionDate != kInvalidFileTime &&
        DateText(info.productionDate) != LibraryDate(info.productionDate))
        std::abort();
    uint16_t dos;
    std::memcpy(&dos, bytes + 18, 2);
    if (DateText(DosDateToFileTime(dos)) != LibraryDosDate(dos))
        std::abort();
    ModelText(bytes[20]);
    if (SerialText(info.serialNumber).empty() || VersionText(info.hwVersionAtmega).empty())
        std::abort();
    return 0;
}
