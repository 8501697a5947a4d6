#include "backend.h"
#include <cassert>

namespace tk {

namespace {
Backend* current = nullptr;
}

Backend& backend()
{
    assert(current && "no backend installed");
    return *current;
}

BackendInstaller::BackendInstaller(Backend& b) : previous_(current) { current = &b; }
BackendInstaller::~BackendInstaller() { current = previous_; }

} // namespace tk
