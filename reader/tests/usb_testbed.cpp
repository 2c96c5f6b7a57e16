#include "usb_testbed.h"

#include <glib/gstdio.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <stdexcept>

namespace tagport::testing {
namespace {

// Device descriptor, then one configuration with one vendor-specific interface and
// no endpoints: all the reader needs is its default pipe.
Bytes Descriptors(std::uint16_t vendor, std::uint16_t product) {
  const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
  const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
  return {
      18,         1,          0x00,        0x02,        0, 0,    0, 64,  // USB 2.0, max packet 64
      lo(vendor), hi(vendor), lo(product), hi(product),                  //
      0x00,       0x01,       0,           0,           0, 1,  // bcdDevice, no strings, 1 config
      9,          2,          18,          0,           1, 1,    0, 0x80,
      50,  // configuration, 18 bytes in all
      9,          4,          0,           0,           0, 0xFF, 0, 0,
      0,  // interface 0, vendor class
  };
}

void Check(gboolean ok, GError* error, const char* what) {
  if (!ok) {
    const std::string message = std::string(what) + ": " + (error ? error->message : "failed");
    g_clear_error(&error);
    throw std::runtime_error(message);
  }
}

std::string NodePath(int bus, int device) {
  char path[64];
  std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", bus, device);
  return path;
}

}  // namespace

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  char cell[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += cell;
  }
  return out;
}

std::string SetupText(const Transfer& t) {
  return Hex(t.setup.data(), t.setup.size());
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()), handler_(umockdev_ioctl_base_new()) {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  root_ = root;
  g_free(root);
  // An empty bus of our own, so libusb lists this testbed's busses and never the
  // machine's real /dev/bus/usb, even with no device plugged in.
  g_mkdir_with_parents((root_ + "/dev/bus/usb/100").c_str(), 0755);
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(HandleIoctl), this);
  g_signal_connect(handler_, "handle-read", G_CALLBACK(HandleRead), this);
  g_signal_connect(handler_, "client-connected", G_CALLBACK(ClientConnected), this);
}

UsbTestbed::~UsbTestbed() {
  g_object_unref(handler_);
  g_object_unref(testbed_);
}

std::string UsbTestbed::NodeFile(const std::string& node) const {
  return root_ + node;
}

std::string UsbTestbed::Plug(int bus, int device, std::uint16_t vendor, std::uint16_t product) {
  const std::string node = NodePath(bus, device);
  const Bytes descriptors = Descriptors(vendor, product);
  std::string hex;
  char cell[3];
  for (std::uint8_t b : descriptors) {
    std::snprintf(cell, sizeof cell, "%02X", b);  // umockdev reads uppercase only
    hex += cell;
  }
  const std::string syspath = "/devices/pci0000:00/usb" + std::to_string(bus) + "/" +
                              std::to_string(bus) + "-" + std::to_string(device);
  const std::string record =
      "P: " + syspath + "\nN: " + node.substr(5) + "=" + hex +
      "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=" + std::to_string(bus) +
      "\nE: DEVNUM=" + std::to_string(device) + "\n\n";
  {
    std::lock_guard lock(mutex_);
    nodes_[node] = {"/sys" + syspath, descriptors, static_cast<unsigned>(device)};
  }
  GError* error = nullptr;
  Check(umockdev_testbed_add_from_string(testbed_, record.c_str(), &error), error, "add device");
  Check(umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler_, &error), error,
        "attach ioctl handler");
  return node;
}

void UsbTestbed::Unplug(const std::string& node) {
  std::string syspath;
  {
    std::lock_guard lock(mutex_);
    syspath = nodes_.at(node).syspath;
    nodes_.erase(node);
  }
  GError* error = nullptr;
  Check(umockdev_testbed_detach_ioctl(testbed_, node.c_str(), &error), error,
        "detach ioctl handler");
  umockdev_testbed_remove_device(testbed_, syspath.c_str());
  g_unlink(NodeFile(node).c_str());  // removing the device leaves its node behind
}

void UsbTestbed::Answer(std::uint8_t request, Bytes reply, int error) {
  std::lock_guard lock(mutex_);
  replies_[request] = {std::move(reply), error};
}

std::vector<Transfer> UsbTestbed::Transfers() {
  std::lock_guard lock(mutex_);
  return transfers_;
}

void UsbTestbed::ClearTransfers() {
  std::lock_guard lock(mutex_);
  transfers_.clear();
}

void UsbTestbed::ClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  auto* bed = static_cast<UsbTestbed*>(self);
  std::lock_guard lock(bed->mutex_);
  bed->readOffsets_[client] = 0;
}

// libusb reads the descriptors from the node: 18 bytes, 8, then the rest.
int UsbTestbed::HandleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  auto* bed = static_cast<UsbTestbed*>(self);
  UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  std::lock_guard lock(bed->mutex_);
  const auto found = bed->nodes_.find(node);
  if (found == bed->nodes_.end()) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  const Bytes& content = found->second.descriptors;
  std::size_t& offset = bed->readOffsets_[client];
  const std::size_t count = std::min(static_cast<std::size_t>(buffer->data_len),
                                     content.size() - std::min(offset, content.size()));
  umockdev_ioctl_data_update(buffer, 0, const_cast<guint8*>(content.data() + offset),
                             static_cast<gint>(count));
  offset += count;
  umockdev_ioctl_client_complete(client, static_cast<glong>(count), 0);
  return TRUE;
}

int UsbTestbed::HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  auto* bed = static_cast<UsbTestbed*>(self);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_CONNECTINFO: {
      GError* error = nullptr;
      UMockdevIoctlData* data = umockdev_ioctl_data_resolve(
          umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_connectinfo), &error);
      g_clear_error(&error);
      {
        std::lock_guard lock(bed->mutex_);
        auto* info = reinterpret_cast<usbdevfs_connectinfo*>(data->data);
        info->devnum = bed->nodes_.count(node) != 0 ? bed->nodes_[node].devnum : 0;
        info->slow = 0;
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      umockdev_ioctl_data_unref(data);
      return TRUE;
    }
    case USBDEVFS_CONTROL:
      bed->Control(client, node);
      return TRUE;
    default:
      // Hub port queries and anything else: this is no hub and does nothing more.
      umockdev_ioctl_client_complete(client, -1, ENOSYS);
      return TRUE;
  }
}

void UsbTestbed::Control(UMockdevIoctlClient* client, const std::string& node) {
  GError* error = nullptr;
  UMockdevIoctlData* request = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                           sizeof(usbdevfs_ctrltransfer), &error);
  g_clear_error(&error);
  const auto& ctrl = *reinterpret_cast<const usbdevfs_ctrltransfer*>(request->data);
  const bool in = (ctrl.bRequestType & 0x80) != 0;
  UMockdevIoctlData* stage = nullptr;
  if (ctrl.wLength > 0) {
    stage = umockdev_ioctl_data_resolve(request, offsetof(usbdevfs_ctrltransfer, data),
                                        ctrl.wLength, &error);
    g_clear_error(&error);
  }

  Transfer t{node,
             {ctrl.bRequestType, ctrl.bRequest, static_cast<std::uint8_t>(ctrl.wValue),
              static_cast<std::uint8_t>(ctrl.wValue >> 8), static_cast<std::uint8_t>(ctrl.wIndex),
              static_cast<std::uint8_t>(ctrl.wIndex >> 8), static_cast<std::uint8_t>(ctrl.wLength),
              static_cast<std::uint8_t>(ctrl.wLength >> 8)},
             ctrl.timeout,
             {}};
  if (!in && stage != nullptr) {
    t.out.assign(stage->data, stage->data + ctrl.wLength);
  }

  long result = ctrl.wLength;
  int failure = 0;
  {
    std::lock_guard lock(mutex_);
    transfers_.push_back(std::move(t));
    if (in) {
      const auto scripted = replies_.find(ctrl.bRequest);
      const Reply reply = scripted != replies_.end() ? scripted->second : Reply{Bytes(8, 0), 0};
      if (reply.error != 0) {
        result = -1;
        failure = reply.error;
      } else {
        const std::size_t count = std::min<std::size_t>(reply.bytes.size(), ctrl.wLength);
        if (stage != nullptr) {
          std::copy_n(reply.bytes.begin(), count, stage->data);
        }
        result = static_cast<long>(count);
      }
    }
  }
  umockdev_ioctl_client_complete(client, result, failure);
  if (stage != nullptr) {
    umockdev_ioctl_data_unref(stage);
  }
  umockdev_ioctl_data_unref(request);
}

}  // namespace tagport::testing
