#include "base/errors.h"

#include <new>

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
    } catch (const std::bad_alloc&) {
        return LoadText(IDS_OUT_OF_MEMORY);
    } catch (const std::exception&) {
        // A library's own text (std::bad_array_new_length, a stream's failure...) is no
        // message for an operator.
        return LoadText(IDS_INTERNAL_ERROR);
    } catch (...) {
        return LoadText(IDS_UNKNOWN_EXCEPTION);
    }
}
