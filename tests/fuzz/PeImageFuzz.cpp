// The PE reader on any bytes: every reader answers, none reads outside the file.
#include "FuzzInput.h"
#include "pe/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    (void)ReadFileVersion(bytes);
    auto image = CPeImage::Open(std::move(bytes));
    if (!image)
        return 0;
    auto resources = image->Resources();
    if (resources) {
        for (const PeResource& r : *resources)
            (void)image->ResourceData(r);
    }
    (void)image->Find(PeResourceId::Name("PNG"), PeResourceId::Name("F_3_1"), 2052u);
    (void)image->ReadVersionInfo();
    (void)image->ReadExports();
    (void)image->ReadImportedLibraries();
    return 0;
}
