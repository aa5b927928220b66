// A platform table replaced for one scope: the real one is back when the
// scope ends, however it ends.
#pragma once

#include "common/Seam.h"

namespace vandrel::test {

template <typename Table> class ScopedSeam {
public:
    ScopedSeam(Seam<Table>& seam, const Table& replacement) : seam_(seam) {
        seam_.Replace(&replacement);
    }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;
    ~ScopedSeam() { seam_.Replace(nullptr); }

private:
    Seam<Table>& seam_;
};

} // namespace vandrel::test
