/* A C program of the kind that uses tagport: compiled against tagport.h alone, linked
 * against the import library, and calling every export once. With no reader on the
 * stub bus every call is a discovery that finds none. Exit status 0 when every result
 * is as documented. */
#include <stdio.h>
#include <string.h>

#include "tagport.h"

static int failures = 0;

static void expect(const char* name, int32_t got, int32_t wanted) {
  if (got != wanted) {
    printf("%s returned %ld, expected %ld\n", name, (long)got, (long)wanted);
    ++failures;
  }
}

int main(void) {
  uint8_t bytes[10];
  uint8_t untouched[10];
  memset(bytes, 0xA5, sizeof bytes);
  memcpy(untouched, bytes, sizeof bytes);

  expect("OpenReader", OpenReader(0), 0);
  CloseReader();
  expect("GetReaderVersion", GetReaderVersion(bytes), 1);
  expect("ReadRFID", ReadRFID(bytes), 1);
  expect("SetCard", SetCard(bytes), 1);
  expect("SetCard2", SetCard2(bytes), 1);
  expect("ClearCard", ClearCard(bytes), 1);
  expect("ClearCard2", ClearCard2(bytes), 1);
  expect("GetHandId", GetHandId(bytes), 1);
  expect("SetHandId", SetHandId(bytes), 1);
  expect("GetHandType", GetHandType(bytes), 1);
  expect("SetHandType", SetHandType(bytes), 1);
  expect("WriteLimitCard", WriteLimitCard(bytes), 1);
  expect("GetLimitInfo", GetLimitInfo(bytes), 1);
  expect("GetRTC", GetRTC(bytes), 1);
  expect("SetRTC", SetRTC(bytes), 1);
  if (memcmp(bytes, untouched, sizeof bytes) != 0) {
    printf("an export wrote to the caller's array without a reader\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
