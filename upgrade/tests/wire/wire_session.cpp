#include "wire_session.h"

#include <algorithm>

#include "ladder_journal.h"
#include "odbc_test_config.h"
#include "sql_parameters.h"
#include "utf16.h"

namespace upgrade::testing {
namespace {

TdsRequest::Value wireValue(const db::ParamValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    const std::u16string units = text::toUtf16(*text);
    // The column size the ODBC layer binds: the text's UTF-16 units, at least one.
    return {"NVARCHAR(" + std::to_string(std::max<size_t>(units.size(), 1)) + ")", units};
  }
  return {"BIT", std::get<bool>(value) ? u"1" : u"0"};
}

}  // namespace

void OverTheWire::SetUp() {
  ASSERT_EQ(missingTestDrivers(), "");
}

void OverTheWire::TearDown() {
  for (const auto& peer : peers_) {
    for (const auto& violation : peer->violations()) {
      ADD_FAILURE() << "the peer did not understand: " << violation;
    }
  }
}

TdsPeer& OverTheWire::startPeer(TdsPeer::Options options) {
  peers_.push_back(std::make_unique<TdsPeer>(std::move(options)));
  return *peers_.back();
}

std::string OverTheWire::runLadder(TdsPeer& peer) {
  odbc::OdbcDatabase db(shortTimeouts());
  db.open(targetFor(peer), std::chrono::seconds(15));
  ladder::StepQuery query(db);
  const ladder::RunOutcome outcome = ladder::runLadder(db, query);
  db.close();
  return ladder::closingMessage(outcome).text;
}

std::vector<TdsRequest> wireForm(const std::vector<db::JournalEntry>& journal) {
  std::vector<TdsRequest> out;
  for (const auto& entry : journal) {
    TdsRequest request;
    switch (entry.kind) {
      case db::JournalEntry::Kind::Begin:
        continue;
      case db::JournalEntry::Kind::Commit:
      case db::JournalEntry::Kind::Rollback:
        request.kind = entry.kind == db::JournalEntry::Kind::Commit ? TdsRequest::Kind::Commit
                                                                    : TdsRequest::Kind::Rollback;
        request.beginNext = true;
        break;
      case db::JournalEntry::Kind::Open:
      case db::JournalEntry::Kind::Execute: {
        const db::PositionalStatement positional = db::toPositional(entry.text);
        if (positional.names.empty()) {
          request.kind = TdsRequest::Kind::Batch;
          request.text = text::toUtf16(positional.text);
          break;
        }
        // The driver numbers the markers: the n-th '?' becomes @Pn.
        request.kind = TdsRequest::Kind::Rpc;
        std::string text;
        std::string definitions;
        size_t n = 0;
        for (const char c : positional.text) {
          if (c != '?') {
            text += c;
            continue;
          }
          const std::string marker = "@P" + std::to_string(++n);
          text += marker;
          const auto& name = positional.names.at(n - 1);
          const auto param = std::find_if(entry.params.begin(), entry.params.end(),
                                          [&](const db::Param& p) { return p.name == name; });
          request.values.push_back(wireValue(param->value));
          definitions += (n == 1 ? "" : ",") + marker + " " + request.values.back().type;
        }
        request.text = text::toUtf16(text);
        request.definitions = text::toUtf16(definitions);
        break;
      }
    }
    out.push_back(std::move(request));
  }
  return out;
}

std::vector<db::JournalEntry> simulatedRun(db::SimulatedDatabase::Options options) {
  return LadderRun(std::move(options)).db.journal();
}

void expectSameRequests(const std::vector<TdsRequest>& actual,
                        const std::vector<TdsRequest>& expected) {
  EXPECT_EQ(actual.size(), expected.size()) << "requests received and expected";
  const size_t common = std::min(actual.size(), expected.size());
  for (size_t i = 0; i < common; ++i) {
    const TdsRequest& a = actual[i];
    const TdsRequest& e = expected[i];
    const bool same = a.kind == e.kind && a.text == e.text && a.definitions == e.definitions &&
                      a.beginNext == e.beginNext && a.values.size() == e.values.size() &&
                      std::equal(a.values.begin(), a.values.end(), e.values.begin(),
                                 [](const TdsRequest::Value& x, const TdsRequest::Value& y) {
                                   return x.type == y.type && x.text == y.text;
                                 });
    if (!same) {
      TdsRequest shown = e;
      shown.number = a.number;
      shown.descriptor = a.descriptor;
      ADD_FAILURE() << "request " << i + 1 << " differs\n  received: " << toJsonLine(a)
                    << "\n  expected: " << toJsonLine(shown);
      return;
    }
  }
}

}  // namespace upgrade::testing
