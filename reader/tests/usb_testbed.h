// An emulated USB bus for the real libusb 0.1: umockdev device nodes whose content is
// the descriptors, and an ioctl handler that answers the control requests as a
// scripted reader and records every setup packet. Needs the umockdev preload (see
// usb_test_main.cpp). Bus numbers start at 100, so no real device is ever touched.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace tagport::testing {

using Bytes = std::vector<std::uint8_t>;

struct Transfer {
  std::string node;                   // "/dev/bus/usb/100/001"
  std::array<std::uint8_t, 8> setup;  // as it travels: wValue, wIndex, wLength little-endian
  unsigned timeout;                   // milliseconds
  Bytes out;                          // OUT data stage
};

// "C0 7A A5 5A 1E 0F 01 00"
std::string Hex(const std::uint8_t* bytes, std::size_t count);
std::string SetupText(const Transfer& t);

class UsbTestbed {
 public:
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // Adds a device node /dev/bus/usb/BBB/DDD and returns its path.
  std::string Plug(int bus, int device, std::uint16_t vendor, std::uint16_t product);
  std::string PlugReader(int bus, int device) { return Plug(bus, device, 0x16C0, 0x88DC); }
  void Unplug(const std::string& node);

  // How every device answers IN request `request`: these bytes, cut to wLength; with
  // `error` not 0, the transfer fails with that errno instead. Unscripted requests
  // answer wLength zero bytes (status 0).
  void Answer(std::uint8_t request, Bytes reply, int error = 0);

  std::vector<Transfer> Transfers();
  void ClearTransfers();

  // Where the node's file lies inside the testbed.
  std::string NodeFile(const std::string& node) const;

 private:
  struct Reply {
    Bytes bytes;
    int error = 0;
  };
  struct Node {
    std::string syspath;
    Bytes descriptors;
    unsigned devnum = 0;
  };

  static int HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
  static int HandleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
  static void ClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
  void Control(UMockdevIoctlClient* client, const std::string& node);

  UMockdevTestbed* testbed_;
  UMockdevIoctlBase* handler_;
  std::string root_;

  // Shared with umockdev's worker thread, which runs the handlers.
  std::mutex mutex_;
  std::map<std::string, Node> nodes_;
  std::map<const void*, std::size_t> readOffsets_;
  std::map<std::uint8_t, Reply> replies_;
  std::vector<Transfer> transfers_;
};

}  // namespace tagport::testing
