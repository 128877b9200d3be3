// The program is built without exceptions. The only ones the standard library
// could raise are for lengths no string here can reach and for running out of
// memory; for both, ending the process at once is the honest outcome, and
// defining these here keeps libstdc++'s exception machinery (unwinder, thread
// library, demangler: some 200 KiB) out of the executable.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void failFast() {
  // Ends the process without running anything else, with a code that says why.
  ExitProcess(static_cast<UINT>(STATUS_NO_MEMORY));
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  failFast();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

// libstdc++ calls these where it would throw.
namespace std {
void __throw_bad_alloc() { failFast(); }
void __throw_bad_array_new_length() { failFast(); }
void __throw_length_error(const char*) { failFast(); }
void __throw_logic_error(const char*) { failFast(); }
void __throw_out_of_range(const char*) { failFast(); }
void __throw_out_of_range_fmt(const char*, ...) { failFast(); }
void __throw_invalid_argument(const char*) { failFast(); }
void __throw_bad_function_call() { failFast(); }
}  // namespace std
