// Icons and cursors at a display's size. They are pixel art: at a size they have no image of
// their own for, they are grown from the largest own image that fits, by whole-number
// repetition, and filtered only for what remains. The caller owns what is returned.
#pragma once
#include "handles.h"

namespace tk::win32 {

// An icon of the resource group at size x size pixels; null when there is none.
HICON iconAtSize(HINSTANCE instance, int resource, int size);
// A cursor of the resource group at size x size pixels, its hot spot moved with it.
HCURSOR cursorAtSize(HINSTANCE instance, int resource, int size);

} // namespace tk::win32
