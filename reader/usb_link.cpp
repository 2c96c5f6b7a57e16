#include "usb_link.h"

#include "usb_api.h"

namespace tagport {

constinit std::array<std::uint8_t, kReplyBufferSize> g_reply{};

namespace {

constexpr int kVendorIn = USB_ENDPOINT_IN | USB_TYPE_VENDOR | USB_RECIP_DEVICE;    // 0xC0
constexpr int kVendorOut = USB_ENDPOINT_OUT | USB_TYPE_VENDOR | USB_RECIP_DEVICE;  // 0x40

// The only handle tagport holds. Each discovery closes the one before it, so a
// caller that never calls CloseReader still keeps at most one device node open.
constinit usb_dev_handle* g_reader = nullptr;

usb_dev_handle* OpenDevice(struct usb_device* device) {
  usb_dev_handle* handle = usb_open(device);
  if (handle != nullptr && !usb::HandleIsOpen(handle)) {
    usb_close(handle);  // frees the handle; there is no descriptor to close
    return nullptr;
  }
  return handle;
}

// The first device with the reader's identifiers, opened; null when there is none or
// it cannot be opened. Later devices are not tried.
usb_dev_handle* FindReader() {
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (device->descriptor.idVendor == kReaderVendor &&
          device->descriptor.idProduct == kReaderProduct) {
        return OpenDevice(device);
      }
    }
  }
  return nullptr;
}

char* ReplyData() {
  return reinterpret_cast<char*>(g_reply.data());
}

}  // namespace

bool ConnectReader() {
  ReleaseReader();
  usb_init();
  usb_find_busses();
  usb_find_devices();
  g_reader = FindReader();
  return g_reader != nullptr;
}

void ReleaseReader() {
  if (g_reader != nullptr) {
    usb_close(g_reader);
    g_reader = nullptr;
  }
}

void ReaderIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t length) {
  usb_control_msg(g_reader, kVendorIn, request, value, index, ReplyData(), length,
                  kTransferTimeoutMs);
}

void ReaderOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
               std::uint16_t length) {
  usb_control_msg(g_reader, kVendorOut, request, value, index, ReplyData(), length,
                  kTransferTimeoutMs);
}

}  // namespace tagport
