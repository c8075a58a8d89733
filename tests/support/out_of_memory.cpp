#include "tests/support/out_of_memory.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace velqa::testing {
namespace {

// Trivially initialised, so reading it needs no allocation of its own.
thread_local bool memory_exhausted = false;

void* AllocateOrNull(std::size_t size) noexcept {
  if (memory_exhausted) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

void* Allocate(std::size_t size) {
  if (void* memory = AllocateOrNull(size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

OutOfMemoryScope::~OutOfMemoryScope() { memory_exhausted = false; }

void OutOfMemoryScope::Arm() { memory_exhausted = true; }

}  // namespace velqa::testing

// Every form a sanitizer runtime would otherwise provide, so that what is
// allocated here is always freed here (aligned forms are left alone: they
// come and go together in the runtime).
void* operator new(std::size_t size) { return velqa::testing::Allocate(size); }
void* operator new[](std::size_t size) { return velqa::testing::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return velqa::testing::AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return velqa::testing::AllocateOrNull(size);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
