// The standard library's error helpers, replaced for the executable's size.
//
// The library's own helpers build logic_error and its relatives, whose
// constructors take the reference-counted std::string; linking them pulls in
// that whole string class, the narrow string class and <random> (about 90 KB
// of code and unwind tables), because the PE linker keeps every function
// whose unwind table it keeps. The helpers only fire on broken preconditions
// (a string longer than max_size, substr past the end), and the one handler
// that sees them catches std::exception and shows what(): an exception of
// our own that carries the same text behaves the same there.
//
// The default terminate handler demangles the type name of the exception
// before it aborts, which links the demangler and printf (about 60 KB); this
// program shows no console, so it aborts at once.
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LibraryError : public std::exception {
public:
    explicit LibraryError(const char* text) noexcept { Append(text); }
    // The subset of printf the library's messages use: %s, %zu and %%.
    LibraryError(const char* format, va_list args) noexcept {
        for (const char* p = format; p && *p; ++p) {
            if (p[0] == '%' && p[1] == 's') {
                Append(va_arg(args, const char*));
                ++p;
            } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
                AppendNumber(va_arg(args, size_t));
                p += 2;
            } else if (p[0] == '%' && p[1] == '%') {
                AppendChar('%');
                ++p;
            } else {
                AppendChar(*p);
            }
        }
    }
    const char* what() const noexcept override { return text_; }

private:
    void AppendChar(char c) noexcept {
        if (length_ + 1 < sizeof text_) text_[length_++] = c;
        text_[length_] = '\0';
    }
    void Append(const char* text) noexcept {
        for (const char* p = text; p && *p; ++p)
            AppendChar(*p);
    }
    void AppendNumber(size_t value) noexcept {
        char digits[24];
        size_t n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0)
            AppendChar(digits[--n]);
    }

    char text_[256] = {};
    size_t length_ = 0;
};

} // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

namespace std {

void __throw_bad_exception() {
    throw bad_exception();
}
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_bad_cast() {
    throw bad_cast();
}
void __throw_bad_typeid() {
    throw bad_typeid();
}
void __throw_logic_error(const char* text) {
    throw LibraryError(text);
}
void __throw_domain_error(const char* text) {
    throw LibraryError(text);
}
void __throw_invalid_argument(const char* text) {
    throw LibraryError(text);
}
void __throw_length_error(const char* text) {
    throw LibraryError(text);
}
void __throw_out_of_range(const char* text) {
    throw LibraryError(text);
}
void __throw_runtime_error(const char* text) {
    throw LibraryError(text);
}
void __throw_range_error(const char* text) {
    throw LibraryError(text);
}
void __throw_overflow_error(const char* text) {
    throw LibraryError(text);
}
void __throw_underflow_error(const char* text) {
    throw LibraryError(text);
}
void __throw_out_of_range_fmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LibraryError error(format, args);
    va_end(args);
    throw error;
}

} // namespace std
