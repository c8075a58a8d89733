// Memory that runs out on demand. A test program that uses this links its own
// global operator new and delete (malloc and free underneath); while a thread
// has armed an OutOfMemoryScope, every operator new on that thread throws
// std::bad_alloc, as when the heap is exhausted. Other threads allocate as
// usual.
//
// Threads: a scope arms and disarms the thread that calls Arm.
#ifndef VELQA_TESTS_SUPPORT_OUT_OF_MEMORY_H_
#define VELQA_TESTS_SUPPORT_OUT_OF_MEMORY_H_

namespace velqa::testing {

class OutOfMemoryScope {
 public:
  OutOfMemoryScope() = default;
  // Disarms: memory is back when the scope ends, whatever happened inside.
  ~OutOfMemoryScope();
  OutOfMemoryScope(const OutOfMemoryScope&) = delete;
  OutOfMemoryScope& operator=(const OutOfMemoryScope&) = delete;

  // From here on every operator new on the calling thread fails.
  void Arm();
};

}  // namespace velqa::testing

#endif  // VELQA_TESTS_SUPPORT_OUT_OF_MEMORY_H_
