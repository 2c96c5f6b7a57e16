#include "transcript.h"

#include <chrono>
#include <utility>

#include "ladder.h"

namespace upgrade::ladder {

std::string ladderTranscript(db::SimulatedDatabase::Options options) {
  db::SimulatedDatabase db(std::move(options));
  db.open({}, std::chrono::seconds(15));
  StepQuery query(db);
  const ClosingMessage message = closingMessage(runLadder(db, query));

  std::string out;
  for (const auto& entry : db.journal()) {
    out += toJsonLine(entry);
    out += '\n';
  }
  out += "{\"op\":\"message\",\"title\":" + db::jsonString(message.title) +
         ",\"text\":" + db::jsonString(message.text) + "}\n";
  return out;
}

}  // namespace upgrade::ladder
