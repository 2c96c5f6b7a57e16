// Upgrade steps 1.0.0.0.0 to 1.0.0.0.7.
#include "ladder/steps.h"

namespace upgrade::ladder::steps {

void from0(Body& /*b*/) {}

void from1(Body& /*b*/) {}

void ensureBathingCategory(Body& /*b*/) {}

void from2(Body& /*b*/) {}

void from3(Body& /*b*/) {}

void from4(Body& /*b*/) {}

void from5(Body& /*b*/) {}

void from6(Body& /*b*/) {}

}  // namespace upgrade::ladder::steps
