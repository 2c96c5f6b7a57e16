// Step bodies, one function per step, named by the precondition they run at.
// Defined in the files named after the version range they cover.
#pragma once

#include "statements.h"

namespace upgrade::ladder::steps {

// 1.0.0.0.0 to 1.0.0.0.7
void from0(Body& b);
void from1(Body& b);
void ensureBathingCategory(Body& b);  // runs at 1.0.0.0.2 and keeps that version
void from2(Body& b);
void from3(Body& b);
void from4(Body& b);
void from5(Body& b);
void from6(Body& b);
// 1.0.0.0.7 to 1.0.0.0.13
void from7(Body& b);
void from8(Body& b);
void from9(Body& b);
void from10(Body& b);
void from11(Body& b);
void from12(Body& b);
// 1.0.0.0.13 to 1.0.0.0.22
void from13(Body& b);
void from14(Body& b);
void from15(Body& b);
void from16(Body& b);
void from17(Body& b);
void from18(Body& b);
void from19(Body& b);
void from20(Body& b);
void from21(Body& b);
// 1.0.0.0.22 to 1.0.0.0.31
void from22(Body& b);
void from23(Body& b);
void from24(Body& b);
void from25(Body& b);
void from26(Body& b);
void from27(Body& b);
void from28(Body& b);
void from29(Body& b);
void from30(Body& b);

}  // namespace upgrade::ladder::steps
