/* A fake of the libusb 0.1 functions tagport calls, over a bus that tests script: which
 * devices are plugged in, how opening them goes, and how the reader answers each
 * request. Linked in place of libusb, it records every control transfer and counts
 * the handles it gave out. It allocates nothing while it runs.
 *
 * Plain C, so the tests can drive it across a library boundary.
 */
#ifndef TAGPORT_FAKE_USB_H
#define TAGPORT_FAKE_USB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  FAKE_USB_MAX_DEVICES = 8,
  FAKE_USB_LOG_SIZE = 64,   /* transfers kept in the log; later ones are only counted */
  FAKE_USB_DATA_KEPT = 256, /* bytes of an OUT data stage kept in the log */
  FAKE_USB_REPLY_MAX = 8
};

typedef enum {
  FAKE_USB_OPENS,     /* usb_open gives a working handle */
  FAKE_USB_OPEN_NULL, /* usb_open returns null */
  FAKE_USB_OPEN_DEAD  /* a device node that does not open: a handle that fails with
                        EBADF on use (Debian's libusb 0.1), or null (libusb-win32) */
} fake_usb_open_mode;

typedef struct {
  int device; /* index returned by fake_usb_plug */
  uint8_t request_type;
  uint8_t request;
  uint16_t value;
  uint16_t index;
  uint16_t length;
  int timeout;
  uint8_t data[FAKE_USB_DATA_KEPT]; /* OUT only: the start of the data stage */
  size_t nonzero_past_kept;         /* OUT only: nonzero bytes after those kept */
} fake_usb_transfer;

/* Unplugs everything, forgets every answer, handle and count. */
void fake_usb_reset(void);

/* Plugs in a device on bus `bus` (1 to 999). Busses are listed in ascending number,
 * devices within a bus in the order they were plugged. Takes effect at the next
 * usb_find_devices, as with a real bus. Returns the device's index. */
int fake_usb_plug(int bus, uint16_t vendor, uint16_t product);
void fake_usb_unplug_all(void);
void fake_usb_set_open_mode(int device, fake_usb_open_mode mode);

/* How every device answers IN request `request`: `count` bytes of `bytes` (at most
 * FAKE_USB_REPLY_MAX, cut to wLength), or, when `error` is not 0, nothing at all and
 * -error from usb_control_msg. Unscripted requests answer wLength zero bytes. */
void fake_usb_answer(uint8_t request, const uint8_t* bytes, size_t count, int error);

/* Transfers sent to working handles since the last reset or clear. */
size_t fake_usb_transfer_count(void);
const fake_usb_transfer* fake_usb_transfer_at(size_t i); /* null past the log */
void fake_usb_clear_log(void);
void fake_usb_set_logging(int on); /* when off, transfers are only counted */

int fake_usb_opens(int device);       /* usb_open calls on the device */
int fake_usb_open_handles(void);      /* handles given out and not yet closed */
int fake_usb_peak_open_handles(void); /* most held at once since the last reset */
int fake_usb_misuses(void);           /* calls on handles that were not open */

#ifdef __cplusplus
}
#endif

#endif /* TAGPORT_FAKE_USB_H */
