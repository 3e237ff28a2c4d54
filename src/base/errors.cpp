#include "base/errors.h"

#include "base/strings.h"

test_exception::test_exception(unsigned textId) : object_description(LoadText(textId)) {}

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
        return LoadText(IDS_UNKNOWN_EXCEPTION);
    }
}
