// The errors the program raises itself.
//
// The rule: an error passes, unhandled, to the outermost handler (start-up,
// or the main window's loop for a click handler), which shows what() in the
// error box and ends the process. Every error is a vandrel::Error, named
// ...Error, and carries a fixed text for that box: a Chinese string literal
// in UTF-8, since the box is Chinese like all of the program's text: the standard library's
// text-carrying errors (logic_error, runtime_error and their kin) would link its whole std::string
// machinery into the program for a message. A kind that a caller may want to tell apart is a
// subclass with its own text. (common/LibraryThrows.cpp replaces the standard library's own error
// helpers on the same grounds.)
#pragma once

#include <exception>

namespace vandrel {

class Error : public std::exception {
public:
    explicit Error(const char* text) noexcept : text_(text) {}
    const char* what() const noexcept override { return text_; }

private:
    const char* text_;
};

// An error kind whose text never varies: one type per text.
template <const char* Text> class FixedError : public Error {
public:
    FixedError() noexcept : Error(Text) {}
};

} // namespace vandrel
