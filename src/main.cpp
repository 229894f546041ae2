// occusim8: simulates detection-history data for occupancy models and writes
// them as a history file. All the work is done by the library.
#include "cli/run.hpp"

int main(int argc, char **argv) {
    occusim::Context ctx;
    occusim::Args args(argv, argv + argc);
    return occusim::execute(ctx, args);
}
