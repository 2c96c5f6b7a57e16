// Upgrade steps 1.0.0.0.13 to 1.0.0.0.22.
#include "ladder/steps.h"

namespace upgrade::ladder::steps {

void from13(Body& /*b*/) {}

void from14(Body& /*b*/) {}

void from15(Body& /*b*/) {}

void from16(Body& /*b*/) {}

void from17(Body& /*b*/) {}

void from18(Body& /*b*/) {}

void from19(Body& /*b*/) {}

void from20(Body& /*b*/) {}

void from21(Body& /*b*/) {}

}  // namespace upgrade::ladder::steps
