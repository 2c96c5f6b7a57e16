// SQL Server Browser replies, as any host on the network segment may send them: the
// instances that come out have names that are well-formed UTF-8 text, can be typed
// back as a server name, and ports that can be connected to.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_check.h"
#include "ssrp.h"
#include "text_encoding.h"

namespace {

void checkName(const std::string& name, const char* what) {
  FUZZ_CHECK(!name.empty(), std::string(what) + " is empty");
  FUZZ_CHECK(upgrade::text::isValidUtf8(name), std::string(what) + " " + fuzzing::escaped(name));
  // ';' separates the reply's fields; no real name holds a control character, and
  // a NUL would end the name early everywhere it is passed on.
  for (const char c : name) {
    FUZZ_CHECK(c != ';' && c != 0x7F && static_cast<unsigned char>(c) >= 0x20,
               std::string(what) + " " + fuzzing::escaped(name));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const auto& instance : upgrade::net::ssrp::parseResponse(std::span(data, size))) {
    checkName(instance.serverName, "server name");
    checkName(instance.instanceName, "instance name");
    FUZZ_CHECK(!instance.tcpPort || *instance.tcpPort != 0, "port 0");
    const std::string display = upgrade::net::ssrp::displayName(instance);
    FUZZ_CHECK(display.starts_with(instance.serverName), fuzzing::escaped(display));
  }
  return 0;
}
