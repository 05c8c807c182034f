#include "station/directory_check.h"

#include <gtest/gtest.h>


namespace orvane::station {
namespace {

const ListedFile kA{"a.yp1", 2, 10};
const ListedFile kB{"b.yp1", 2, 20};
const ListedFile kNew{"new.yp1", 2, 33};

Listing Of(std::vector<ListedFile> files) { return {static_cast<int>(files.size()), std::move(files)}; }

TEST(DirectoryCheck, PutNeedsExactlyTheOneExpectedFileMore) {
  const DirectoryCheck check = DirectoryCheck::ForPut(Of({kA, kB}), kNew);
  struct Case {
    const char* what;
    Listing after;
    const char* failure;  // a part of the message, or nullptr for success
  };
  const Case cases[] = {
      {"appended", Of({kA, kB, kNew}), nullptr},
      {"stored in between", Of({kA, kNew, kB}), nullptr},
      {"ignored by a full table", Of({kA, kB}), "did not store \"new.yp1\" of 33 bytes"},
      {"created twice", Of({kA, kB, kNew, kNew}), "4 files instead of 3"},
      {"stored with another size", Of({kA, kB, {"new.yp1", kNew.type, 32}}), "is \"new.yp1\" of 32 bytes, not"},
      {"another file replaced", Of({kA, kNew, kNew}), "does not show"},
      {"a row left empty", Of({kA, kB, {}}), "is \"\" of 0 bytes"},
  };
  for (const Case& c : cases) {
    const auto failure = check.Failure(c.after);
    if (!c.failure) {
      EXPECT_FALSE(failure) << c.what << ": " << *failure;
    } else {
      ASSERT_TRUE(failure) << c.what;
      EXPECT_NE(failure->find(c.failure), std::string::npos) << c.what << ": " << *failure;
    }
  }
}

TEST(DirectoryCheck, DeleteNeedsTheNumberedFileGoneAndEraseAnEmptyDirectory) {
  const DirectoryCheck delete_second = DirectoryCheck::ForDelete(Of({kA, kB, kA}), 2);
  EXPECT_FALSE(delete_second.Failure(Of({kA, kA})));
  EXPECT_NE(delete_second.Failure(Of({kA, kB, kA}))->find("\"b.yp1\" of 20 bytes was not deleted"),
            std::string::npos);
  EXPECT_NE(delete_second.Failure(Of({kA, kB}))->find("another file"), std::string::npos);
  EXPECT_NE(delete_second.Failure(Of({kA}))->find("1 files instead of 2"), std::string::npos);
  // Two equal files: either of them may be the one that went.
  EXPECT_FALSE(DirectoryCheck::ForDelete(Of({kA, kA}), 1).Failure(Of({kA})));

  EXPECT_FALSE(DirectoryCheck::ForErase().Failure(Of({})));
  EXPECT_EQ(DirectoryCheck::ForErase().Failure(Of({kA})), "the console still shows 1 file after erasing all");
}

TEST(DirectoryCheck, ListingKeepsEmptyRowsSoNumbersStayInPlace) {
  device::Directory directory;
  directory.files = {std::nullopt, device::FileRecord{2, "x", 0x8000, 1500}};
  const Listing listing = ListingOf(directory);
  EXPECT_EQ(listing.count, 2);
  ASSERT_EQ(listing.files.size(), 2u);
  EXPECT_EQ(listing.files[0], ListedFile{});
  EXPECT_EQ(listing.files[1], (ListedFile{"x", 0x8000, 1500}));
}

}  // namespace
}  // namespace orvane::station
