// Draws the outfit images of Tessaly.dll and the contact sheet of the docs.
//   tessaly_art write IMAGES_DIR SHEET_PNG   writes every file
//   tessaly_art check IMAGES_DIR SHEET_PNG   compares them with a fresh drawing
// The output depends on nothing but this code (and zlib's level 9 output), so
// the committed files can be checked byte for byte.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ContactSheet.h"
#include "Figure.h"
#include "PngWriter.h"

namespace {

struct Output {
    std::string path;
    std::vector<std::uint8_t> bytes;
};

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<Output> Draw(const std::string& imagesDir, const std::string& sheetPath)
{
    std::vector<Output> outputs;
    for (Series series : {Series::F, Series::M}) {
        for (int outfit = 0; outfit < FIGURE_OUTFITS; ++outfit) {
            for (int image = 0; image < FIGURE_IMAGES; ++image) {
                if (DistinctImageOf(image) != image)
                    continue;
                outputs.push_back({imagesDir + "/" + ImageName(series, outfit, image) + ".png",
                                   EncodePng(IMAGE_WIDTH, IMAGE_HEIGHT, RenderImage(series, outfit, image))});
            }
        }
    }
    const ContactSheet sheet = MakeContactSheet();
    outputs.push_back({sheetPath, EncodePng(sheet.width, sheet.height, sheet.rgba)});
    return outputs;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "check") != 0)) {
        std::fprintf(stderr, "usage: tessaly_art write|check IMAGES_DIR SHEET_PNG\n");
        return 2;
    }
    const bool write = std::strcmp(argv[1], "write") == 0;
    int differences = 0;
    for (const Output& output : Draw(argv[2], argv[3])) {
        if (output.bytes.empty()) {
            std::fprintf(stderr, "cannot encode %s\n", output.path.c_str());
            return 1;
        }
        if (write) {
            if (!WriteFile(output.path, output.bytes)) {
                std::fprintf(stderr, "cannot write %s\n", output.path.c_str());
                return 1;
            }
            std::printf("%7zu %s\n", output.bytes.size(), output.path.c_str());
            continue;
        }
        std::vector<std::uint8_t> committed;
        if (!ReadFile(output.path, committed)) {
            std::printf("MISSING %s\n", output.path.c_str());
            ++differences;
        } else if (committed != output.bytes) {
            std::printf("DIFFERS %s (%zu bytes on disk, %zu drawn)\n", output.path.c_str(), committed.size(),
                        output.bytes.size());
            ++differences;
        }
    }
    if (!write)
        std::printf("%d file(s) differ from the drawing\n", differences);
    return differences == 0 ? 0 : 1;
}
