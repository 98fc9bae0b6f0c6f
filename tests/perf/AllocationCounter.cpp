// The replaced global allocation functions of the allocation test executable.
#include "AllocationCounter.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace ravitor::testing {
namespace {

thread_local bool counting = false;
long counted = 0;

void* Allocate(std::size_t size) {
  if (counting) ++counted;
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  if (counting) ++counted;
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

// Each crossing saves the state it interrupts, on this thread. A fixed
// stack: growing one would allocate from inside the allocator.
constexpr int kDeepestCrossing = 64;
thread_local bool interrupted[kDeepestCrossing];
thread_local int crossings = 0;

[[noreturn]] void Abandon(const char* why) {
  std::fprintf(stderr, "AllocationCounter: %s\n", why);
  std::abort();
}

class CountingObserver final : public SeamObserver {
 public:
  void Enter(Side side) override {
    if (crossings == kDeepestCrossing) Abandon("crossings of the seam nest too deep");
    interrupted[crossings++] = counting;
    counting = side == Side::Program;
  }
  void Leave(Side) override {
    if (crossings == 0) Abandon("the seam was left more often than entered");
    counting = interrupted[--crossings];
  }
};

CountingObserver observer;

}  // namespace

long CountedAllocations() { return counted; }

CoreScope::CoreScope() : outer_(counting) { counting = true; }
CoreScope::~CoreScope() { counting = outer_; }

SeamObserver& PlatformCallsUncounted() { return observer; }

}  // namespace ravitor::testing

using ravitor::testing::Allocate;
using ravitor::testing::AllocateAligned;

void* operator new(std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* memory = AllocateAligned(size, alignment)) return memory;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
  if (void* memory = AllocateAligned(size, alignment)) return memory;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(memory);
}
