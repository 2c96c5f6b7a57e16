#include "fake_usb.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "usb_api.h"

// libusb keeps the layout of a handle to itself; this is the fake's.
struct usb_dev_handle {
  int device;
  bool open;
  bool dead;
};

namespace {

struct Device {
  int bus;
  std::uint16_t vendor;
  std::uint16_t product;
  fake_usb_open_mode mode;
  int opens;
};

struct Answer {
  std::array<std::uint8_t, FAKE_USB_REPLY_MAX> bytes{};
  std::size_t count = FAKE_USB_REPLY_MAX;
  int error = 0;
};

struct Fake {
  std::array<Device, FAKE_USB_MAX_DEVICES> devices{};
  int plugged = 0;

  std::array<Answer, 256> answers{};

  // What libusb shows after usb_find_devices: one usb_bus per bus number in use.
  std::array<struct usb_bus, FAKE_USB_MAX_DEVICES> listedBusses{};
  std::array<struct usb_device, FAKE_USB_MAX_DEVICES> listedDevices{};
  struct usb_bus* listed = nullptr;
  bool published = false;  // the listing matches what is plugged in

  std::array<usb_dev_handle, 16> handles{};
  int openHandles = 0;
  int peakOpenHandles = 0;
  int misuses = 0;

  std::array<fake_usb_transfer, FAKE_USB_LOG_SIZE> log{};
  std::size_t transfers = 0;
  bool logging = true;
};

Fake fake;

void Publish() {
  if (fake.published) {
    return;
  }
  fake.published = true;
  // Devices by bus number, keeping the plugging order within a bus (an insertion
  // sort: the fake allocates nothing).
  std::array<int, FAKE_USB_MAX_DEVICES> order{};
  for (int i = 0; i < fake.plugged; ++i) {
    int j = i;
    for (; j > 0 &&
           fake.devices[static_cast<std::size_t>(order[static_cast<std::size_t>(j - 1)])].bus >
               fake.devices[static_cast<std::size_t>(i)].bus;
         --j) {
      order[static_cast<std::size_t>(j)] = order[static_cast<std::size_t>(j - 1)];
    }
    order[static_cast<std::size_t>(j)] = i;
  }

  fake.listed = nullptr;
  struct usb_bus* lastBus = nullptr;
  struct usb_device* lastDevice = nullptr;
  std::size_t busCount = 0;
  int lastBusNumber = 0;
  for (int n = 0; n < fake.plugged; ++n) {
    const std::size_t index = static_cast<std::size_t>(order[static_cast<std::size_t>(n)]);
    const Device& d = fake.devices[index];
    if (lastBus == nullptr || lastBusNumber != d.bus) {
      lastBusNumber = d.bus;
      struct usb_bus* b = &fake.listedBusses[busCount++];
      *b = {};
      std::snprintf(b->dirname, sizeof b->dirname, "%03d", d.bus);
      (lastBus == nullptr ? fake.listed : lastBus->next) = b;
      lastBus = b;
      lastDevice = nullptr;
    }
    struct usb_device* u = &fake.listedDevices[index];
    *u = {};
    std::snprintf(u->filename, sizeof u->filename, "%03zu", index + 1);
    u->bus = lastBus;
    u->descriptor.idVendor = d.vendor;
    u->descriptor.idProduct = d.product;
    (lastDevice == nullptr ? lastBus->devices : lastDevice->next) = u;
    lastDevice = u;
  }
}

int DeviceIndex(const struct usb_device* device) {
  return static_cast<int>(device - fake.listedDevices.data());
}

bool Usable(const usb_dev_handle* handle) {
  if (handle == nullptr || !handle->open) {
    ++fake.misuses;
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

void fake_usb_reset(void) {
  fake = Fake{};
}

int fake_usb_plug(int busNumber, uint16_t vendor, uint16_t product) {
  if (fake.plugged == FAKE_USB_MAX_DEVICES) {
    return -1;
  }
  fake.devices[static_cast<std::size_t>(fake.plugged)] = {busNumber, vendor, product,
                                                          FAKE_USB_OPENS, 0};
  return fake.plugged++;
}

void fake_usb_unplug_all(void) {
  fake.plugged = 0;
}

void fake_usb_set_open_mode(int device, fake_usb_open_mode mode) {
  fake.devices[static_cast<std::size_t>(device)].mode = mode;
}

void fake_usb_answer(uint8_t request, const uint8_t* bytes, size_t count, int error) {
  Answer& answer = fake.answers[request];
  answer.count = std::min<std::size_t>(count, FAKE_USB_REPLY_MAX);
  std::copy_n(bytes, answer.count, answer.bytes.begin());
  answer.error = error;
}

size_t fake_usb_transfer_count(void) {
  return fake.transfers;
}

const fake_usb_transfer* fake_usb_transfer_at(size_t i) {
  return i < std::min<std::size_t>(fake.transfers, FAKE_USB_LOG_SIZE) ? &fake.log[i] : nullptr;
}

void fake_usb_clear_log(void) {
  fake.transfers = 0;
}
void fake_usb_set_logging(int on) {
  fake.logging = on != 0;
}
int fake_usb_opens(int device) {
  return fake.devices[static_cast<std::size_t>(device)].opens;
}
int fake_usb_open_handles(void) {
  return fake.openHandles;
}
int fake_usb_peak_open_handles(void) {
  return fake.peakOpenHandles;
}
int fake_usb_misuses(void) {
  return fake.misuses;
}

// The libusb 0.1 side.

void usb_init(void) {}

int usb_find_busses(void) {
  return 0;
}

int usb_find_devices(void) {
  Publish();
  return 0;
}

struct usb_bus* usb_get_busses(void) {
  return fake.listed;
}

usb_dev_handle* usb_open(struct usb_device* device) {
  const int index = DeviceIndex(device);
  Device& d = fake.devices[static_cast<std::size_t>(index)];
  ++d.opens;
  if (d.mode == FAKE_USB_OPEN_NULL) {
    return nullptr;
  }
#ifdef _WIN32
  // libusb-win32 opens the device inside usb_open and gives null when that fails:
  // a device that does not open never yields a handle there.
  if (d.mode == FAKE_USB_OPEN_DEAD) {
    return nullptr;
  }
#endif
  for (usb_dev_handle& handle : fake.handles) {
    if (!handle.open) {
      handle = {index, true, d.mode == FAKE_USB_OPEN_DEAD};
      fake.peakOpenHandles = std::max(fake.peakOpenHandles, ++fake.openHandles);
      return &handle;
    }
  }
  return nullptr;  // out of descriptors
}

int usb_close(usb_dev_handle* handle) {
  if (!Usable(handle)) {
    return -EBADF;
  }
  handle->open = false;
  --fake.openHandles;
  return 0;
}

#ifndef _WIN32
int usb_get_driver_np(usb_dev_handle* handle, int /*interface*/, char* /*name*/,
                      unsigned int /*namelen*/) {
  if (!Usable(handle)) {
    return -EBADF;
  }
  return handle->dead ? -EBADF : -ENODATA;
}
#endif

int usb_control_msg(usb_dev_handle* handle, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) {
  if (!Usable(handle)) {
    return -EBADF;
  }
  if (handle->dead) {
    return -EBADF;
  }
  const std::size_t length = static_cast<std::size_t>(size);
  if (fake.logging && fake.transfers < FAKE_USB_LOG_SIZE) {
    fake_usb_transfer& t = fake.log[fake.transfers];
    t = {};
    t.device = handle->device;
    t.request_type = static_cast<std::uint8_t>(requesttype);
    t.request = static_cast<std::uint8_t>(request);
    t.value = static_cast<std::uint16_t>(value);
    t.index = static_cast<std::uint16_t>(index);
    t.length = static_cast<std::uint16_t>(size);
    t.timeout = timeout;
    if ((requesttype & USB_ENDPOINT_IN) == 0) {
      const std::size_t kept = std::min<std::size_t>(length, FAKE_USB_DATA_KEPT);
      std::memcpy(t.data, bytes, kept);
      t.nonzero_past_kept =
          length - kept - static_cast<std::size_t>(std::count(bytes + kept, bytes + length, 0));
    }
  }
  ++fake.transfers;
  if ((requesttype & USB_ENDPOINT_IN) == 0) {
    return size;
  }
  const Answer& answer = fake.answers[static_cast<std::uint8_t>(request)];
  if (answer.error != 0) {
    return -answer.error;
  }
  const std::size_t arrived = std::min(answer.count, length);
  std::memcpy(bytes, answer.bytes.data(), arrived);
  return static_cast<int>(arrived);
}

}  // extern "C"
