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

void noteConnectAttempt(RunLog& log, std::string_view who, const db::ConnectionTarget& target,
                        const std::exception_ptr& failure) noexcept {
  // Servers and drivers may echo the password in their messages.
  log.keepSecret(target.password);
  note(log, [&] {
    std::string event = std::string(who) + ": connect to server \"" + target.server +
                        "\", database \"" + target.database + "\" as " + target.user;
    return failure ? event + ": failed: " + reasonOf(failure) : event + ": connected";
  });
}

std::string_view firstLine(std::string_view text) noexcept {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace upgrade::ladder
