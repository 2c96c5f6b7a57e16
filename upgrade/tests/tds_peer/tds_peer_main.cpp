// tds-peer: the tests' pretend SQL Server, on the command line, for demonstrations.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "tds_peer.h"

namespace {

using upgrade::testing::TdsFault;
using upgrade::testing::TdsPeer;

void usage(std::FILE* out) {
  std::fputs(
      "usage: tds-peer [OPTION]...\n"
      "A TEST TOOL: a pretend SQL Server that speaks just enough TDS for FreeTDS and\n"
      "keeps ver1 in memory. It is not a database server and must never stand in for\n"
      "one outside tests and demonstrations.\n"
      "\n"
      "It listens on 127.0.0.1 on a port the system picks and prints \"port N\" first.\n"
      "Commands on standard input, one a line: \"version\" prints the committed ver1,\n"
      "\"journal\" prints every request so far as JSON lines, \"quit\" ends. It also ends\n"
      "at the end of its input, on SIGINT or SIGTERM, and when its lifetime is over,\n"
      "and then prints the committed version (and the journal with --journal). The exit\n"
      "status is 1 when a client sent anything the peer did not understand.\n"
      "\n"
      "  --version TEXT        committed ver1 at the start (default 1.0.0.0.0)\n"
      "  --xmlb-rows N         rows the ensure step's xmlb query finds (default 0)\n"
      "  --error TEXT          requests whose text holds TEXT fail with server error 50000\n"
      "  --deadlock TEXT       ... fail as a deadlock victim, ending the transaction\n"
      "  --drop TEXT           ... close the connection\n"
      "  --stall TEXT          ... get no answer until the client's attention\n"
      "  --stall-ignore TEXT   ... get no answer at all\n"
      "  --refuse-login        refuse every login (error 18456)\n"
      "  --silent-login        never answer a login\n"
      "  --lifetime SECONDS    stop after this long (default 600)\n"
      "  --journal             print the journal on exit\n",
      out);
}

bool wholeNumber(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

void printVersion(const TdsPeer& peer) {
  const auto version = peer.committedVersion();
  std::cout << "version " << (version ? *version : "(no row)") << std::endl;
}

void printJournal(const TdsPeer& peer) {
  for (const auto& request : peer.journal()) {
    std::cout << upgrade::testing::toJsonLine(request) << '\n';
  }
  std::cout.flush();
}

}  // namespace

int main(int argc, char** argv) {
  TdsPeer::Options options;
  options.lifetime = std::chrono::seconds(600);
  bool journal = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    auto fault = [&](TdsFault::Action action) {
      options.faults.push_back({.action = action, .textContains = argv[++i]});
    };
    int number = 0;
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--version" && hasValue) {
      options.version = argv[++i];
    } else if (arg == "--xmlb-rows" && hasValue && wholeNumber(argv[i + 1], number)) {
      options.xmlbRows = number;
      ++i;
    } else if (arg == "--lifetime" && hasValue && wholeNumber(argv[i + 1], number)) {
      options.lifetime = std::chrono::seconds(number);
      ++i;
    } else if (arg == "--error" && hasValue) {
      fault(TdsFault::Action::ServerError);
    } else if (arg == "--deadlock" && hasValue) {
      fault(TdsFault::Action::DeadlockVictim);
    } else if (arg == "--drop" && hasValue) {
      fault(TdsFault::Action::DropConnection);
    } else if (arg == "--stall" && hasValue) {
      fault(TdsFault::Action::StallAcknowledge);
    } else if (arg == "--stall-ignore" && hasValue) {
      fault(TdsFault::Action::StallIgnore);
    } else if (arg == "--refuse-login") {
      options.login = TdsPeer::Login::Refuse;
    } else if (arg == "--silent-login") {
      options.login = TdsPeer::Login::NeverAnswer;
    } else if (arg == "--journal") {
      journal = true;
    } else {
      usage(stderr);
      return 2;
    }
  }

  // Signals become readable on a descriptor, so that the peer's thread never sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

  const auto lifetime = options.lifetime;
  const auto deadline = std::chrono::steady_clock::now() + lifetime;
  TdsPeer peer(std::move(options));
  std::cout << "port " << peer.port() << std::endl;

  std::string pending;
  for (bool running = true; running;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      break;
    }
    std::array<pollfd, 2> entries{pollfd{STDIN_FILENO, POLLIN, 0}, pollfd{signalFd, POLLIN, 0}};
    if (::poll(entries.data(), entries.size(), static_cast<int>(left.count())) < 0 ||
        entries[1].revents != 0) {
      break;
    }
    if (entries[0].revents == 0) {
      continue;
    }
    std::array<char, 256> buffer{};
    const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got <= 0) {
      break;
    }
    pending.append(buffer.data(), static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string command = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (command == "version") {
        printVersion(peer);
      } else if (command == "journal") {
        printJournal(peer);
      } else if (command == "quit") {
        running = false;
      } else if (!command.empty()) {
        std::cerr << "tds-peer: unknown command \"" << command << "\"\n";
      }
    }
  }

  printVersion(peer);
  if (journal) {
    printJournal(peer);
  }
  return peer.violations().empty() ? 0 : 1;
}
