#include "simulated_database.h"

#include <algorithm>
#include <cstdio>

#include "ascii.h"

namespace upgrade::db {
namespace {

bool containsAny(const std::string& text, const std::vector<std::string>& needles) {
  return std::any_of(needles.begin(), needles.end(), [&](const std::string& needle) {
    return text.find(needle) != std::string::npos;
  });
}

// The text without its trailing line breaks, lower-cased in ASCII, for recognising
// the few statements the simulation acts on.
std::string normalised(const std::string& text) {
  std::string out = text;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
    out.pop_back();
  }
  for (char& c : out) {
    c = text::asciiLower(c);
  }
  return out;
}

const std::string* textParam(const Params& params, std::string_view name) {
  for (const auto& p : params) {
    if (p.name == name) {
      return std::get_if<std::string>(&p.value);
    }
  }
  return nullptr;
}

}  // namespace

SimulatedDatabase::SimulatedDatabase(Options options)
    : options_(std::move(options)), version_(options_.version), xmlbRows_(options_.xmlbRows) {}

void SimulatedDatabase::open(const ConnectionTarget& /*target*/,
                             std::chrono::seconds /*loginTimeout*/) {
  if (options_.failOpen) {
    open_ = false;
    throw DatabaseError("simulated: the server does not answer");
  }
  open_ = true;
}

void SimulatedDatabase::begin() {
  journal_.push_back({JournalEntry::Kind::Begin, {}, {}, false});
  if (!open_) {
    journal_.back().failed = true;
    throw DatabaseError("simulated: connection is closed");
  }
  inTransaction_ = true;
  pendingVersion_ = version_;
  pendingXmlbRows_ = xmlbRows_;
}

void SimulatedDatabase::commit() {
  journal_.push_back({JournalEntry::Kind::Commit, {}, {}, false});
  if (options_.failCommit || !inTransaction_) {
    journal_.back().failed = true;
    throw DatabaseError(inTransaction_ ? "simulated: commit failed" : "simulated: no transaction");
  }
  inTransaction_ = false;
  version_ = pendingVersion_;
  xmlbRows_ = pendingXmlbRows_;
}

void SimulatedDatabase::rollback() {
  journal_.push_back({JournalEntry::Kind::Rollback, {}, {}, false});
  if (options_.failRollback) {
    journal_.back().failed = true;
    throw DatabaseError("simulated: rollback failed, connection lost");
  }
  inTransaction_ = false;
}

bool SimulatedDatabase::transactionActive() {
  // Journalled as the query a real server would be asked, so that the preview shows
  // the check where it happens.
  journal_.push_back({JournalEntry::Kind::Open, "select @@TRANCOUNT", {}, false});
  return inTransaction_;
}

void SimulatedDatabase::failIfAsked(JournalEntry& entry) {
  if (containsAny(entry.text, options_.abortTransactionOn)) {
    entry.failed = true;
    inTransaction_ = false;  // the server rolled everything back on its own
    throw DatabaseError("simulated: transaction chosen as deadlock victim",
                        DatabaseError::Kind::Server);
  }
  if (containsAny(entry.text, options_.failOn)) {
    entry.failed = true;
    throw DatabaseError("simulated: statement failed", DatabaseError::Kind::Server);
  }
  if (containsAny(entry.text, options_.timeOutOn)) {
    entry.failed = true;
    throw DatabaseError("simulated: timeout expired", DatabaseError::Kind::Timeout);
  }
}

void SimulatedDatabase::execute(const std::string& text, const Params& params) {
  journal_.push_back({JournalEntry::Kind::Execute, text, params, false});
  failIfAsked(journal_.back());
  const std::string stmt = normalised(text);
  if (stmt == "update ver set ver1=:a1") {
    if (const auto* value = textParam(params, "a1")) {
      if (pendingVersion_) {  // an update of an empty table changes no row
        pendingVersion_ = *value;
      }
    }
  } else if (stmt.rfind("insert into xmlb(", 0) == 0) {
    ++pendingXmlbRows_;
  }
}

Rows SimulatedDatabase::query(const std::string& text, const Params& params) {
  journal_.push_back({JournalEntry::Kind::Open, text, params, false});
  failIfAsked(journal_.back());
  const std::string stmt = normalised(text);
  Rows rows;
  if (stmt == "select * from ver") {
    rows.columns = {"ver1"};
    const auto& current = inTransaction_ ? pendingVersion_ : version_;
    if (current) {
      rows.values.push_back({*current});
    }
  } else if (stmt.rfind("select * from xmlb", 0) == 0) {
    rows.columns = {"kinid", "kindname", "Parent", "sign", "leve", "SRemark"};
    // Every row is alike, so one stands for them all and the rest are counted:
    // --xmlb-rows near INT_MAX costs no more memory than 1.
    const int count = inTransaction_ ? pendingXmlbRows_ : xmlbRows_;
    if (count > 0) {
      rows.values.push_back({"XYL", "洗浴类", "XMFL", "0", "0", "XYL"});
      rows.unlistedRows = static_cast<std::size_t>(count) - 1;
    }
  } else if (stmt.rfind("select @@trancount", 0) == 0) {
    rows.columns = {""};
    rows.values.push_back({inTransaction_ ? "1" : "0"});
  }
  return rows;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x",
                        static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string toJsonLine(const JournalEntry& entry) {
  static constexpr const char* kOps[] = {"begin", "commit", "rollback", "open", "execute"};
  std::string line = "{\"op\":\"";
  line += kOps[static_cast<int>(entry.kind)];
  line += '"';
  if (entry.kind == JournalEntry::Kind::Open || entry.kind == JournalEntry::Kind::Execute) {
    line += ",\"text\":" + jsonString(entry.text);
  }
  if (!entry.params.empty()) {
    line += ",\"params\":{";
    bool first = true;
    for (const auto& p : entry.params) {
      if (!first) {
        line += ',';
      }
      first = false;
      line += jsonString(p.name) + ':';
      if (const auto* b = std::get_if<bool>(&p.value)) {
        line += *b ? "true" : "false";
      } else {
        line += jsonString(std::get<std::string>(p.value));
      }
    }
    line += '}';
  }
  if (entry.failed) {
    line += ",\"failed\":true";
  }
  line += '}';
  return line;
}

}  // namespace upgrade::db
