// Tessaly.dll used the way the game-room client uses it: loaded, an image
// found by type and name, and decoded with the platform's imaging component.
#include <gtest/gtest.h>

#include <wincodec.h>
#include <wrl/client.h>

#include "TessalyFile.h"

using Microsoft::WRL::ComPtr;

namespace {

struct LibraryDeleter {
    void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using LibraryPtr = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter>;

// The bytes of a resource of type "PNG", empty when FindResourceW finds none.
std::vector<std::uint8_t> LoadPng(HMODULE module, const wchar_t* name)
{
    HRSRC found = ::FindResourceW(module, name, L"PNG");
    if (!found)
        return {};
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, found);
    if (!data || size == 0)
        return {};
    const auto* p = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(p, p + size);
}

class TessalyConsumer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        // A 32-bit process loads the library as the game-room client does, and its
        // entry point runs. A 64-bit process cannot run 32-bit code: it maps the
        // file as an image resource file, which is how a program of either size
        // reads another's resources.
        const std::wstring path = TessalyPath();
        m_library.reset(sizeof(void*) == 4 ? ::LoadLibraryW(path.c_str())
                                           : ::LoadLibraryExW(path.c_str(), nullptr,
                                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(m_library) << "loading the library failed: " << ::GetLastError();
    }
    void TearDown() override
    {
        m_library.reset();
        ::CoUninitialize();
    }

    LibraryPtr m_library;
};

TEST_F(TessalyConsumer, DecodesF31To140By120WithTransparentBackground)
{
    std::vector<std::uint8_t> png = LoadPng(m_library.get(), L"F_3_1");
    ASSERT_FALSE(png.empty());

    ComPtr<IWICImagingFactory> factory;
    ASSERT_EQ(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)), S_OK);
    ComPtr<IWICStream> stream;
    ASSERT_EQ(factory->CreateStream(&stream), S_OK);
    ASSERT_EQ(stream->InitializeFromMemory(png.data(), DWORD(png.size())), S_OK);
    ComPtr<IWICBitmapDecoder> decoder;
    ASSERT_EQ(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder), S_OK);
    GUID container{};
    ASSERT_EQ(decoder->GetContainerFormat(&container), S_OK);
    EXPECT_TRUE(IsEqualGUID(container, GUID_ContainerFormatPng));
    ComPtr<IWICBitmapFrameDecode> frame;
    ASSERT_EQ(decoder->GetFrame(0, &frame), S_OK);
    UINT width = 0, height = 0;
    ASSERT_EQ(frame->GetSize(&width, &height), S_OK);
    EXPECT_EQ(width, 140u);
    EXPECT_EQ(height, 120u);

    ComPtr<IWICFormatConverter> converter;
    ASSERT_EQ(factory->CreateFormatConverter(&converter), S_OK);
    ASSERT_EQ(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                    WICBitmapPaletteTypeCustom),
              S_OK);
    std::vector<std::uint8_t> pixels(140 * 120 * 4);
    ASSERT_EQ(converter->CopyPixels(nullptr, 140 * 4, UINT(pixels.size()), pixels.data()), S_OK);
    auto alpha = [&](int x, int y) { return pixels[(y * 140 + x) * 4 + 3]; };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(139, 0), 0);
    // Each half holds an opaque figure: the middle of its body.
    EXPECT_EQ(alpha(35, 60), 255);
    EXPECT_EQ(alpha(105, 60), 255);
}

TEST_F(TessalyConsumer, FindsTheRepeatedViewsAsEqualBytes)
{
    const std::vector<std::uint8_t> a = LoadPng(m_library.get(), L"F_3_1");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, LoadPng(m_library.get(), L"F_3_2"));
    const std::vector<std::uint8_t> b = LoadPng(m_library.get(), L"M_7_4");
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b, LoadPng(m_library.get(), L"M_7_5"));
    EXPECT_NE(a, b);
}

TEST_F(TessalyConsumer, NamesOutsideTheRuleAreNotFound)
{
    for (const wchar_t* name : {L"F_10_0", L"F_0_6"}) {
        ::SetLastError(0);
        EXPECT_EQ(::FindResourceW(m_library.get(), name, L"PNG"), nullptr);
        EXPECT_EQ(::GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    }
    // The images are Chinese (PRC) resources.
    EXPECT_NE(::FindResourceExW(m_library.get(), L"PNG", L"M_9_5", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)),
              nullptr);
}

} // namespace
