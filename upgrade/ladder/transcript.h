// What Update would send to a database, as JSON Lines: the real ladder run over the
// simulated database, every operation in order, then the closing message box.
// ladder-transcript prints it, and so does a status run for the version it found.
#pragma once

#include <string>

#include "simulated_database.h"

namespace upgrade::ladder {

// One line per operation ({"op":"begin"}, {"op":"execute","text":...}, ...), the
// last one {"op":"message","title":...,"text":...}; every line ends in '\n'.
[[nodiscard]] std::string ladderTranscript(db::SimulatedDatabase::Options options);

}  // namespace upgrade::ladder
