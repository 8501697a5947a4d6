// The C++ runtime's default terminate handler prints a demangled type name, which links in the
// whole demangler (about a third of the program). This program has no console to print to, so
// termination is a plain abort.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}
