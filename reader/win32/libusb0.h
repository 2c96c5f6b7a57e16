// Our own declarations of the part of the libusb 0.1 API that tagport uses, as the
// Windows port of libusb 0.1 (libusb-win32, whose DLL is libusb0.dll) defines it. We
// neither have nor need that project's SDK: tagport binds libusb0.dll by name through
// an import library made from libusb0.def beside this file.
//
// The layout differs from Linux's <usb.h>. libusb-win32's public header (usb.h, in
// later releases lusb0_usb.h) fixes LIBUSB_PATH_MAX at 512, so that the DLL and its
// callers agree whatever compiler built them, and declares every structure between
// <pshpack1.h> and <poppack.h>, i.e. packed to 1 byte. Its functions carry no calling
// convention of their own, so they are cdecl. The offsets pinned below follow from
// those declarations on 32-bit Windows; they are the ones tagport reads (the bus and
// device lists and the device descriptor's identifiers) or the test stub fills in.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t LIBUSB_PATH_MAX = 512;

inline constexpr int USB_ENDPOINT_IN = 0x80;
inline constexpr int USB_ENDPOINT_OUT = 0x00;
inline constexpr int USB_TYPE_VENDOR = 0x02 << 5;
inline constexpr int USB_RECIP_DEVICE = 0x00;

extern "C" {

#pragma pack(push, 1)

struct usb_device_descriptor {
  std::uint8_t bLength;
  std::uint8_t bDescriptorType;
  std::uint16_t bcdUSB;
  std::uint8_t bDeviceClass;
  std::uint8_t bDeviceSubClass;
  std::uint8_t bDeviceProtocol;
  std::uint8_t bMaxPacketSize0;
  std::uint16_t idVendor;
  std::uint16_t idProduct;
  std::uint16_t bcdDevice;
  std::uint8_t iManufacturer;
  std::uint8_t iProduct;
  std::uint8_t iSerialNumber;
  std::uint8_t bNumConfigurations;
};

struct usb_bus;
struct usb_config_descriptor;  // never read by tagport

struct usb_device {
  usb_device* next;
  usb_device* prev;
  char filename[LIBUSB_PATH_MAX];
  usb_bus* bus;
  usb_device_descriptor descriptor;
  usb_config_descriptor* config;
  void* dev;
  std::uint8_t devnum;
  std::uint8_t num_children;
  usb_device** children;
};

struct usb_bus {
  usb_bus* next;
  usb_bus* prev;
  char dirname[LIBUSB_PATH_MAX];
  usb_device* devices;
  unsigned long location;
  usb_device* root_dev;
};

#pragma pack(pop)

struct usb_dev_handle;  // private to the library
typedef struct usb_dev_handle usb_dev_handle;

void __cdecl usb_init(void);
int __cdecl usb_find_busses(void);
int __cdecl usb_find_devices(void);
usb_bus* __cdecl usb_get_busses(void);
usb_dev_handle* __cdecl usb_open(usb_device* dev);
int __cdecl usb_close(usb_dev_handle* dev);
int __cdecl usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                            char* bytes, int size, int timeout);

}  // extern "C"

static_assert(sizeof(void*) == 4 && sizeof(unsigned long) == 4,
              "these offsets are those of 32-bit Windows");

static_assert(offsetof(usb_device_descriptor, idVendor) == 8);
static_assert(offsetof(usb_device_descriptor, idProduct) == 10);
static_assert(sizeof(usb_device_descriptor) == 18);

static_assert(offsetof(usb_device, next) == 0);
static_assert(offsetof(usb_device, prev) == 4);
static_assert(offsetof(usb_device, filename) == 8);
static_assert(offsetof(usb_device, bus) == 520);
static_assert(offsetof(usb_device, descriptor) == 524);
static_assert(offsetof(usb_device, descriptor) + offsetof(usb_device_descriptor, idVendor) == 532);
static_assert(offsetof(usb_device, descriptor) + offsetof(usb_device_descriptor, idProduct) == 534);
static_assert(offsetof(usb_device, config) == 542);
static_assert(offsetof(usb_device, dev) == 546);
static_assert(offsetof(usb_device, devnum) == 550);
static_assert(offsetof(usb_device, children) == 552);
static_assert(sizeof(usb_device) == 556);

static_assert(offsetof(usb_bus, next) == 0);
static_assert(offsetof(usb_bus, prev) == 4);
static_assert(offsetof(usb_bus, dirname) == 8);
static_assert(offsetof(usb_bus, devices) == 520);
static_assert(offsetof(usb_bus, location) == 524);
static_assert(offsetof(usb_bus, root_dev) == 528);
static_assert(sizeof(usb_bus) == 532);
