#pragma once

// Which lane width the vector kernels run at. The eight-lane kernels need AVX2, which not
// every x86-64 processor has; where it is missing the four-lane kernels run. Both give the
// same results bit for bit, so the choice only changes the speed.
bool wideLanesSupported();
// True while the eight-lane kernels are supported and not turned off.
bool wideLanesEnabled();
// Tests turn the eight-lane kernels off (and on again) to check the four-lane ones on a
// processor that has both. Turning them on where they are not supported does nothing.
void setWideLanesEnabled(bool enabled);
