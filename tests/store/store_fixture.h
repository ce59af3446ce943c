// A fresh in-memory database per test, with the store's messages captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/database.h"
#include "store/messages.h"
#include "store/position_index.h"

namespace vez::testing {

class CapturedMessages final : public UserMessages {
public:
    void showMessage(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setStoreMessages(&messages);
        // Every graph operation keeps a built index up to date: build it at once, so that
        // the tests go through that as well as through the chains.
        setPositionIndexBuilding(IndexBuilding::OnFirstLookup);
        db = createInMemory();
        ASSERT_NE(db, nullptr);
    }
    void TearDown() override
    {
        closeDatabase(db);
        setPositionIndexBuilding(IndexBuilding::WhenWorthIt);
        setStoreMessages(nullptr);
    }

    CapturedMessages messages;
    DatabaseHeader* db = nullptr;
};

} // namespace vez::testing
