#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "installer_path.h"

namespace {

struct ModuleFreer {
    void operator()(HMODULE module) const { (void)FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

struct IconDestroyer {
    void operator()(HICON icon) const { (void)DestroyIcon(icon); }
};
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;

struct ObjectDeleter {
    void operator()(HBITMAP bitmap) const { (void)DeleteObject(bitmap); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, ObjectDeleter>;

struct DcDeleter {
    void operator()(HDC dc) const { (void)DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE color_count;
    BYTE reserved;
    WORD planes;
    WORD bit_count;
    DWORD bytes_in_res;
    WORD id;
};
#pragma pack(pop)

// Read-only view of one resource of the installer.
std::vector<BYTE> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name) {
    HRSRC info = FindResourceW(module, name, type);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module, info);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data) return {};
    return std::vector<BYTE>(data, data + SizeofResource(module, info));
}

template <typename T>
T ReadAt(const std::vector<BYTE>& bytes, size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// PNG stores its numbers most significant byte first.
uint32_t ReadBigEndian32(const std::vector<BYTE>& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = offset; i < offset + 4 && i < bytes.size(); ++i)
        value = (value << 8) | bytes[i];
    return value;
}

class InstallerResources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        module_.reset(LoadLibraryExW(InstallerPath().c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    }
    static void TearDownTestSuite() { module_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(module_) << "cannot open the installer at HALVEX_INSTALLER_EXE";
    }
    static HMODULE Module() { return module_.get(); }

  private:
    static UniqueModule module_;
};
UniqueModule InstallerResources::module_;

TEST_F(InstallerResources, BackgroundIsUncompressed24BitBottomUpAtWindowSize) {
    const std::vector<BYTE> bitmap = ResourceBytes(Module(), RT_BITMAP, MAKEINTRESOURCEW(102));
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    const auto header = ReadAt<BITMAPINFOHEADER>(bitmap, 0);
    EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(header.biWidth, 560);
    EXPECT_EQ(header.biHeight, 310) << "a negative height would be a top-down picture";
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biClrUsed, 0u);
    // No colour table or masks between the header and the rows.
    EXPECT_EQ(bitmap.size(), sizeof(BITMAPINFOHEADER) + 560u * 3u * 310u);
}

// The close glyph and the percentage are drawn in white on the picture, so the picture
// under them must leave white text legible: WCAG's 4.5:1 contrast for normal text.
TEST_F(InstallerResources, WhiteTextReadsOnTheCloseCornerAndTheBottomStrip) {
    const std::vector<BYTE> bitmap = ResourceBytes(Module(), RT_BITMAP, MAKEINTRESOURCEW(102));
    ASSERT_EQ(bitmap.size(), sizeof(BITMAPINFOHEADER) + 560u * 3u * 310u);
    auto linear = [](BYTE channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    auto worst_contrast = [&](int left, int top, int right, int bottom) {
        double worst = 21.0;
        for (int y = top; y < bottom; ++y) {
            const size_t row = sizeof(BITMAPINFOHEADER) + size_t(309 - y) * 560 * 3;
            for (int x = left; x < right; ++x) {
                const BYTE* bgr = bitmap.data() + row + size_t(x) * 3;
                const double luminance =
                    0.2126 * linear(bgr[2]) + 0.7152 * linear(bgr[1]) + 0.0722 * linear(bgr[0]);
                worst = std::min(worst, 1.05 / (luminance + 0.05));
            }
        }
        return worst;
    };
    EXPECT_GE(worst_contrast(520, 10, 550, 40), 4.5) << "close glyph";
    EXPECT_GE(worst_contrast(8, 276, 560, 300), 4.5) << "percentage text";
}

TEST_F(InstallerResources, IconGroupHoldsOne128PixelPngWithRealAlpha) {
    const std::vector<BYTE> group = ResourceBytes(Module(), RT_GROUP_ICON, MAKEINTRESOURCEW(101));
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
    const auto header = ReadAt<GroupIconHeader>(group, 0);
    EXPECT_EQ(header.type, 1);
    ASSERT_EQ(header.count, 1);
    const auto entry = ReadAt<GroupIconEntry>(group, sizeof(GroupIconHeader));
    EXPECT_EQ(entry.width, 128);
    EXPECT_EQ(entry.height, 128);
    EXPECT_EQ(entry.bit_count, 32);

    std::vector<BYTE> image = ResourceBytes(Module(), RT_ICON, MAKEINTRESOURCEW(entry.id));
    ASSERT_EQ(image.size(), entry.bytes_in_res);
    // Signature, then IHDR as the first chunk: length 13, width, height, depth, colour type.
    static const BYTE kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GE(image.size(), 8u + 8u + 13u);
    ASSERT_TRUE(std::equal(std::begin(kSignature), std::end(kSignature), image.begin()))
        << "expected a PNG image";
    EXPECT_EQ(ReadBigEndian32(image, 8), 13u);
    EXPECT_EQ(std::string(image.begin() + 12, image.begin() + 16), "IHDR");
    EXPECT_EQ(ReadBigEndian32(image, 16), 128u);
    EXPECT_EQ(ReadBigEndian32(image, 20), 128u);
    EXPECT_EQ(image[24], 8) << "bit depth";
    EXPECT_EQ(image[25], 6) << "colour type: RGB with alpha";

    UniqueIcon icon(CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE,
                                             0x00030000, 128, 128, LR_DEFAULTCOLOR));
    ASSERT_TRUE(icon) << "the system cannot decode the icon image";
    ICONINFO parts{};
    ASSERT_TRUE(GetIconInfo(icon.get(), &parts));
    const UniqueBitmap color(parts.hbmColor);
    const UniqueBitmap mask(parts.hbmMask);
    ASSERT_TRUE(color) << "decoded without colour";
    BITMAP size{};
    ASSERT_TRUE(GetObjectW(color.get(), sizeof size, &size));
    EXPECT_EQ(size.bmWidth, 128);
    EXPECT_EQ(size.bmHeight, 128);

    // Rounded, anti-aliased edges survive decoding: clear corners, an opaque middle and
    // partial alpha between.
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    request.bmiHeader.biWidth = 128;
    request.bmiHeader.biHeight = -128;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<BYTE> pixels(128u * 128u * 4u);
    const UniqueDc dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    ASSERT_EQ(GetDIBits(dc.get(), color.get(), 0, 128, pixels.data(), &request, DIB_RGB_COLORS),
              128);
    int clear = 0, partial = 0, opaque = 0;
    for (size_t i = 0; i < 128u * 128u; ++i) {
        const BYTE alpha = pixels[i * 4 + 3];
        (alpha == 0 ? clear : alpha == 255 ? opaque : partial)++;
    }
    EXPECT_GT(clear, 0);
    EXPECT_GT(partial, 0);
    EXPECT_GT(opaque, 128 * 128 / 2);
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(
        IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ~ULONG_PTR{0});
    return TRUE;
}

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(InstallerResources, OneManifestAsksForAdministratorAndNothingElse) {
    std::vector<ULONG_PTR> names;
    (void)EnumResourceNamesW(Module(), RT_MANIFEST, CollectName,
                             reinterpret_cast<LONG_PTR>(&names));
    ASSERT_EQ(names, std::vector<ULONG_PTR>{1}) << "a second manifest came from the toolchain";
    int languages = 0;
    (void)EnumResourceLanguagesW(Module(), RT_MANIFEST, MAKEINTRESOURCEW(1), CountLanguage,
                                 reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, 1);

    const std::vector<BYTE> bytes = ResourceBytes(Module(), RT_MANIFEST, MAKEINTRESOURCEW(1));
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos) << manifest;
    // Common controls v6 would ignore the bar colours; DPI and OS entries change scaling
    // and version answers.
    for (const char* absent : {"dependency", "Common-Controls", "dpiAware", "dpiAwareness",
                               "compatibility", "supportedOS", "asInvoker", "highestAvailable"}) {
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent << " in\n" << manifest;
    }
}

// A node of the version block: length, value length, type, key, value, children.
struct VersionNode {
    size_t offset = 0;
    size_t end = 0;
    std::wstring key;
    size_t children = 0;
};

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

VersionNode ReadVersionNode(const std::vector<BYTE>& block, size_t offset) {
    VersionNode node;
    node.offset = offset;
    node.end = offset + ReadAt<WORD>(block, offset);
    const WORD value_length = ReadAt<WORD>(block, offset + 2);
    const WORD type = ReadAt<WORD>(block, offset + 4);
    size_t p = offset + 6;
    for (wchar_t c; p + 2 <= block.size() && (c = ReadAt<wchar_t>(block, p)) != 0; p += 2) {
        node.key += c;
    }
    const size_t value = Align4(p + 2);
    node.children = Align4(value + (type == 1 ? value_length * 2u : value_length));
    return node;
}

std::vector<std::wstring> ChildKeys(const std::vector<BYTE>& block, const VersionNode& parent) {
    std::vector<std::wstring> keys;
    for (size_t p = parent.children; p < parent.end && p < block.size();) {
        const VersionNode child = ReadVersionNode(block, p);
        if (child.end <= p) break;
        keys.push_back(child.key);
        p = Align4(child.end);
    }
    return keys;
}

class InstallerVersion : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::wstring path = InstallerPath();
        block_.resize(GetFileVersionInfoSizeW(path.c_str(), nullptr));
        ASSERT_FALSE(block_.empty()) << "no version block";
        ASSERT_TRUE(
            GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block_.size()), block_.data()));
        block_.resize(ReadAt<WORD>(block_, 0));
    }
    std::wstring Query(const std::wstring& sub_block) {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block_.data(), sub_block.c_str(), &value, &length) || !value) {
            return L"<missing>";
        }
        return std::wstring(static_cast<const wchar_t*>(value));
    }
    std::vector<BYTE> block_;
};

TEST_F(InstallerVersion, FixedPartSays1110ForFileAndProduct) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(InstallerVersion, OnlyASimplifiedChineseUnicodeTable) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u) << "exactly one translation";
    WORD translation[2];
    std::memcpy(translation, value, sizeof translation);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);

    const VersionNode root = ReadVersionNode(block_, 0);
    ASSERT_EQ(root.key, L"VS_VERSION_INFO");
    bool found = false;
    for (size_t p = root.children; p < root.end;) {
        const VersionNode child = ReadVersionNode(block_, p);
        ASSERT_GT(child.end, p);
        if (child.key == L"StringFileInfo") {
            found = true;
            EXPECT_EQ(ChildKeys(block_, child), std::vector<std::wstring>{L"080404b0"});
        }
        p = Align4(child.end);
    }
    EXPECT_TRUE(found) << "no StringFileInfo";
}

TEST_F(InstallerVersion, StringTableNamesTheProgram) {
    const std::wstring table = L"\\StringFileInfo\\080404b0\\";
    struct Expected {
        const wchar_t* name;
        const wchar_t* value;
    };
    for (const Expected& e :
         {Expected{L"FileVersion", L"1.1.1"}, Expected{L"ProductVersion", L"1.1.1"},
          Expected{L"OriginalFilename", L"halvex-installer.exe"}}) {
        EXPECT_EQ(Query(table + e.name), e.value) << e.name;
    }
    for (const wchar_t* name :
         {L"CompanyName", L"FileDescription", L"ProductName", L"InternalName", L"LegalCopyright"}) {
        const std::wstring value = Query(table + name);
        EXPECT_NE(value, L"<missing>") << name;
        EXPECT_FALSE(value.empty()) << name;
    }
}

}  // namespace
