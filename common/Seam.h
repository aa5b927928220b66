// The one way a subsystem's platform calls can be replaced: the subsystem
// reaches them through a table held by a Seam, which is the real table
// unless a test has put another one in (tests/support/ScopedSeam.h does,
// for one scope, and puts the real one back on every path).
#pragma once

namespace vandrel {

template <typename Table> class Seam {
public:
    explicit Seam(const Table& real) noexcept : real_(real), current_(&real) {}
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    const Table& operator*() const noexcept { return *current_; }
    const Table* operator->() const noexcept { return current_; }
    const Table& real() const noexcept { return real_; }
    // nullptr puts the real table back.
    void Replace(const Table* table) noexcept { current_ = table ? table : &real_; }

private:
    const Table& real_;
    const Table* current_;
};

} // namespace vandrel
