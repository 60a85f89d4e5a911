#pragma once

namespace stonecall {

// Gives assistive technology what the widgets alone do not tell it: the two windows are
// frames that can be given the keyboard, and the clickable labels are buttons it can press.
// Safe to call more than once; call before the first widget concerned is made.
void installAccessibility();

} // namespace stonecall
