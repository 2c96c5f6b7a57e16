// Every export that talks to the reader, callable alike with a 10-byte array (large
// enough for any of them), for tests that go over all of them.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tagport.h"

namespace tagport::testing {

struct ExportCall {
  const char* name;
  std::function<std::int32_t(std::uint8_t*)> run;
  bool checked;  // a tag operation: the check comes first, and failures are reported
};

inline const std::vector<ExportCall>& ExportCalls() {
  static const std::vector<ExportCall> all = {
      {"GetReaderVersion", GetReaderVersion, false},
      {"ReadRFID", ReadRFID, true},
      {"SetCard", SetCard, true},
      {"SetCard2", SetCard2, true},
      {"ClearCard", ClearCard, true},
      {"ClearCard2", ClearCard2, true},
      {"GetHandId", GetHandId, true},
      {"SetHandId", SetHandId, true},
      {"GetHandType", GetHandType, true},
      {"SetHandType", SetHandType, true},
      {"WriteLimitCard", WriteLimitCard, true},
      {"GetLimitInfo", GetLimitInfo, true},
      {"GetRTC", GetRTC, false},
      {"SetRTC", SetRTC, false},
  };
  return all;
}

}  // namespace tagport::testing
