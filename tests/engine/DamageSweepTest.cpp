// Damaged containers in bulk: a small sound container, then one byte at a
// time changed at places spread over every page (headers, maps, directory
// records, map entries, data). Opening and using each one ends in the
// system's exceptions or in success, never in a crash or an error of
// another kind (the sanitizer build holds this up).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using testing::PatchValue;
using testing::Pattern;
using testing::TEngine;
using testing::TTempDir;

constexpr int32_t kPage = 544;

void MakeSound(const std::string& path) {
  auto e = TEngine::Create(path, "", kPage, 8);
  ASSERT_TRUE(e.Dir->ForceDirectories("\\a\\b"));
  ASSERT_TRUE(e.Dir->CreateDir("\\c"));
  ASSERT_GE(e.WriteFile("\\a\\one", Pattern(3000, 1)), 0);
  ASSERT_GE(e.WriteFile("\\a\\b\\two", Pattern(70000, 2)), 0);  // two map pages
  ASSERT_GE(e.WriteFile("\\c\\three", Pattern(10, 3)), 0);
  ASSERT_GE(e.Dir->CreateFileItem("\\empty", "", "", ""), 0);
}

// Everything a user of the container does, on whatever the damage left.
void UseAll(const std::string& path) {
  auto e = TEngine::Open(path, "", kPage);
  const int32_t count = e.Dir->Items().ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    TDIRItem rec;
    e.Dir->ReadItem(i, rec);
    const AnsiString p = e.Dir->GetItemPath(i);
    e.Dir->FindItem(p);
    e.Dir->DirectoryExists(p);
    if (rec.Deleted || rec.IsDirectory || rec.FirstMapPageNo == -1) continue;
    TIntegerArray pages;
    e.Maps->GetDataPages(rec, false, pages, rec.Size < 0 ? 0 : rec.Size, 0);
    TPageBuffer page;
    e.PageFile->AllocPageBuffer(page);
    for (int32_t n = 0; n < pages.ItemCount() && n < 300; ++n) e.PageFile->ReadPage(page, pages[n]);
  }
  e.Dir->ForceDirectories("\\new\\deeper");
  e.WriteFile("\\new\\file", Pattern(2000, 9));
  for (int32_t i = 0; i < count; ++i) {
    TDIRItem rec;
    e.Dir->ReadItem(i, rec);
    if (rec.Deleted || rec.IsDirectory || rec.FirstMapPageNo == -1) continue;
    if (e.Maps->SetFileSize(rec, true, 0)) {
      rec.Size = 0;
      e.Dir->WriteItem(i, rec);
    }
  }
}

TEST(DamageSweep, OneByteAnywhere) {
  TTempDir dir;
  const std::string sound = dir / "sound.sfs";
  MakeSound(sound);
  const int64_t logical = testing::FileSizeOf(sound) - testing::kPartHeader;
  ASSERT_NO_THROW(UseAll(dir / "sound.sfs"));
  MakeSound(sound);

  const std::string work = dir / "work.sfs";
  uint32_t x = 12345;
  int raised = 0, fine = 0;
  for (int round = 0; round < 400; ++round) {
    std::filesystem::copy_file(sound, work, std::filesystem::copy_options::overwrite_existing);
    // A place in a page header or the first records or entries of a page,
    // where the structure lies, more often than in the data.
    x = x * 1103515245u + 12345u;
    const int64_t page = (x >> 8) % static_cast<uint32_t>(logical / kPage + 1);
    x = x * 1103515245u + 12345u;
    const int64_t within = (round % 3 == 0) ? (x >> 8) % kPage : (x >> 8) % 64;
    const int64_t offset = page * kPage + within;
    if (offset >= logical) continue;
    x = x * 1103515245u + 12345u;
    const uint8_t values[] = {0x00, 0xFF, 0x01, 0x80, static_cast<uint8_t>(x >> 16)};
    PatchValue<uint8_t>(work, offset, values[round % 5]);
    try {
      UseAll(work);
      ++fine;
    } catch (const Exception&) {
      ++raised;
    }
  }
  EXPECT_GT(raised, 0);
  EXPECT_GT(fine, 0);
}

TEST(DamageSweep, WordsInTheDirectory) {
  TTempDir dir;
  const std::string sound = dir / "sound.sfs";
  MakeSound(sound);
  const TSFSFileHeader h = testing::HeaderOnDisk(sound);
  // Every 4-byte field of the first directory record set to odd values.
  const int64_t record = int64_t{h.FirstDIRPageNo} * kPage + 32;
  const std::string work = dir / "work.sfs";
  for (int64_t at = 0; at < 232; at += 4) {
    for (int32_t v : {-1, 0, 1, 3, 7, 0x7FFFFFFF, INT32_MIN}) {
      std::filesystem::copy_file(sound, work, std::filesystem::copy_options::overwrite_existing);
      PatchValue<int32_t>(work, record + at, v);
      try {
        UseAll(work);
      } catch (const Exception&) {
      }
    }
  }
}

}  // namespace
}  // namespace zk
