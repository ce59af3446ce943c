// The piece picture file reader: a Windows BMP with a 14-byte file header, a 40-byte
// information header, a full colour table and the pixel rows right behind it.
#include <QImage>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "ui/piece_images.h"

namespace vez {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
// A strip of 14 squares of 512 pixels is far beyond any sensible piece picture; anything
// larger is refused before memory is asked for it.
constexpr std::int64_t kMaxHeight = 512;

std::uint32_t readU32(const std::vector<unsigned char>& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
std::uint16_t readU16(const std::vector<unsigned char>& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

struct BitmapHeader {
    std::uint32_t fileSize = 0;
    std::uint32_t pixelOffset = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // negative for rows stored top down
    int bitCount = 0;
    std::uint32_t compression = 0;
};

BitmapHeader parseHeader(const std::vector<unsigned char>& bytes)
{
    BitmapHeader header;
    header.fileSize = static_cast<std::uint32_t>(bytes.size());
    header.pixelOffset = readU32(bytes, 10);
    header.width = static_cast<std::int32_t>(readU32(bytes, 18));
    header.height = static_cast<std::int32_t>(readU32(bytes, 22));
    header.bitCount = readU16(bytes, 28);
    header.compression = readU32(bytes, 30);
    return header;
}

bool structuresUsable(const std::vector<unsigned char>& bytes, const BitmapHeader& header)
{
    return bytes[0] == 'B' && bytes[1] == 'M' && readU32(bytes, 14) >= kInfoHeaderSize &&
           header.compression == 0 &&
           (header.bitCount == 1 || header.bitCount == 4 || header.bitCount == 8);
}

int pixelIndex(const unsigned char* row, std::int64_t x, int bitCount)
{
    const std::int64_t bit = x * bitCount;
    const int shift = 8 - bitCount - static_cast<int>(bit % 8);
    return (row[bit / 8] >> shift) & ((1 << bitCount) - 1);
}

} // namespace

QImage readPieceBitmap(const std::string& path, std::string& error)
{
    error.clear();
    if (path.empty())
        return {};
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": could not open file";
        return {};
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file),
                                           std::istreambuf_iterator<char>()};
    if (bytes.size() < kFileHeaderSize + kInfoHeaderSize) {
        error = path + ": couldn't read bitmap structures";
        return {};
    }
    const BitmapHeader header = parseHeader(bytes);
    if (!structuresUsable(bytes, header)) {
        error = path + ": couldn't read bitmap structures";
        return {};
    }
    const std::int64_t height = header.height < 0 ? -header.height : header.height;
    if (height == 0 || header.width != kStripImages * height) {
        error = path + ": bitmap width not exactly 14 times height";
        return {};
    }
    if (height > kMaxHeight) {
        error = path + ": couldn't allocate memory for bitmap image";
        return {};
    }
    const std::size_t colours = std::size_t{1} << header.bitCount;
    const std::size_t tableStart = kFileHeaderSize + kInfoHeaderSize;
    if (bytes.size() < tableStart + colours * 4) {
        error = path + ": couldn't read colors";
        return {};
    }
    // The pixels follow the colour table directly; their length is what the offset field
    // leaves of the file, which must hold every row.
    const std::size_t pixelStart = tableStart + colours * 4;
    const std::size_t stride =
        static_cast<std::size_t>((header.width * header.bitCount + 31) / 32 * 4);
    const std::size_t needed = stride * static_cast<std::size_t>(height);
    if (header.pixelOffset > header.fileSize || header.fileSize - header.pixelOffset < needed ||
        bytes.size() - pixelStart < needed) {
        error = path + ": couldn't read bitmap image";
        return {};
    }
    QImage image(static_cast<int>(header.width), static_cast<int>(height), QImage::Format_RGB32);
    if (image.isNull()) {
        error = path + ": CreateDIBitmap() failed";
        return {};
    }
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t stored = header.height > 0 ? height - 1 - y : y;
        const unsigned char* row = bytes.data() + pixelStart + stored * stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (std::int64_t x = 0; x < header.width; ++x) {
            const std::size_t entry = tableStart + 4 * pixelIndex(row, x, header.bitCount);
            out[x] = qRgb(bytes[entry + 2], bytes[entry + 1], bytes[entry]);
        }
    }
    return image;
}

} // namespace vez
