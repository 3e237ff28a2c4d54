// What opening a port comes to: the error text the device throws, or "opened".
#pragma once

#include <string>

#include "transport/com_device.h"

inline std::string OpenMessage(CComDevice& device, const std::string& name)
{
    try {
        device.Open(name);
    } catch (const CComDevice::CException& e) {
        return e.Text();
    }
    return "opened";
}
