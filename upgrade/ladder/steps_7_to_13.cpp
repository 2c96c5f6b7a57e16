// Upgrade steps 1.0.0.0.7 to 1.0.0.0.13.
#include "ladder/steps.h"

namespace upgrade::ladder::steps {

void from7(Body& /*b*/) {}

void from8(Body& /*b*/) {}

void from9(Body& /*b*/) {}

void from10(Body& /*b*/) {}

void from11(Body& /*b*/) {}

void from12(Body& /*b*/) {}

}  // namespace upgrade::ladder::steps
