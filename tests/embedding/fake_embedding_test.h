// The fixture of the tests that run against the fake embedding: every test
// starts with a fresh, running engine and nothing recorded.
//
// Threads: the test thread.
#ifndef VELQA_TESTS_EMBEDDING_FAKE_EMBEDDING_TEST_H_
#define VELQA_TESTS_EMBEDDING_FAKE_EMBEDDING_TEST_H_

#include <gtest/gtest.h>

#include "tests/embedding/fake_embedding.h"

namespace velqa::testing {

class FakeEmbeddingTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_.Reset(); }

  FakeEmbedding& fake_ = FakeEmbedding::Get();
};

}  // namespace velqa::testing

#endif  // VELQA_TESTS_EMBEDDING_FAKE_EMBEDDING_TEST_H_
