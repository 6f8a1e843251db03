#include "PngWriter.h"

#include <cstdlib>
#include <string>

#include <zlib.h>

namespace {

constexpr int ZLIB_LEVEL = 9;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v >> 24));
    out.push_back(std::uint8_t(v >> 16));
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data)
{
    PutU32(out, std::uint32_t(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + start, uInt(out.size() - start));
    PutU32(out, std::uint32_t(crc));
}

int Paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

// Filters each row with whichever of the five filters gives the smallest sum of
// absolute (signed) differences, the usual heuristic; ties go to the lower type.
std::vector<std::uint8_t> FilterRows(int width, int height, const std::vector<std::uint8_t>& rgba)
{
    const std::size_t stride = std::size_t(width) * 4;
    std::vector<std::uint8_t> out;
    out.reserve((stride + 1) * height);
    std::vector<std::uint8_t> candidate(stride);
    std::vector<std::uint8_t> best(stride);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = &rgba[y * stride];
        const std::uint8_t* up = y > 0 ? &rgba[(y - 1) * stride] : nullptr;
        long bestCost = -1;
        int bestType = 0;
        for (int type = 0; type < 5; ++type) {
            long cost = 0;
            for (std::size_t i = 0; i < stride; ++i) {
                const int a = i >= 4 ? row[i - 4] : 0;
                const int b = up ? up[i] : 0;
                const int c = (up && i >= 4) ? up[i - 4] : 0;
                int predicted = 0;
                switch (type) {
                case 1: predicted = a; break;
                case 2: predicted = b; break;
                case 3: predicted = (a + b) / 2; break;
                case 4: predicted = Paeth(a, b, c); break;
                default: break;
                }
                const std::uint8_t v = std::uint8_t(row[i] - predicted);
                candidate[i] = v;
                cost += v < 128 ? v : 256 - v;
            }
            if (bestCost < 0 || cost < bestCost) {
                bestCost = cost;
                bestType = type;
                best.swap(candidate);
            }
        }
        out.push_back(std::uint8_t(bestType));
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

} // namespace

std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgba)
{
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> out(signature, signature + 8);

    std::vector<std::uint8_t> header;
    PutU32(header, std::uint32_t(width));
    PutU32(header, std::uint32_t(height));
    header.push_back(8); // bit depth
    header.push_back(6); // colour type: RGBA
    header.push_back(0); // deflate
    header.push_back(0); // adaptive filtering
    header.push_back(0); // no interlace
    PutChunk(out, "IHDR", header);

    const std::vector<std::uint8_t> raw = FilterRows(width, height, rgba);
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), ZLIB_LEVEL) != Z_OK)
        return {};
    packed.resize(packedSize);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}
