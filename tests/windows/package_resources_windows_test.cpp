// What Windows reads from the four binaries of the package before running
// them: each one's version resource, filed under Portuguese (Brazil) and
// naming the product and this build; and the updater's manifest and icon.
#include <gtest/gtest.h>
// clang-format off
#include "platform/windows/win32_api.h"
#include <winver.h>
// clang-format on

#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/windows/wide_text.h"

namespace korva {
namespace {

using platform::windows::Narrow;
using platform::windows::Wide;

constexpr WORD kPortugueseBrazil = MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN);
const char* const kBinaries[] = {"korvaupdate.exe", "KorvaLib.dll", "KORVABACKUP.EXE",
                                 "korvasign.exe"};

std::wstring PathOf(const char* binary) {
  return Wide(platform::JoinPath(platform::ExecutableFolder(), binary));
}

// The languages a resource is filed under in the resource directory.
std::set<WORD> LanguagesOf(HMODULE module, LPCWSTR type, LPCWSTR name) {
  std::set<WORD> languages;
  ::EnumResourceLanguagesW(
      module, type, name,
      [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR l) -> BOOL {
        reinterpret_cast<std::set<WORD>*>(l)->insert(language);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

std::string VersionText(const std::vector<BYTE>& info, const char* key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\041604E4\\" + Wide(key);
  if (!::VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return {};
  return Narrow(static_cast<const wchar_t*>(value));
}

TEST(PackageResources, EveryBinaryCarriesItsVersionUnderPortugueseBrazil) {
  std::set<std::string> builds;
  for (const char* binary : kBinaries) {
    SCOPED_TRACE(binary);
    const HMODULE module = ::LoadLibraryExW(
        PathOf(binary).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(LanguagesOf(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1)),
              std::set<WORD>{kPortugueseBrazil});
    ::FreeLibrary(module);

    const DWORD size = ::GetFileVersionInfoSizeW(PathOf(binary).c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(::GetFileVersionInfoW(PathOf(binary).c_str(), 0, size, info.data()));
    void* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        ::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &translation, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(translation)[0], kPortugueseBrazil);
    EXPECT_EQ(static_cast<const WORD*>(translation)[1], 1252);
    EXPECT_EQ(VersionText(info, "ProductName"), "KORVA Update");
    EXPECT_EQ(VersionText(info, "OriginalFilename"), binary);
    EXPECT_FALSE(VersionText(info, "FileDescription").empty());
    builds.insert(VersionText(info, "BUILD"));
  }
  // One build text for the whole package.
  ASSERT_EQ(builds.size(), 1u);
  EXPECT_FALSE(builds.begin()->empty());
}

TEST(PackageResources, TheUpdaterCarriesItsManifestAndItsIconInFourSizes) {
  const HMODULE module =
      ::LoadLibraryExW(PathOf("korvaupdate.exe").c_str(), nullptr,
                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  const HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(::LockResource(::LoadResource(module, manifest))),
                         ::SizeofResource(module, manifest));
  for (const char* part :
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<requestedExecutionLevel level=\"asInvoker\"", ">PerMonitorV2, PerMonitor</dpiAwareness>",
        ">true/pm</dpiAware>", ">true</longPathAware>"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }

  // The icon group: its entries' widths (0 stands for 256).
  const HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
  const WORD count = static_cast<WORD>(bytes[4] | (bytes[5] << 8));
  std::multiset<int> widths;
  for (WORD i = 0; i < count; ++i) widths.insert(bytes[6 + i * 14] == 0 ? 256 : bytes[6 + i * 14]);
  EXPECT_EQ(widths, (std::multiset<int>{16, 32, 48, 256}));
  ::FreeLibrary(module);
}

}  // namespace
}  // namespace korva
