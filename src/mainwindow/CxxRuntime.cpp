// What orvelle.exe takes instead of two parts of the C++ runtime, which
// would bring about 90 KB for nothing the program uses: the terminate
// handler's demangler, and the library's own exception classes with the
// reference-counted strings they are built on.  (Not linkable beside
// GoogleTest, which brings the library's own.)
#include "common/Failure.h"
#include "common/Text.h"

#include <cstdarg>
#include <cstdlib>
#include <new>
#include <string>

namespace __gnu_cxx {
// Called when an exception escapes (none may: every window procedure and
// callback catches).  The runtime's own prints the exception's demangled
// type to a console this program does not have.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The containers' and strings' failures (a length beyond max_size, a
// position out of range): the same description a std::exception's what()
// gives, which is what a report shows of either.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_logic_error(const char* what) { throw Failure::Text(FromUtf8(what)); }
void __throw_length_error(const char* what) { throw Failure::Text(FromUtf8(what)); }
void __throw_invalid_argument(const char* what) { throw Failure::Text(FromUtf8(what)); }
void __throw_out_of_range(const char* what) { throw Failure::Text(FromUtf8(what)); }
// The library's formats hold only %s and %zu.
void __throw_out_of_range_fmt(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    for (const char* c = format; *c; ++c) {
        if (c[0] == '%' && c[1] == 's') {
            text += va_arg(args, const char*);
            ++c;
        } else if (c[0] == '%' && c[1] == 'z' && c[2] == 'u') {
            text += std::to_string(va_arg(args, size_t));
            c += 2;
        } else {
            text += *c;
        }
    }
    va_end(args);
    throw Failure::Text(FromUtf8(text));
}
}  // namespace std
