/* tagport: driver of the USB RFID wristband reader (USB 16C0:88DC).
 *
 * Every export finds and opens the reader afresh, talks to it with vendor control
 * requests on the default pipe and returns. No call depends on an earlier one:
 * OpenReader is not needed before the others, and CloseReader does not stop them.
 *
 * Threads: the library has no lock. Its exports share one reader handle and one
 * reply buffer, so a process must run one export at a time.
 *
 * Arrays: the caller owns every array, and it must hold the number of bytes stated
 * for the export (the library does not check the pointer). The library reads or
 * writes it only during the call and keeps no pointer to it. When an export fails,
 * its array is left as it was, except where stated.
 *
 * Result codes, returned by every export but OpenReader and CloseReader:
 *   0            success
 *   1            no reader: none is attached, or the first one found could not be opened
 *   s + 1        2 to 256: the reader refused the check that precedes every tag
 *                operation with status s (1 to 255); 2 also when that request failed
 *                or timed out
 *   s + 2        3 to 257: the reader answered the operation's own request with
 *                status s (1 to 255); 3 also when that request failed or timed out
 *   16, 32       GetLimitInfo only, see there
 * Codes of different rows can coincide (3 is check status 2 or operation status 1);
 * the library cannot tell them apart. Each request waits at most 3 s for the reader,
 * and one export sends at most three requests.
 *
 * The check code: the check that precedes every tag operation (ReadRFID, the card
 * exports, the hand number and hand type exports, WriteLimitCard, GetLimitInfo)
 * carries two fixed 16-bit words, which must be the ones the reader's firmware
 * expects. They are fixed when the library is built (CMake setting
 * TAGPORT_CHECK_CODE, default 0x5AA5:0x0F1E, not confirmed against a reader). When
 * they are not the reader's, every tag operation fails with a code from 2 to 256 and
 * never sends its own request, while GetReaderVersion, GetRTC and SetRTC, which send
 * no check, still work. `tagport-probe --check-code FIRST:SECOND` tries another code
 * against a reader and prints the one the library was built with.
 *
 * On 32-bit Windows the exports use the stdcall convention under undecorated names.
 */
#ifndef TAGPORT_H
#define TAGPORT_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TAGPORT_CALL __stdcall
#else
#define TAGPORT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Finds and opens the reader. Sends nothing; `unused` is not read.
 * Returns 1 when a reader is open, 0 when there is none (or it could not be opened). */
int32_t TAGPORT_CALL OpenReader(int32_t unused);

/* Releases the reader handle. Sends nothing; the next export opens the reader again. */
void TAGPORT_CALL CloseReader(void);

/* version[10], written: 'P', the reader's eight version bytes, then 0, so it reads as
 * a zero-terminated text of at most nine characters. Bytes the reader did not send are
 * those left by earlier replies (zero in a freshly loaded library).
 * Returns 0 once a reader was found, whatever it answered; 1 when there is none. */
int32_t TAGPORT_CALL GetReaderVersion(uint8_t* version);

/* tag[4], written on success: the identifier of the tag on the reader.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL ReadRFID(uint8_t* tag);

/* tag[4], read then written on success: the four bytes go to the reader as two
 * big-endian words (bytes 0-1 in wValue, bytes 2-3 in wIndex) of request 145
 * (SetCard) or 146 (SetCard2), and the four data bytes of its answer replace them.
 * The two differ only in the request number; what the reader does with either, and
 * what the bytes mean, is the reader's.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL SetCard(uint8_t* tag);
int32_t TAGPORT_CALL SetCard2(uint8_t* tag);

/* tag[4], written on success: the four data bytes of the reader's answer to request
 * 142, sent with wValue 1 (ClearCard) or 2 (ClearCard2). The two differ only in that
 * value; what the reader clears, and what the bytes mean, is the reader's.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL ClearCard(uint8_t* tag);
int32_t TAGPORT_CALL ClearCard2(uint8_t* tag);

/* tag[4], written on success: the wristband's hand number.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL GetHandId(uint8_t* tag);

/* tag[4], read only: the hand number to write.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL SetHandId(const uint8_t* tag);

/* tag[4], written on success: the wristband's hand type.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL GetHandType(uint8_t* tag);

/* tag[4], read only: the hand type to write.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL SetHandType(const uint8_t* tag);

/* tag[4], read only: the limit to write to the card.
 * Returns 0, 1, 2 to 256 (check), 3 to 257 (operation). */
int32_t TAGPORT_CALL WriteLimitCard(const uint8_t* tag);

/* tag[4], written: the limit card's information, in two halves.
 * Returns 0 (all four bytes written), 1, 2 to 256 (check), 3 to 257 (the first
 * request's status; nothing written), 16 (the card is not a limit card; nothing
 * written), or 32 (the second request failed, whatever its status: bytes 0 and 1 are
 * written, bytes 2 and 3 are left as they were). */
int32_t TAGPORT_CALL GetLimitInfo(uint8_t* tag);

/* clock[6], written: the reader's clock, bytes 6, 4, 3, 2, 1 and 0 of its 7-byte
 * answer in that order. Bytes the reader did not send are those left by earlier
 * replies. Returns 0 once a reader was found, whatever it answered; 1 when there is
 * none. */
int32_t TAGPORT_CALL GetRTC(uint8_t* clock);

/* record[6], read only: three little-endian 16-bit words w0, w1, w2, sent as wLength,
 * wIndex and wValue of the clock-setting request. Its data stage is w0 bytes long
 * (none when w0 is 0): a 1, then seven bytes left by earlier replies, then zeros.
 * Returns 0 once a reader was found, whatever it answered; 1 when there is none. */
int32_t TAGPORT_CALL SetRTC(const uint8_t* record);

#ifdef __cplusplus
}
#endif

#endif /* TAGPORT_H */
