// libFuzzer entry point: every input is one bounded command line run in
// process in a scratch directory, console discarded, standard input empty.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/harness.hpp"

namespace {

struct Scratch {
    std::string dir;
    std::FILE *console = nullptr;
    std::FILE *empty_in = nullptr;
    Scratch() {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/occusim-fuzz-XXXXXX";
        if (char *made = mkdtemp(tmpl.data())) dir = made;
        console = std::fopen("/dev/null", "w");
        empty_in = std::fopen("/dev/null", "r");
        if (dir.empty() || !console || !empty_in) std::abort();
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static Scratch scratch;
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    occusim::Args args = occusim::fuzzing::bounded(occusim::fuzzing::split_input(bytes));
    std::rewind(scratch.empty_in);
    occusim::fuzzing::run_in(scratch.dir, args, scratch.console, scratch.empty_in);
    return 0;
}
