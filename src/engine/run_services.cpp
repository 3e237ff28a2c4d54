#include "engine/run_services.h"

#include "protocol/scanner_protocol.h"
#include "resources/strings.h"

namespace {

constexpr unsigned kUnknownExceptionText = 9;
// An error box carries the program's name as its caption.
constexpr unsigned kApplicationTitleText = 4;

}  // namespace

test_exception::test_exception(unsigned textId) : object_description(LoadText(textId)) {}

bool WaitPolling(CRunHost& host, bool (*poll)(void* user), void* user, uint32_t interval,
                 uint32_t timeout)
{
    // Unsigned differences keep the arithmetic right across a wrap of the tick count.
    const uint32_t start = host.TickCount();
    uint32_t last = start;
    while (timeout == kWaitForever || host.TickCount() - start < timeout) {
        host.PumpMessages();
        const uint32_t now = host.TickCount();
        if (now - last < interval) {
            host.Sleep(1);
            continue;
        }
        if (poll != nullptr && poll(user))
            return true;
        last = host.TickCount();
    }
    return false;
}

void CheckResult(int code)
{
    if (code != 0)
        throw test_exception(StringPrintf("(%li) %s", static_cast<long>(code), StatusText(code)));
}

std::string CurrentExceptionMessage()
{
    if (!std::current_exception())
        return std::string();
    try {
        throw;
    } catch (const stop_exception&) {
        return std::string();
    } catch (const object_description& e) {
        return e.Text();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return LoadText(kUnknownExceptionText);
    }
}

void ReportException(CRunHost& host, int quiet)
{
    if (quiet == 1 || !std::current_exception())
        return;
    std::string message;
    try {
        throw;
    } catch (const stop_exception&) {
        return;
    } catch (...) {
        message = CurrentExceptionMessage();
    }
    try {
        host.ShowMessageBox(message, LoadText(kApplicationTitleText), MessageBoxKind::Error);
    } catch (...) {
        // Reporting is the last stop for a failure: nothing may escape from it, not even
        // a box that could not be shown.
    }
}
