// Upgrade steps 1.0.0.0.22 to 1.0.0.0.31.
#include "ladder/steps.h"

namespace upgrade::ladder::steps {

void from22(Body& /*b*/) {}

void from23(Body& /*b*/) {}

void from24(Body& /*b*/) {}

void from25(Body& /*b*/) {}

void from26(Body& /*b*/) {}

void from27(Body& /*b*/) {}

void from28(Body& /*b*/) {}

void from29(Body& /*b*/) {}

void from30(Body& /*b*/) {}

}  // namespace upgrade::ladder::steps
