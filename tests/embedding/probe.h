// Records its own destruction in the fake's event log, so tests can see when
// a captured object (handler, reply, callback) is freed relative to the
// embedding calls.
#ifndef VELQA_TESTS_EMBEDDING_PROBE_H_
#define VELQA_TESTS_EMBEDDING_PROBE_H_

#include <memory>
#include <string>
#include <utility>

#include "tests/embedding/fake_embedding.h"

namespace velqa::testing {

class Probe {
 public:
  explicit Probe(std::string name) : name_(std::move(name)) {}
  ~Probe() { FakeEmbedding::Get().Record(name_ + " freed"); }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

 private:
  std::string name_;
};

inline std::shared_ptr<Probe> MakeProbe(std::string name) {
  return std::make_shared<Probe>(std::move(name));
}

}  // namespace velqa::testing

#endif  // VELQA_TESTS_EMBEDDING_PROBE_H_
