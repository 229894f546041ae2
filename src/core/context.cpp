#include "core/context.hpp"

#include <cstdarg>

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
    for (int i = 0; i < kMaxStates; i++)
        for (int j = 0; j < kMaxStates; j++) {
            vec(psiMS[i][j]);
            vec(pMS[i][j]);
        }
    coef.assign(1, 1.0);
}

Context::~Context() {
    close_streams();
}

void Context::set_vector_defaults() {
    for (int k = 0; k < kVecLen; k++) {
        newSeason[k] = SRVYPERSEASN[k] = 0;
        rB[k] = rBa[k] = rBA[k] = rA[k] = pB[k] = pA[k] = b[k] = p10[k] = 0;
        theta[0][k] = theta[1][k] = gam[k] = eps[k] = 0;
        thA[0][k] = thA[1][k] = 1;
        thB[0][0][k] = thB[0][1][k] = thB[1][0][k] = thB[1][1][k] = 1;
        psiB[k] = dlta[k] = pa[k] = -1;
    }
}

std::string Context::path(const std::string &name) const {
    if (workdir.empty() || (!name.empty() && name[0] == '/')) return name;
    return workdir + "/" + name;
}

std::FILE *Context::open(const std::string &name, const char *mode) const {
    return std::fopen(path(name).c_str(), mode);
}

void Context::write_error_file(const char *fmt, ...) {
    fp3 = open("occusim.err", "w");
    if (!fp3) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(fp3, fmt, ap);
    va_end(ap);
    std::fclose(fp3);
    fp3 = nullptr;
}

void Context::close_streams() {
    for (std::FILE **f : {&fp, &fp2, &fp3}) {
        if (*f) std::fclose(*f);
        *f = nullptr;
    }
}

double Context::binoml(double n, double p) {
    return occusim::binoml(rng, determ, n, p);
}

} // namespace occusim
