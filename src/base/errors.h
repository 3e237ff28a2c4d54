// The failures that carry a message for the operator, and Stop.
#pragma once

#include <exception>
#include <string>

#include "base/string_ids.h"

// Base of every exception that carries a message for the operator.
class object_description {
public:
    object_description() = default;
    explicit object_description(std::string text) : description(std::move(text)) {}
    virtual ~object_description() = default;
    const std::string& Text() const { return description; }

protected:
    std::string description;
};

// A failure of the running work with a message (a string-table id or a ready text).
// A scanner's result code comes along when the failure is one (0 otherwise), so that a
// caller can act on the result without reading the text.
class test_exception : public std::exception, public object_description {
public:
    explicit test_exception(unsigned textId);
    explicit test_exception(std::string text, int resultCode = 0)
        : object_description(std::move(text)), resultCode(resultCode)
    {
    }
    int ResultCode() const { return resultCode; }

private:
    int resultCode = 0;
};

// Stop was requested; carries the stop request's code and no message.
class stop_exception : public std::exception {
public:
    explicit stop_exception(int stopCode) : code(stopCode) {}
    int Code() const { return code; }

private:
    int code;
};

// The operator's message for an exception in flight; empty for a stop or when nothing
// is in flight. Call only inside a catch block.
std::string CurrentExceptionMessage();
