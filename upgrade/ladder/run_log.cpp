#include "run_log.h"

namespace upgrade::ladder {

RunLog& noRunLog() noexcept {
  class Discard final : public RunLog {
   public:
    void note(std::string_view /*event*/) noexcept override {}
  };
  static Discard discard;
  return discard;
}

std::string reasonOf(const std::exception_ptr& failure) {
  if (!failure) {
    return {};
  }
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unknown failure";
  }
}

std::string_view firstLine(std::string_view text) noexcept {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace upgrade::ladder
