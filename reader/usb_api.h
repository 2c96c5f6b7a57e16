// The one place that knows the libusb 0.1 declarations tagport is built on: the bus
// and device lists, usb_open/usb_close, usb_control_msg. Everything else in tagport
// goes through usb_link.h, so a port can swap this header for its own declarations of the
// same few structures and functions.
#pragma once

#ifdef _WIN32
#include "win32/libusb0.h"
#else
#include <usb.h>

#include <cerrno>
#endif

namespace tagport::usb {

#ifdef _WIN32

// Whether a handle that usb_open returned really has the device open: always, with
// libusb-win32. Its usb_open opens the device (CreateFile on the driver's device
// name) before it hands out a handle and returns null when that fails, so the Linux
// quirk below does not arise; nor does libusb0.dll export usb_get_driver_np.
inline bool HandleIsOpen(usb_dev_handle* /*handle*/) {
  return true;
}

#else

// Whether a handle that usb_open returned really has the device open.
//
// Debian's libusb 0.1.12 builds usb_open so that a failed open() of the device node
// still yields a handle: usb_os_open stores -errno where the descriptor belongs and
// reports success, and the failure only shows at the first transfer (EBADF). The
// handle's layout is private, and libusb-compat, which also ships as
// libusb-0.1.so.4, lays it out differently, so the descriptor cannot be read from it.
// usb_get_driver_np is the one public call that goes straight to that descriptor
// without any USB traffic: it asks the kernel (USBDEVFS_GETDRIVER) which driver holds
// interface 0. It fails with EBADF exactly when the descriptor is not open; any
// other answer (a driver name, ENODATA for none) means it is.
inline bool HandleIsOpen(usb_dev_handle* handle) {
  char driver[2];
  return usb_get_driver_np(handle, 0, driver, sizeof driver) != -EBADF;
}

#endif

}  // namespace tagport::usb
