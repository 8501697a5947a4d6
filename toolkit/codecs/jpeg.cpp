// JPEG: baseline and progressive Huffman coding, 8-bit samples, grey, YCbCr or RGB with any
// whole sampling ratio, restart intervals. Every scan is decoded into per-component
// coefficients; the picture is built once all scans are in. Data that stops inside a scan, and
// a scan out of turn, refuse the file. The inverse DCT, the chroma upsampling and the colour
// conversion use the integer forms of the common reference decoder, so the pixels are the ones
// other programs show.
#include "image.h"
#include <algorithm>
#include <array>

namespace tk::codecs {

namespace {

// Zig-zag position to natural (row-major) position.
constexpr std::array<std::uint8_t, 64> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr int kFastBits = 9; // most codes are this short or shorter: looked up at once

struct Huffman {
    bool defined = false;
    int count = 0;
    std::array<std::uint8_t, 256> symbols{};
    std::array<int, 17> maxCode{};   // largest code of each length, -1 if none
    std::array<int, 17> valOffset{}; // symbol index minus code, per length
    // By the next kFastBits bits: the code's length << 8 | its symbol; 0 when the code is longer
    // or not in the table, which the bit-by-bit search then settles.
    std::array<std::uint16_t, 1 << kFastBits> fast{};
};

bool buildHuffman(Huffman& h, const std::uint8_t* counts, const std::uint8_t* symbols, int total)
{
    int code = 0, k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[len - 1];
        h.valOffset[len] = k - code;
        k += n;
        code += n;
        if (code > (1 << len))
            return false; // more codes than the length can hold
        h.maxCode[len] = n ? code - 1 : -1;
        code <<= 1;
    }
    if (k != total || k > 256)
        return false;
    std::copy(symbols, symbols + k, h.symbols.begin());
    h.count = k;
    h.fast.fill(0);
    for (int bits = 0; bits < (1 << kFastBits); ++bits) {
        for (int len = 1; len <= kFastBits; ++len) {
            const int prefix = bits >> (kFastBits - len);
            if (prefix <= h.maxCode[len]) {
                const int i = prefix + h.valOffset[len];
                if (i >= 0 && i < k)
                    h.fast[std::size_t(bits)] = std::uint16_t(len << 8 | h.symbols[std::size_t(i)]);
                break;
            }
        }
    }
    h.defined = true;
    return true;
}

// Reads the entropy-coded bytes of a scan, removing the stuffed zero after 0xFF, through a
// buffer of up to 64 bits. At a marker or the end of the file it feeds zero bits and stays put;
// those may be looked ahead at, but a decode that takes one has run out of data.
class BitReader {
public:
    BitReader(Bytes f, std::size_t pos) : f_(f), pos_(pos) {}

    std::size_t position() const { return pos_; } // never past the next marker

    // Some of the zero bits fed past the data were taken: the interval or scan is cut short.
    bool overrun() const { return count_ < padding_; }

    int bit() { return bits(1); }

    int bits(int n) // n <= 16
    {
        if (n == 0)
            return 0;
        const int v = peek(n);
        skip(n);
        return v;
    }

    // A magnitude category's extra bits, sign-extended.
    int receiveExtend(int s)
    {
        if (s == 0)
            return 0;
        const int v = bits(s);
        return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
    }

    // -1 for a code the table does not hold.
    int decode(const Huffman& h)
    {
        if (const int e = h.fast[std::size_t(peek(kFastBits))]) {
            skip(e >> 8);
            return e & 0xFF;
        }
        for (int len = 1; len <= 16; ++len) {
            const int code = peek(len);
            if (code <= h.maxCode[len]) {
                skip(len);
                const int i = code + h.valOffset[len];
                return i >= 0 && i < h.count ? h.symbols[std::size_t(i)] : -1;
            }
        }
        return -1;
    }

    // At a restart boundary: drop the bits left of the interval and step over the RSTn marker.
    void restart()
    {
        buffer_ = 0;
        count_ = 0;
        padding_ = 0;
        atMarker_ = false;
        if (pos_ + 1 < f_.size() && f_[pos_] == 0xFF && (f_[pos_ + 1] & 0xF8) == 0xD0)
            pos_ += 2;
    }

private:
    std::uint8_t nextByte()
    {
        if (!atMarker_ && pos_ < f_.size()) {
            const std::uint8_t b = f_[pos_];
            if (b != 0xFF) {
                ++pos_;
                return b;
            }
            if (pos_ + 1 < f_.size() && f_[pos_ + 1] == 0) {
                pos_ += 2;
                return 0xFF;
            }
        }
        atMarker_ = true;
        padding_ += 8;
        return 0;
    }

    // The next n bits (1 to 16), not consumed.
    int peek(int n)
    {
        if (count_ < n)
            while (count_ <= 56) {
                buffer_ |= std::uint64_t(nextByte()) << (56 - count_);
                count_ += 8;
            }
        return int(buffer_ >> (64 - n));
    }

    void skip(int n)
    {
        buffer_ <<= n;
        count_ -= n;
    }

    Bytes f_;
    std::size_t pos_;
    std::uint64_t buffer_ = 0; // the next bit is the top one
    int count_ = 0;
    int padding_ = 0; // how many of the last count_ bits were fed past the data
    bool atMarker_ = false;
};

struct Component {
    int id = 0, h = 1, v = 1, quant = 0;
    int width = 0, height = 0;                // samples actually in the image
    int blocksPerLine = 0, blocksPerColumn = 0; // allocated, whole MCUs
    std::vector<std::int16_t> coefs;           // 64 per block, natural order
    int dcPred = 0, dcTable = 0, acTable = 0;
    // Per zig-zag position, the point transform of the last scan that coded it; -1 before any.
    std::array<std::int8_t, 64> precision{};

    std::int16_t* block(int row, int col) { return &coefs[(std::size_t(row) * blocksPerLine + col) * 64]; }
    const std::int16_t* block(int row, int col) const { return &coefs[(std::size_t(row) * blocksPerLine + col) * 64]; }
};

struct Scan {
    std::array<Component*, 4> comps{};
    int count = 0;
    int ss = 0, se = 63, ah = 0, al = 0;
};

// Encoders write about ten scans, and each can cost a pass over every block of the picture.
constexpr int kMaxScans = 100;

class Decoder {
public:
    explicit Decoder(Bytes f) : f_(f) {}
    Image run();

private:
    bool readFrame(std::size_t at, std::size_t len, bool progressive);
    bool readHuffmanTables(std::size_t at, std::size_t len);
    bool readQuantTables(std::size_t at, std::size_t len);
    bool readScanHeader(std::size_t at, std::size_t len, Scan& scan);
    std::size_t decodeScan(const Scan& scan, std::size_t at);
    bool decodeBlock(const Scan& scan, Component& c, std::int16_t* block, BitReader& in);
    bool decodeBaseline(Component& c, std::int16_t* block, BitReader& in);
    bool decodeAcFirst(const Scan& scan, Component& c, std::int16_t* block, BitReader& in);
    bool decodeAcRefine(const Scan& scan, Component& c, std::int16_t* block, BitReader& in);
    std::vector<std::uint8_t> samples(const Component& c) const;
    Image picture();

    bool rgb() const;
    int be16(std::size_t o) const { return f_[o] << 8 | f_[o + 1]; }

    Bytes f_;
    bool haveFrame_ = false, progressive_ = false;
    int width_ = 0, height_ = 0, hMax_ = 1, vMax_ = 1, mcusPerLine_ = 0, mcusPerColumn_ = 0;
    int restartInterval_ = 0, eobRun_ = 0, scans_ = 0;
    bool sawJfif_ = false;
    int adobeTransform_ = -1; // -1: no Adobe marker
    std::vector<Component> comps_;
    std::array<std::array<std::uint16_t, 64>, 4> quant_{};
    std::array<bool, 4> quantDefined_{};
    std::array<Huffman, 4> dc_{}, ac_{};
};

bool Decoder::readFrame(std::size_t at, std::size_t len, bool progressive)
{
    if (haveFrame_ || len < 6 || f_[at] != 8)
        return false; // one frame, 8-bit samples only
    height_ = be16(at + 1);
    width_ = be16(at + 3);
    const int n = f_[at + 5];
    if (width_ == 0 || height_ == 0 || (n != 1 && n != 3) || len < 6 + std::size_t(n) * 3 ||
        std::size_t(width_) * height_ > kMaxPixels)
        return false;
    comps_.resize(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        Component& c = comps_[std::size_t(i)];
        const std::size_t o = at + 6 + std::size_t(i) * 3;
        c.id = f_[o];
        c.h = f_[o + 1] >> 4;
        c.v = f_[o + 1] & 15;
        c.quant = f_[o + 2];
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quant > 3)
            return false;
        hMax_ = std::max(hMax_, c.h);
        vMax_ = std::max(vMax_, c.v);
    }
    mcusPerLine_ = (width_ + 8 * hMax_ - 1) / (8 * hMax_);
    mcusPerColumn_ = (height_ + 8 * vMax_ - 1) / (8 * vMax_);
    // Every block of every component takes at least one bit in its first scan, so a file too
    // short for that is cut short whatever it says. The store, whole MCUs of coefficients (2
    // bytes each) and later of samples (1 byte), stays within 4 samples a pixel: with the
    // picture itself, under 70 MB.
    std::size_t leastBits = 0, stored = 0;
    for (Component& c : comps_) {
        if (hMax_ % c.h || vMax_ % c.v)
            return false; // fractional sampling ratios are not used in practice
        c.width = (width_ * c.h + hMax_ - 1) / hMax_;
        c.height = (height_ * c.v + vMax_ - 1) / vMax_;
        c.blocksPerLine = mcusPerLine_ * c.h;
        c.blocksPerColumn = mcusPerColumn_ * c.v;
        leastBits += std::size_t((c.width + 7) / 8) * std::size_t((c.height + 7) / 8);
        stored += std::size_t(c.blocksPerLine) * std::size_t(c.blocksPerColumn) * 64;
    }
    if (leastBits > (f_.size() - at) * 8 || stored > 4 * kMaxPixels)
        return false;
    for (Component& c : comps_) {
        c.coefs.assign(std::size_t(c.blocksPerLine) * c.blocksPerColumn * 64, 0);
        c.precision.fill(-1);
    }
    progressive_ = progressive;
    haveFrame_ = true;
    return true;
}

bool Decoder::readHuffmanTables(std::size_t at, std::size_t len)
{
    const std::size_t end = at + len;
    while (at < end) {
        if (end - at < 17)
            return false;
        const int cls = f_[at] >> 4, slot = f_[at] & 15;
        int total = 0;
        for (int i = 0; i < 16; ++i)
            total += f_[at + 1 + std::size_t(i)];
        if (cls > 1 || slot > 3 || end - at - 17 < std::size_t(total))
            return false;
        Huffman& h = (cls == 0 ? dc_ : ac_)[std::size_t(slot)];
        if (!buildHuffman(h, &f_[at + 1], &f_[at + 17], total))
            return false;
        at += 17 + std::size_t(total);
    }
    return true;
}

bool Decoder::readQuantTables(std::size_t at, std::size_t len)
{
    const std::size_t end = at + len;
    while (at < end) {
        const int wide = f_[at] >> 4, slot = f_[at] & 15;
        const std::size_t size = 1 + 64 * std::size_t(wide ? 2 : 1);
        if (wide > 1 || slot > 3 || end - at < size)
            return false;
        for (std::size_t k = 0; k < 64; ++k)
            quant_[std::size_t(slot)][kNatural[k]] = std::uint16_t(wide ? be16(at + 1 + 2 * k) : f_[at + 1 + k]);
        quantDefined_[std::size_t(slot)] = true;
        at += size;
    }
    return true;
}

bool Decoder::readScanHeader(std::size_t at, std::size_t len, Scan& scan)
{
    if (!haveFrame_ || len < 1)
        return false;
    scan.count = f_[at];
    if (scan.count < 1 || scan.count > int(comps_.size()) || len != 4 + 2 * std::size_t(scan.count))
        return false;
    for (int i = 0; i < scan.count; ++i) {
        const std::size_t o = at + 1 + 2 * std::size_t(i);
        auto it = std::find_if(comps_.begin(), comps_.end(), [&](const Component& c) { return c.id == f_[o]; });
        if (it == comps_.end() || std::find(scan.comps.begin(), scan.comps.begin() + i, &*it) != scan.comps.begin() + i)
            return false;
        it->dcTable = f_[o + 1] >> 4;
        it->acTable = f_[o + 1] & 15;
        if (it->dcTable > 3 || it->acTable > 3)
            return false;
        scan.comps[std::size_t(i)] = &*it;
    }
    const std::size_t o = at + 1 + 2 * std::size_t(scan.count);
    scan.ss = f_[o];
    scan.se = f_[o + 1];
    scan.ah = f_[o + 2] >> 4;
    scan.al = f_[o + 2] & 15;
    if (!progressive_) {
        if (scan.ss != 0 || scan.se != 63 || scan.ah != 0 || scan.al != 0)
            return false;
    } else if (scan.ss > scan.se || scan.se > 63 || scan.al > 13 || (scan.ah != 0 && scan.al != scan.ah - 1) ||
               (scan.ss == 0) != (scan.se == 0) || (scan.ss > 0 && scan.count != 1)) {
        // Progressive: DC scans alone, AC scans one component at a time, each refinement one
        // bit more.
        return false;
    }
    // Each coefficient is coded once and then refined bit by bit, its DC before its AC: a scan
    // that codes again what an earlier one finished, or out of turn, is refused rather than
    // decoded (it would only cost time).
    for (int i = 0; i < scan.count; ++i) {
        const auto& done = scan.comps[std::size_t(i)]->precision;
        if (scan.ss > 0 && done[0] < 0)
            return false;
        for (int k = scan.ss; k <= scan.se; ++k)
            if (scan.ah == 0 ? done[std::size_t(k)] >= 0 : done[std::size_t(k)] != scan.ah)
                return false;
    }
    for (int i = 0; i < scan.count; ++i) {
        auto& done = scan.comps[std::size_t(i)]->precision;
        std::fill(done.begin() + scan.ss, done.begin() + scan.se + 1, std::int8_t(scan.al));
    }
    return true;
}

bool Decoder::decodeBaseline(Component& c, std::int16_t* block, BitReader& in)
{
    const Huffman &dc = dc_[std::size_t(c.dcTable)], &ac = ac_[std::size_t(c.acTable)];
    const int t = in.decode(dc);
    if (t < 0 || t > 15)
        return false;
    c.dcPred = std::int16_t(c.dcPred + in.receiveExtend(t));
    block[0] = std::int16_t(c.dcPred);
    for (int k = 1; k < 64;) {
        const int rs = in.decode(ac);
        if (rs < 0)
            return false;
        const int r = rs >> 4, s = rs & 15;
        if (s == 0) {
            if (r != 15)
                break; // end of block
            k += 16;
            continue;
        }
        k += r;
        if (k > 63)
            return false;
        block[kNatural[std::size_t(k)]] = std::int16_t(in.receiveExtend(s));
        ++k;
    }
    return true;
}

bool Decoder::decodeAcFirst(const Scan& scan, Component& c, std::int16_t* block, BitReader& in)
{
    if (eobRun_ > 0) {
        --eobRun_;
        return true;
    }
    const Huffman& ac = ac_[std::size_t(c.acTable)];
    for (int k = scan.ss; k <= scan.se;) {
        const int rs = in.decode(ac);
        if (rs < 0)
            return false;
        const int r = rs >> 4, s = rs & 15;
        if (s == 0) {
            if (r < 15) {
                eobRun_ = (1 << r) + in.bits(r) - 1;
                break;
            }
            k += 16;
            continue;
        }
        k += r;
        if (k > scan.se)
            return false;
        block[kNatural[std::size_t(k)]] = std::int16_t(in.receiveExtend(s) * (1 << scan.al));
        ++k;
    }
    return true;
}

// Successive approximation of AC coefficients: one more bit for each coefficient already
// nonzero, new coefficients of magnitude 1 placed among the zero ones.
bool Decoder::decodeAcRefine(const Scan& scan, Component& c, std::int16_t* block, BitReader& in)
{
    const int p1 = 1 << scan.al, m1 = -p1;
    auto refine = [&](std::int16_t& coef) {
        if (in.bit() && (coef & p1) == 0)
            coef = std::int16_t(coef + (coef >= 0 ? p1 : m1));
    };
    int k = scan.ss;
    if (eobRun_ == 0) {
        const Huffman& ac = ac_[std::size_t(c.acTable)];
        for (; k <= scan.se; ++k) {
            const int rs = in.decode(ac);
            if (rs < 0)
                return false;
            int r = rs >> 4, s = rs & 15, value = 0;
            if (s != 0) {
                if (s != 1)
                    return false;
                value = in.bit() ? p1 : m1;
            } else if (r != 15) {
                eobRun_ = (1 << r) + in.bits(r);
                break;
            }
            // Skip r zero coefficients (refining the nonzero ones passed), then place the value.
            for (; k <= scan.se; ++k) {
                std::int16_t& coef = block[kNatural[std::size_t(k)]];
                if (coef != 0)
                    refine(coef);
                else if (--r < 0)
                    break;
            }
            if (value != 0) {
                if (k > scan.se)
                    return false;
                block[kNatural[std::size_t(k)]] = std::int16_t(value);
            }
        }
    }
    if (eobRun_ > 0) {
        for (; k <= scan.se; ++k) {
            std::int16_t& coef = block[kNatural[std::size_t(k)]];
            if (coef != 0)
                refine(coef);
        }
        --eobRun_;
    }
    return true;
}

bool Decoder::decodeBlock(const Scan& scan, Component& c, std::int16_t* block, BitReader& in)
{
    if (!progressive_)
        return decodeBaseline(c, block, in);
    if (scan.ss == 0) {
        if (scan.ah != 0) {
            if (in.bit())
                block[0] = std::int16_t(block[0] | (1 << scan.al));
            return true;
        }
        const int t = in.decode(dc_[std::size_t(c.dcTable)]);
        if (t < 0 || t > 15)
            return false;
        c.dcPred = std::int16_t(c.dcPred + in.receiveExtend(t));
        block[0] = std::int16_t(c.dcPred * (1 << scan.al));
        return true;
    }
    return scan.ah == 0 ? decodeAcFirst(scan, c, block, in) : decodeAcRefine(scan, c, block, in);
}

// Decodes the entropy-coded data from `at`; returns where the next marker is, 0 on failure,
// which includes data that stops before the scan's last unit.
std::size_t Decoder::decodeScan(const Scan& scan, std::size_t at)
{
    for (int i = 0; i < scan.count; ++i) {
        const Component& c = *scan.comps[std::size_t(i)];
        const bool needsDc = scan.ss == 0 && scan.ah == 0, needsAc = scan.se > 0;
        if ((needsDc && !dc_[std::size_t(c.dcTable)].defined) || (needsAc && !ac_[std::size_t(c.acTable)].defined))
            return 0;
    }
    BitReader in(f_, at);
    for (Component& c : comps_)
        c.dcPred = 0;
    eobRun_ = 0;

    // A single-component scan covers only that component's own blocks, not whole MCUs.
    const bool single = scan.count == 1;
    Component& first = *scan.comps[0];
    const int unitsPerLine = single ? (first.width + 7) / 8 : mcusPerLine_;
    const int units = unitsPerLine * (single ? (first.height + 7) / 8 : mcusPerColumn_);
    for (int u = 0; u < units; ++u) {
        if (restartInterval_ > 0 && u > 0 && u % restartInterval_ == 0) {
            in.restart();
            for (Component& c : comps_)
                c.dcPred = 0;
            eobRun_ = 0;
        }
        const int row = u / unitsPerLine, col = u % unitsPerLine;
        if (single) {
            if (!decodeBlock(scan, first, first.block(row, col), in))
                return 0;
        } else {
            for (int i = 0; i < scan.count; ++i) {
                Component& c = *scan.comps[std::size_t(i)];
                for (int y = 0; y < c.v; ++y)
                    for (int x = 0; x < c.h; ++x)
                        if (!decodeBlock(scan, c, c.block(row * c.v + y, col * c.h + x), in))
                            return 0;
            }
        }
        if (in.overrun())
            return 0;
    }
    // The next marker: skip padding, stuffed bytes and stray restart markers.
    std::size_t p = in.position();
    while (p + 1 < f_.size() && !(f_[p] == 0xFF && f_[p + 1] != 0 && f_[p + 1] != 0xFF && (f_[p + 1] & 0xF8) != 0xD0))
        ++p;
    return p;
}

// The integer inverse DCT of the reference decoder (13-bit constants, 2 extra bits between
// passes), widened to 64 bits so that no coefficient a file can hold overflows it.
void inverseDct(const std::int16_t* in, const std::uint16_t* quant, std::uint8_t* out, std::size_t stride)
{
    using W = std::int64_t;
    constexpr int kConstBits = 13, kPass1Bits = 2;
    auto descale = [](W x, int n) { return (x + (W(1) << (n - 1))) >> n; };
    // A block with no AC energy (smooth areas: most of them) is flat; the full transform
    // would give every sample this same value.
    if (std::all_of(in + 1, in + 64, [](std::int16_t c) { return c == 0; })) {
        const auto v = std::uint8_t(std::clamp<W>(descale(W(in[0]) * quant[0] << (kConstBits + kPass1Bits), kConstBits + kPass1Bits + 3) + 128, 0, 255));
        for (int row = 0; row < 8; ++row)
            std::fill_n(out + std::size_t(row) * stride, 8, v);
        return;
    }
    W ws[64];
    // One 1-D transform: 8 inputs at `at(i)`, results through `put(i, value before descaling)`.
    auto transform = [](auto at, auto put) {
        W z2 = at(2), z3 = at(6);
        W z1 = (z2 + z3) * 4433;
        const W t2 = z1 + z3 * -15137, t3 = z1 + z2 * 6270;
        z2 = at(0);
        z3 = at(4);
        const W t0 = (z2 + z3) << kConstBits, t1 = (z2 - z3) << kConstBits;
        const W t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
        W o0 = at(7), o1 = at(5), o2 = at(3), o3 = at(1);
        z1 = o0 + o3;
        z2 = o1 + o2;
        z3 = o0 + o2;
        W z4 = o1 + o3;
        const W z5 = (z3 + z4) * 9633;
        o0 *= 2446;
        o1 *= 16819;
        o2 *= 25172;
        o3 *= 12299;
        z1 *= -7373;
        z2 *= -20995;
        z3 = z3 * -16069 + z5;
        z4 = z4 * -3196 + z5;
        o0 += z1 + z3;
        o1 += z2 + z4;
        o2 += z2 + z3;
        o3 += z1 + z4;
        put(0, t10 + o3);
        put(7, t10 - o3);
        put(1, t11 + o2);
        put(6, t11 - o2);
        put(2, t12 + o1);
        put(5, t12 - o1);
        put(3, t13 + o0);
        put(4, t13 - o0);
    };
    for (int col = 0; col < 8; ++col)
        transform([&](int i) { return W(in[i * 8 + col]) * quant[i * 8 + col]; },
                  [&](int i, W v) { ws[i * 8 + col] = descale(v, kConstBits - kPass1Bits); });
    for (int row = 0; row < 8; ++row)
        transform([&](int i) { return ws[row * 8 + i]; },
                  [&](int i, W v) {
                      out[std::size_t(row) * stride + std::size_t(i)] =
                          std::uint8_t(std::clamp<W>(descale(v, kConstBits + kPass1Bits + 3) + 128, 0, 255));
                  });
}

// A component's samples over its whole allocated block area.
std::vector<std::uint8_t> Decoder::samples(const Component& c) const
{
    const std::size_t stride = std::size_t(c.blocksPerLine) * 8;
    std::vector<std::uint8_t> plane(stride * std::size_t(c.blocksPerColumn) * 8);
    const std::uint16_t* quant = quant_[std::size_t(c.quant)].data();
    for (int by = 0; by < c.blocksPerColumn; ++by)
        for (int bx = 0; bx < c.blocksPerLine; ++bx)
            inverseDct(c.block(by, bx), quant, &plane[std::size_t(by) * 8 * stride + std::size_t(bx) * 8], stride);
    return plane;
}

// Brings a component to full resolution. Components halved across, down or both use the
// reference decoder's triangle filter (3/4 nearer sample, 1/4 farther, in the same rounding);
// other ratios repeat samples.
class Upsampler {
public:
    Upsampler(std::vector<std::uint8_t> plane, const Component& c, int hf, int vf)
        : plane_(std::move(plane)), c_(c), hf_(hf), vf_(vf), sums_(std::size_t(c.width) + 2)
    {
    }

    // Output row y, `width` samples.
    void row(int y, int width, std::uint8_t* dst)
    {
        const std::size_t stride = std::size_t(c_.blocksPerLine) * 8;
        const int sy = y / vf_, farY = std::clamp(y % 2 ? sy + 1 : sy - 1, 0, c_.height - 1);
        const std::uint8_t *nearRow = &plane_[std::size_t(sy) * stride], *farRow = &plane_[std::size_t(farY) * stride];
        if (hf_ == 1 && vf_ == 1) {
            std::copy(nearRow, nearRow + width, dst);
        } else if (hf_ == 1 && vf_ == 2) {
            const int bias = y % 2 ? 2 : 1;
            for (int x = 0; x < width; ++x)
                dst[x] = std::uint8_t((3 * nearRow[x] + farRow[x] + bias) >> 2);
        } else if (hf_ == 2 && vf_ <= 2) {
            // Column sums in quarters (the sample times 4 when only halved across), then the
            // same 3:1 weighting across, in sixteenths.
            for (int i = 0; i < c_.width; ++i)
                sums_[std::size_t(i) + 1] = vf_ == 2 ? 3 * nearRow[i] + farRow[i] : 4 * nearRow[i];
            sums_[0] = sums_[1];
            sums_[std::size_t(c_.width) + 1] = sums_[std::size_t(c_.width)];
            const int evenBias = vf_ == 2 ? 8 : 4, oddBias = vf_ == 2 ? 7 : 8;
            const int* s = &sums_[1];
            for (int x = 0; x < width; x += 2, ++s) {
                dst[x] = std::uint8_t((3 * s[0] + s[-1] + evenBias) >> 4);
                if (x + 1 < width)
                    dst[x + 1] = std::uint8_t((3 * s[0] + s[1] + oddBias) >> 4);
            }
        } else {
            for (int x = 0; x < width; ++x)
                dst[x] = nearRow[std::min(x / hf_, c_.width - 1)];
        }
    }

private:
    std::vector<std::uint8_t> plane_;
    const Component& c_;
    int hf_, vf_;
    std::vector<int> sums_; // one column repeated at each end
};

// Three components are YCbCr unless the file says RGB, as the reference decoder reads it: a
// JFIF marker means YCbCr, else an Adobe marker's transform 0 means RGB, else component ids
// 'R', 'G', 'B' do.
bool Decoder::rgb() const
{
    if (comps_.size() != 3 || sawJfif_)
        return false;
    if (adobeTransform_ >= 0)
        return adobeTransform_ == 0;
    return comps_[0].id == 'R' && comps_[1].id == 'G' && comps_[2].id == 'B';
}

Image Decoder::picture()
{
    // A component none of whose scans came leaves a picture without it: damaged.
    for (const Component& c : comps_)
        if (!quantDefined_[std::size_t(c.quant)] || c.precision[0] < 0)
            return {};
    const bool rgb = this->rgb();
    Image image{width_, height_, std::vector<std::uint32_t>(std::size_t(width_) * height_)};
    // Row by row, so that no full-size plane is ever held.
    std::vector<Upsampler> planes;
    for (const Component& c : comps_)
        planes.emplace_back(samples(c), c, hMax_ / c.h, vMax_ / c.v);
    std::array<std::vector<std::uint8_t>, 3> rows;
    for (std::size_t i = 0; i < planes.size(); ++i)
        rows[i].resize(std::size_t(width_));
    for (int y = 0; y < height_; ++y) {
        for (std::size_t i = 0; i < planes.size(); ++i)
            planes[i].row(y, width_, rows[i].data());
        std::uint32_t* out = &image.pixels[std::size_t(y) * width_];
        const std::uint8_t *c0 = rows[0].data(), *c1 = rows[1].data(), *c2 = rows[2].data();
        if (planes.size() == 1) {
            for (int x = 0; x < width_; ++x)
                out[x] = 0xFF000000u | std::uint32_t(c0[x]) * 0x010101u;
        } else if (rgb) {
            for (int x = 0; x < width_; ++x)
                out[x] = 0xFF000000u | std::uint32_t(c0[x]) << 16 | std::uint32_t(c1[x]) << 8 | c2[x];
        } else {
            // YCbCr to RGB in 16-bit fixed point, rounded as the reference decoder rounds.
            for (int x = 0; x < width_; ++x) {
                const int luma = c0[x], cb = c1[x] - 128, cr = c2[x] - 128;
                const int r = std::clamp(luma + ((91881 * cr + 32768) >> 16), 0, 255);
                const int g = std::clamp(luma + ((-22554 * cb - 46802 * cr + 32768) >> 16), 0, 255);
                const int b = std::clamp(luma + ((116130 * cb + 32768) >> 16), 0, 255);
                out[x] = 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
            }
        }
    }
    return image;
}

Image Decoder::run()
{
    if (f_.size() < 4 || f_[0] != 0xFF || f_[1] != 0xD8)
        return {};
    std::size_t pos = 2;
    while (pos + 1 < f_.size()) {
        if (f_[pos] != 0xFF)
            return {};
        const int marker = f_[pos + 1];
        pos += 2;
        if (marker == 0xFF) { // fill byte
            --pos;
            continue;
        }
        if (marker == 0xD9) // end of image
            break;
        if ((marker & 0xF8) == 0xD0 || marker == 0x01)
            continue; // markers without a length
        if (pos + 2 > f_.size())
            return {};
        const std::size_t len = std::size_t(be16(pos));
        if (len < 2 || len > f_.size() - pos)
            return {};
        const std::size_t body = pos + 2, bodyLen = len - 2;
        pos += len;
        bool ok = true;
        switch (marker) {
        case 0xC0: case 0xC1: ok = readFrame(body, bodyLen, false); break;
        case 0xC2: ok = readFrame(body, bodyLen, true); break;
        case 0xC4: ok = readHuffmanTables(body, bodyLen); break;
        case 0xDB: ok = readQuantTables(body, bodyLen); break;
        case 0xDD:
            ok = bodyLen == 2;
            restartInterval_ = ok ? be16(body) : 0;
            break;
        case 0xDA: {
            Scan scan;
            ok = ++scans_ <= kMaxScans && readScanHeader(body, bodyLen, scan) && (pos = decodeScan(scan, pos)) != 0;
            break;
        }
        case 0xE0:
            if (bodyLen >= 14 && std::equal(&f_[body], &f_[body] + 5, "JFIF\0"))
                sawJfif_ = true;
            break;
        case 0xEE:
            if (bodyLen >= 12 && std::equal(&f_[body], &f_[body] + 5, "Adobe"))
                adobeTransform_ = f_[body + 11];
            break;
        default:
            // Other frame types (lossless, hierarchical, arithmetic coding) are not supported;
            // application data and comments are skipped.
            ok = !(marker >= 0xC3 && marker <= 0xCF);
            break;
        }
        if (!ok)
            return {};
    }
    // A progressive file cut between scans still shows what its complete scans hold, as
    // browsers do, once every component has had one.
    return haveFrame_ ? picture() : Image{};
}

} // namespace

Image decodeJpeg(Bytes file)
{
    return Decoder(file).run();
}

} // namespace tk::codecs
