#include "models/multistate/ms_split.hpp"

namespace occusim {

double OutcomeSplit::next(double p) {
    double m;
    if (ctx_.determ != 0) {
        m = ctx_.binoml(x_, p);
    } else {
        const double room = 1.0 - p_before_;
        double pc = room > 0 ? p / room : 0.0;
        if (!(pc > 0)) pc = 0.0;
        if (pc > 1) pc = 1.0;
        m = ctx_.binoml(left_, pc);
    }
    p_before_ += p;
    taken_ += m;
    left_ -= m;
    return m;
}

} // namespace occusim
