#pragma once

namespace qgrad {

// Clears the upper halves of the AVX registers when the processor has them.
// Code built without VEX encoding pays for dirty upper halves on every
// vector instruction on some processors; a library that leaves them dirty
// (seen after creating the Qt application) slows all later floating-point
// work. Call once after the application object is made.
void ClearUpperVectorState();

}  // namespace qgrad
