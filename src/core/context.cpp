#include "core/context.hpp"

#include <cstdarg>
#include <algorithm>
#include <cstring>

#include "core/errors.hpp"
#include "core/binoml.hpp"

namespace occusim {

void input_error(const char *fmt, ...) {
    char msg[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    throw InputError(msg);
}

Context::Context() {
    auto vec = [](Vec &v) { v.assign(kStorage, 0.0); };
    for (Vec *v : {&gam, &eps, &b, &p10, &pi, &th0pi, &epsAb, &epsAB, &gamAb, &gamAB, &pa, &pA, &pB, &rA,
                   &rBA, &rBa, &rB, &dlta, &psiB})
        vec(*v);
    gamB.assign(kBlockStorage, 0.0);
    epsB.assign(kBlockStorage, 0.0);
    for (IVec *v : {&SRVYPERSEASN, &Season, &newSeason, &newSurvey, &Survey}) v->assign(kStorage, 0);
    for (int i = 0; i < 2; i++) {
        vec(theta[i]);
        vec(thA[i]);
        vec(gameps[i]);
        for (int j = 0; j < 2; j++) vec(thB[i][j]);
    }
    coef.assign(1, 1.0);
}

// Read by const contexts for tables never written; shared, never changed.
const Vec &StateTables::zeros() {
    static const Vec z(kStorage, 0.0);
    return z;
}

Context::~Context() {
    discard_streams();
}

void Context::set_vector_defaults() {
    // The first kVecLen entries of each vector; whole vectors at a time.
    auto fill = [](auto &v, auto value) { std::fill_n(v.begin(), kVecLen, value); };
    for (IVec *v : {&newSeason, &SRVYPERSEASN}) fill(*v, 0);
    for (Vec *v : {&rB, &rBa, &rBA, &rA, &pB, &pA, &b, &p10, &theta[0], &theta[1], &gam, &eps}) fill(*v, 0.0);
    for (Vec *v : {&thA[0], &thA[1], &thB[0][0], &thB[0][1], &thB[1][0], &thB[1][1]}) fill(*v, 1.0);
    for (Vec *v : {&psiB, &dlta, &pa}) fill(*v, -1.0);
}

std::string Context::path(const std::string &name) const {
    if (workdir.empty() || (!name.empty() && name[0] == '/')) return name;
    return workdir + "/" + name;
}

namespace {

// Stream functions over a string of MemoryFiles (writing appends to it) or
// over nothing at all (the null stream).
struct MemoryCursor {
    std::string *text; // nullptr: the null stream
    std::size_t pos = 0;
};

ssize_t memory_read(void *cookie, char *buf, std::size_t size) {
    auto *c = static_cast<MemoryCursor *>(cookie);
    if (!c->text || c->pos >= c->text->size()) return 0;
    std::size_t n = std::min(size, c->text->size() - c->pos);
    std::memcpy(buf, c->text->data() + c->pos, n);
    c->pos += n;
    return static_cast<ssize_t>(n);
}

ssize_t memory_write(void *cookie, const char *buf, std::size_t size) {
    auto *c = static_cast<MemoryCursor *>(cookie);
    if (c->text) c->text->append(buf, size);
    return static_cast<ssize_t>(size);
}

int memory_close(void *cookie) {
    delete static_cast<MemoryCursor *>(cookie);
    return 0;
}

std::FILE *open_cursor(std::string *text, const char *mode) {
    auto *c = new MemoryCursor{text};
    cookie_io_functions_t io{memory_read, memory_write, nullptr, memory_close};
    std::FILE *f = fopencookie(c, mode, io);
    if (!f) delete c;
    return f;
}

} // namespace

std::FILE *open_null_stream() {
    return open_cursor(nullptr, "w");
}

std::FILE *Context::open(const std::string &name, const char *mode) {
    if (!memory && mode[0] != 'w') return std::fopen(path(name).c_str(), mode);
    if (!memory) {
        try {
            return create(name);
        } catch (const FileError &e) {
            std::fflush(out);
            std::fprintf(err, "occusim8: %s\n", e.what());
            return nullptr;
        }
    }
    if (mode[0] == 'r') {
        auto it = memory->files.find(name);
        return it == memory->files.end() ? nullptr : open_cursor(&it->second, "r");
    }
    std::string &text = memory->files[name];
    if (mode[0] == 'w') text.clear();
    return open_cursor(&text, "w");
}

std::FILE *Context::create(const std::string &name) {
    if (memory) return open(name, "w");
    auto file = std::make_unique<OutputFile>();
    file->create_or_throw(path(name), name);
    writing.push_back(std::move(file));
    return writing.back()->stream();
}

void Context::write_file(const std::string &name, std::string_view text) {
    std::FILE *f = create(name);
    std::fwrite(text.data(), 1, text.size(), f);
    close(f);
}

void Context::write_error_file(const char *fmt, ...) {
    fp3 = open("occusim.err", "w");
    if (!fp3) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(fp3, fmt, ap);
    va_end(ap);
    close(fp3);
}

void Context::close(std::FILE *&f) {
    if (!f) return;
    std::FILE *stream = f;
    f = nullptr;
    auto it = std::find_if(writing.begin(), writing.end(), [&](const auto &w) { return w->stream() == stream; });
    if (it == writing.end()) {
        std::fclose(stream);
        return;
    }
    std::unique_ptr<OutputFile> file = std::move(*it);
    writing.erase(it);
    try {
        file->commit();
    } catch (const FileError &) {
        // A history file that failed is not complete, whatever its writer said.
        if (&f == &fp2) history_written = false;
        throw;
    }
}

void Context::close_streams() {
    for (std::FILE **f : {&fp, &fp2, &fp3}) close(*f);
}

void Context::discard_streams() noexcept {
    for (std::FILE **f : {&fp, &fp2, &fp3}) {
        const bool output =
            std::any_of(writing.begin(), writing.end(), [&](const auto &w) { return w->stream() == *f; });
        if (*f && !output) std::fclose(*f);
        *f = nullptr;
    }
    writing.clear(); // each removes its unfinished file
}

void Context::simulate_instead(bool by_site) {
    // Stochastic runs and the replicates of a batch were seeded before the model began.
    if (determ == 0 || replicate > 0) return;
    simulated_instead = true;
    by_site_instead = by_site;
    if (seed_value >= 0) {
        rng.SelectStream(0);
        rng.PlantSeeds(seed_value);
        return;
    }
    if (advise)
        std::fprintf(err,
                     "occusim8: warning: this run draws from the generator's default state (seed %lld); give "
                     "SEED=n to choose another\n",
                     static_cast<long long>(Rngs::DEFAULT));
}

double Context::binoml(double n, double p) {
    return occusim::binoml(rng, determ, n, p);
}

} // namespace occusim
