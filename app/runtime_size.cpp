// Keeps the C++ runtime's reporting machinery out of the program, about a third of its size:
// the default terminate handler prints a demangled type name (the whole demangler), and the
// library's throw helpers build message strings in the old string ABI. This program has no
// console to print to and no use for those messages: running out of memory still throws
// std::bad_alloc, and the helpers below, which signal programming errors, end the program.
#include <cstdlib>
#include <functional>
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_function_call() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
} // namespace std
