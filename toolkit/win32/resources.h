// The program's own resources, read in place: the bytes stay mapped with the module, so the
// span lasts as long as the program runs.
#pragma once
#include "../codecs/image.h"
#include <windows.h>
#include <cstdint>

namespace tk::win32 {

// Empty when the module has no resource of this id and type.
inline codecs::Bytes resourceBytes(HINSTANCE instance, int resourceId, LPCWSTR type)
{
    HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), type);
    HGLOBAL data = res ? LoadResource(instance, res) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes)
        return {};
    return {static_cast<const std::uint8_t*>(bytes), SizeofResource(instance, res)};
}

} // namespace tk::win32
