// The window shown while the device information is read.
#pragma once

#define IDD_DEVICE_INFO 153
