// A console stream whose text is kept in memory: what a host that embeds the
// library (the R package, the page) hands a run as ctx.out or ctx.err, and
// reads back once the run has ended.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace occusim {

struct CapturedStream {
    char *data = nullptr;
    std::size_t size = 0;
    std::FILE *stream = open_memstream(&data, &size);

    CapturedStream() = default;
    CapturedStream(const CapturedStream &) = delete;
    CapturedStream &operator=(const CapturedStream &) = delete;
    ~CapturedStream() {
        if (stream) std::fclose(stream);
        std::free(data);
    }
    // Closes the stream and returns all that was written to it.
    std::string take() {
        if (stream) std::fclose(stream);
        stream = nullptr;
        return data ? std::string(data, size) : std::string();
    }
};

} // namespace occusim
