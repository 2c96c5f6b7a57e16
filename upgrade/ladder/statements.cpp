#include "statements.h"

#include <string>

namespace upgrade::ladder {

std::string quoted(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '\'';
  for (const char c : value) {
    if (c == '\'') {
      out += '\'';
    }
    out += c;
  }
  out += '\'';
  return out;
}

void Body::plain(std::string_view text) {
  query_->close();
  query_->clear();
  query_->setText(text);
  query_->execute();
}

void Body::continued(std::initializer_list<std::string_view> pieces) {
  query_->close();
  query_->clear();
  bool first = true;
  for (const auto piece : pieces) {
    if (first) {
      query_->setText(piece);
      first = false;
    } else {
      query_->setText(query_->readText() + std::string(piece));
    }
  }
  query_->execute();
}

void Body::tolerant(std::string_view text) {
  try {
    plain(text);
  } catch (const db::DatabaseError& e) {
    // After a time-out or a lost connection nobody knows whether the statement ran
    // or is still waiting on a lock; skipping it could leave the schema wrong for
    // good, since no later step comes back to it.
    if (e.kind() != db::DatabaseError::Kind::Server) {
      throw;
    }
    if (!query_->database().transactionActive()) {
      throw db::DatabaseError("the server ended the transaction after a tolerated failure");
    }
    note(*log_, [&] { return "tolerated: " + std::string(firstLine(text)) + ": " + e.what(); });
  }
}

void Body::bound(std::string_view text, std::string_view name, db::ParamValue value) {
  query_->close();
  query_->clear();
  query_->addLine(text);
  query_->setParameter(name, std::move(value));
  query_->execute();
}

std::string readVersion(StepQuery& query) {
  query.close();
  query.clear();
  query.addLine("select * from ver");
  query.open();
  return query.fieldAsText("ver1");
}

void writeVersion(StepQuery& query, std::string_view version) {
  Body(query).bound("update ver set ver1=:a1", "a1", std::string(version));
}

}  // namespace upgrade::ladder
