// A fresh, empty record store for each test, on the backend the test is run
// with (both where the statements differ between them).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "station/record_store.h"
#include "tests/station/test_database.h"

namespace orvane::station {

class StoreOnEachBackend : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (const std::string missing = BackendMissing(GetParam()); !missing.empty()) GTEST_SKIP() << missing;
    database_ = std::make_unique<TestDatabase>(GetParam());
    ASSERT_FALSE(database_->location().empty()) << database_->error();
    auto opened = RecordStore::Open(database_->location(), StoreMode::kCreate);
    ASSERT_TRUE(opened) << opened.error;
    store_ = std::move(*opened.value);
  }

  std::unique_ptr<TestDatabase> database_;
  std::unique_ptr<RecordStore> store_;
};

}  // namespace orvane::station
