#include "image.h"

namespace tk::codecs {

Image decodeImage(Bytes f)
{
    if (f.size() >= 2 && f[0] == 'B' && f[1] == 'M')
        return decodeBmp(f);
    if (f.size() >= 3 && f[0] == 0xFF && f[1] == 0xD8 && f[2] == 0xFF)
        return decodeJpeg(f);
    if (f.size() >= 4 && f[0] == 'G' && f[1] == 'I' && f[2] == 'F' && f[3] == '8')
        return decodeGif(f);
    return {};
}

} // namespace tk::codecs
