// The resources linked into Mailbeacon.exe (beside the test binary): the
// three title pictures of the progress window at their designed size, the
// window icon, the version information and the manifest.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32_process.h"
#include "platform/win32/win32_resource_ids.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"
#include "progress/splash_layout.h"

namespace mb::win32 {
namespace {

class AgentResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring exe = Utf8ToWide(Win32Process().InstallDir()) + L"\\Mailbeacon.exe";
    module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << "cannot open " << WideToUtf8(exe);
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

TEST_F(AgentResourcesTest, TitlePicturesHaveTheDesignedSize) {
  for (int index = 1; index <= splash::kImageCount; ++index) {
    HBITMAP bmp =
        static_cast<HBITMAP>(LoadImageW(module_, MAKEINTRESOURCEW(MB_IDB_TITLE_BASE + index),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bmp, nullptr) << "image " << index;
    BITMAP info{};
    GetObjectW(bmp, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, splash::kImageWidthPx) << "image " << index;
    EXPECT_EQ(info.bmHeight, splash::kImageHeightPx) << "image " << index;
    DeleteObject(bmp);
  }
}

TEST_F(AgentResourcesTest, IconAndVersionAreThere) {
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(MB_IDI_APP), MAKEINTRESOURCEW(14)),
            nullptr);  // RT_GROUP_ICON
  HRSRC version = FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  ASSERT_NE(version, nullptr);  // RT_VERSION
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, version)));
  const DWORD size = SizeofResource(module_, version);
  // The string table is UTF-16: look for the product name in it.
  const std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
  EXPECT_NE(text.find(L"Mailbeacon.exe"), std::wstring::npos);
}

TEST_F(AgentResourcesTest, ManifestAsksForNoElevationAndNamesTheProjectsVersion) {
  HRSRC manifest = FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);  // RT_MANIFEST
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, manifest)));
  const std::string xml(data, SizeofResource(module_, manifest));
  EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(xml.find("name=\"BrightHarbor.Mailbeacon\" version=\"" MB_PROJECT_VERSION ".0\""),
            std::string::npos)
      << xml;
}

}  // namespace
}  // namespace mb::win32
