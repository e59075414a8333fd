#include "support/BaseSecurity.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "support/TestSupport.h"
#include "support/uWideText.h"

namespace dct {
namespace {

using testing::TTempDir;

// One entry of a discretionary access list, as the tests compare it.
struct TEntry {
  BYTE Type;
  BYTE Flags;
  DWORD Mask;
  bool Everyone;
  bool operator==(const TEntry&) const = default;
};

// The entries of the object's list; Null is set when it has no list at all.
std::vector<TEntry> ReadEntries(const std::string& path, bool* Null = nullptr) {
  std::vector<TEntry> entries;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD read = GetNamedSecurityInfoW(Utf8ToWide(path).c_str(), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd);
  EXPECT_EQ(read, static_cast<DWORD>(ERROR_SUCCESS)) << path;
  if (read != ERROR_SUCCESS) return entries;
  if (Null != nullptr) *Null = dacl == nullptr;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  EXPECT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(dacl, i, &raw)) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    entries.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, EqualSid(sid, everyone) != 0});
  }
  FreeSid(everyone);
  LocalFree(sd);
  return entries;
}

// Replaces the object's list with one allowing entry for Everyone (or with no list at all).
void SetEveryoneOnly(const std::string& path, DWORD mask, bool noList = false) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = mask;
  entry.grfAccessMode = SET_ACCESS;
  entry.grfInheritance = NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  ASSERT_EQ(SetEntriesInAclW(1, &entry, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
  std::wstring wide = Utf8ToWide(path);
  // PROTECTED: the entries of the parent folder are not inherited into the list.
  const DWORD written = SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                              nullptr, nullptr, noList ? nullptr : acl, nullptr);
  LocalFree(acl);
  FreeSid(everyone);
  ASSERT_EQ(written, static_cast<DWORD>(ERROR_SUCCESS)) << path;
}

bool HasFullInheritedGrant(const std::vector<TEntry>& entries) {
  for (const TEntry& e : entries) {
    if (e.Everyone && e.Type == ACCESS_ALLOWED_ACE_TYPE && e.Mask == GENERIC_ALL &&
        (e.Flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) ==
            (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) {
      return true;
    }
  }
  return false;
}

// Wine does not keep the list written to a file: it reads back one made from the file's
// POSIX mode bits, and nothing here can be seen there.
bool ListsAreKept(const std::string& folder) {
  SetEveryoneOnly(folder, GENERIC_READ);
  const std::vector<TEntry> entries = ReadEntries(folder);
  return entries.size() == 1 && entries[0].Everyone;
}

class GrantFolderAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directory(FFolder));
    if (!ListsAreKept(FFolder)) {
      GTEST_SKIP() << "the access list written is not kept (wine makes one from the mode bits)";
    }
  }
  TTempDir FTemp{"grant_test"};
  const std::string FFolder = FTemp.Path() + "\\probe";
};

TEST_F(GrantFolderAccessTest, ReadOnlyEveryoneEntryGetsTheInheritedFullGrantAdded) {
  SetEveryoneOnly(FFolder, GENERIC_READ);
  GrantFolderAccess(FFolder);
  const std::vector<TEntry> entries = ReadEntries(FFolder);
  EXPECT_TRUE(HasFullInheritedGrant(entries));
  // A second grant finds the entry and changes nothing.
  GrantFolderAccess(FFolder);
  EXPECT_EQ(ReadEntries(FFolder), entries);
}

TEST_F(GrantFolderAccessTest, FullEntryOfAnyTypeOrNoListLeavesTheFolderAsItIs) {
  SetEveryoneOnly(FFolder, GENERIC_ALL);  // not inherited: still counts as granted
  const std::vector<TEntry> before = ReadEntries(FFolder);
  GrantFolderAccess(FFolder);
  EXPECT_EQ(ReadEntries(FFolder), before);

  SetEveryoneOnly(FFolder, 0, /*noList=*/true);
  GrantFolderAccess(FFolder);
  bool null = false;
  EXPECT_TRUE(ReadEntries(FFolder, &null).empty());
  EXPECT_TRUE(null);
}

TEST_F(GrantFolderAccessTest, FileGetsReadAndWriteForEveryone) {
  const std::string file = FTemp.Path() + "\\db";
  std::ofstream(file) << "x";
  SetEveryoneOnly(file, GENERIC_READ);
  GrantFileAccess(file);
  bool granted = false;
  for (const TEntry& e : ReadEntries(file)) {
    granted = granted || (e.Everyone && e.Type == ACCESS_ALLOWED_ACE_TYPE && (e.Mask & GENERIC_WRITE) != 0);
  }
  EXPECT_TRUE(granted);
}

TEST(GrantFolderAccessErrorsTest, MissingPathRaisesTheSystemsCode) {
  TTempDir tmp;
  for (const std::string& path : {tmp.Path() + "\\missing", tmp.Path() + "\\missing\\below"}) {
    try {
      GrantFolderAccess(path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const std::system_error& e) {
      EXPECT_TRUE(e.code().value() == ERROR_FILE_NOT_FOUND || e.code().value() == ERROR_PATH_NOT_FOUND)
          << path << ": " << e.code().value();
      EXPECT_EQ(e.code().category(), std::system_category());
    }
  }
}

}  // namespace
}  // namespace dct
